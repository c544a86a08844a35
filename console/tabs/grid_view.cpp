#include "console/tabs/grid_view.h"

#include <QGroupBox>
#include <QLabel>
#include <QTableView>
#include <memory>

#include "console/models/grid_text.h"
#include "console/tabs/grid_delegate.h"
#include "console/core/desktop_layer.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QVBoxLayout>

namespace veltris::console {

QLabel* titleLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName("lblTitle");
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

QGroupBox* optionsFrame(QWidget* parent, const QString& title) {
  auto* frame = new QGroupBox(title, parent);
  frame->setObjectName("fraOptions");
  new QHBoxLayout(frame);
  frame->layout()->setContentsMargins(6, 2, 6, 2);
  return frame;
}

void stackTab(QWidget* tab, QWidget* options, QLabel* title, QTableView* grid) {
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(options);
  layout->addWidget(title);
  auto* client = new QWidget(tab);
  client->setObjectName("fraClientArea");
  auto* clientLayout = new QVBoxLayout(client);
  clientLayout->setContentsMargins(0, 0, 0, 0);
  clientLayout->addWidget(grid);
  layout->addWidget(client, 1);
}

QTableView* makeGrid(const char* objectName, QAbstractItemModel* model, QWidget* parent) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(objectName);
  grid->setModel(model);
  grid->setItemDelegate(new GridDelegate(grid));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid->setContextMenuPolicy(Qt::CustomContextMenu);
  grid->setWordWrap(false);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
  grid->horizontalHeader()->setSectionsClickable(true);
  grid->horizontalHeader()->setHighlightSections(false);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setColumnWidth(0, 36);
  return grid;
}

QString gridText(const QTableView* grid) {
  const QAbstractItemModel* model = grid->model();
  QList<int> columns;
  for (int c = 0; c < model->columnCount(); ++c)
    if (!grid->isColumnHidden(c)) columns << c;
  QList<int> rows;
  const QModelIndexList selected = grid->selectionModel()->selectedRows();
  if (selected.size() > 1) {
    for (const QModelIndex& i : selected) rows << i.row();
    std::sort(rows.begin(), rows.end());
  } else {
    for (int r = 0; r < model->rowCount(); ++r)
      if (!grid->isRowHidden(r)) rows << r;
  }
  QStringList lines;
  QStringList header;
  for (int c : columns) header << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  lines << header.join('\t');
  for (int r : rows) {
    QStringList cells;
    for (int c : columns) cells << model->index(r, c).data().toString();
    lines << cells.join('\t');
  }
  return lines.join('\n') + '\n';
}

void sortOnHeaderClick(QTableView* grid, std::function<QString(int)> sortError, std::function<void(int)> sort) {
  QHeaderView* header = grid->horizontalHeader();
  header->setSortIndicator(-1, Qt::AscendingOrder);  // none until the first sort
  header->setSortIndicatorShown(true);
  auto sorted = std::make_shared<int>(-1);  // the column the grid stands sorted by
  QObject::connect(header, &QHeaderView::sectionClicked, grid, [grid, header, sortError, sort, sorted](int column) {
    const QString error = sortError(column);
    if (error.isEmpty()) {
      sort(column);
      *sorted = column;
    } else {
      showMessage(grid->window(), error);
    }
    header->setSortIndicator(*sorted, *sorted < kTimeColumn ? Qt::AscendingOrder : Qt::DescendingOrder);
  });
}

}  // namespace veltris::console
