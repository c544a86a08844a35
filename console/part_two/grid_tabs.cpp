#include "console/part_two/grid_tabs.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QVBoxLayout>

namespace veltris::console {
namespace {

QLabel* titleLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName("lblTitle");
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

QGroupBox* optionsFrame(QWidget* parent) {
  auto* frame = new QGroupBox(parent);
  frame->setObjectName("fraOptions");
  new QHBoxLayout(frame);
  frame->layout()->setContentsMargins(6, 2, 6, 2);
  return frame;
}

void stack(QWidget* tab, QWidget* options, QLabel* title, QTableView* grid) {
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

}  // namespace

QTableView* makeGrid(const char* objectName, QAbstractItemModel* model, QWidget* parent) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(objectName);
  grid->setModel(model);
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

SessionsTab::SessionsTab(QWidget* parent) : QWidget(parent) {
  setObjectName("tabSessions");
  fraOptions = optionsFrame(this);
  optTotals = new QRadioButton("Totals", fraOptions);
  optTotals->setObjectName("optTotals");
  optTotals->setToolTip("Display Totals");
  optTotals->setChecked(true);
  optCounter = new QRadioButton("Count", fraOptions);
  optCounter->setObjectName("optCounter");
  optCounter->setToolTip("Display Counters Since Last Reset");
  optDelta = new QRadioButton("Delta", fraOptions);
  optDelta->setObjectName("optDelta");
  optDelta->setToolTip("Display difference between polls");
  btnClear = new QPushButton("&Clear", fraOptions);
  btnClear->setObjectName("btnClear");
  btnClear->setToolTip("Reset Counters");
  for (QWidget* w : std::initializer_list<QWidget*>{optTotals, optCounter, optDelta, btnClear}) fraOptions->layout()->addWidget(w);
  static_cast<QHBoxLayout*>(fraOptions->layout())->addStretch();
  lblTitle = titleLabel("Session Partner Statistics", this);
  gridSess = makeGrid("gridSess", &model, this);
  for (int c = SessionsModel::kVisibleColumns; c < SessionsModel::kColumns; ++c) gridSess->setColumnHidden(c, true);
  for (int c = SessionsModel::kFirstCounterColumn; c < SessionsModel::kVisibleColumns; ++c) gridSess->setColumnWidth(c, 84);
  stack(this, fraOptions, lblTitle, gridSess);
}

BroadcastsTab::BroadcastsTab(QWidget* parent) : QWidget(parent) {
  setObjectName("tabBroadcasts");
  fraOptions = optionsFrame(this);
  optBcastSent = new QRadioButton(" Broadcasts Sent", fraOptions);
  optBcastSent->setObjectName("optBcastSent");
  optBcastSent->setChecked(true);
  optBroadcasters = new QRadioButton("Summary of Broadcasters", fraOptions);
  optBroadcasters->setObjectName("optBroadcasters");
  chkBcastLowLevelDescr = new QCheckBox("Low Level Description", fraOptions);
  chkBcastLowLevelDescr->setObjectName("chkBcastLowLevelDescr");
  btnBcastRefresh = new QPushButton("&Refresh", fraOptions);
  btnBcastRefresh->setObjectName("btnBcastRefresh");
  btnBcastRefresh->setToolTip("Refresh Broadcast Summary");
  for (QWidget* w : std::initializer_list<QWidget*>{optBcastSent, optBroadcasters, chkBcastLowLevelDescr, btnBcastRefresh})
    fraOptions->layout()->addWidget(w);
  static_cast<QHBoxLayout*>(fraOptions->layout())->addStretch();
  lblTitle = titleLabel("Summary of Broadcasts", this);
  lblTitle->setWordWrap(true);
  gridBcast = makeGrid("gridBcast", &model, this);
  gridBcast->setColumnWidth(BroadcastsModel::kLast15Column, 84);
  gridBcast->setColumnWidth(BroadcastsModel::kLast1Column, 72);
  gridBcast->setColumnWidth(BroadcastsModel::kDescriptionColumn, 330);
  stack(this, fraOptions, lblTitle, gridBcast);
}

PacketsTab::PacketsTab(bool errorsTab, QWidget* parent) : QWidget(parent), errors(errorsTab) {
  setObjectName(errors ? "tabErrors" : "tabDetails");
  fraOptions = optionsFrame(this);
  chkLowLevel = new QCheckBox("Low Level Description", fraOptions);
  chkLowLevel->setObjectName(errors ? "chkErrorsLowLevelDescr" : "chkLowLevelDescr");
  fraOptions->layout()->addWidget(chkLowLevel);
  chkExcludeRecvBC = nullptr;
  if (!errors) {
    chkExcludeRecvBC = new QCheckBox("Exclude Recv Broadcasts (<<)", fraOptions);
    chkExcludeRecvBC->setObjectName("chkExcludeRecvBC");
    chkExcludeRecvBC->setToolTip("Exclude Received Broadcasts");
    fraOptions->layout()->addWidget(chkExcludeRecvBC);
  }
  btnRefresh = new QPushButton("&Refresh", fraOptions);
  btnRefresh->setObjectName(errors ? "btnErrorRefresh" : "btnRefresh");
  btnRefresh->setToolTip(errors ? "Refresh Details for Last 200 Packets" : "Refresh Details for Last 300 Packets");
  btnClear = new QPushButton("&Clear", fraOptions);
  btnClear->setObjectName("btnClear");
  btnClear->setToolTip("Reset Counters");
  fraOptions->layout()->addWidget(btnRefresh);
  fraOptions->layout()->addWidget(btnClear);
  static_cast<QHBoxLayout*>(fraOptions->layout())->addStretch();
  lblTitle = titleLabel(errors ? "Last 200 Error Packets" : "Details of Last 300 Packets", this);
  grid = makeGrid(errors ? "gridErrors" : "gridDetails", &model, this);
  grid->horizontalHeader()->setSectionsClickable(false);
  // Initial widths of the packet columns (twips / 15).
  // Packet numbers run to ten digits.
  grid->setColumnWidth(PacketsModel::kPktColumn, grid->fontMetrics().horizontalAdvance("0000000000") + 12);
  grid->setColumnWidth(PacketsModel::kDirectionColumn, 44);
  grid->setColumnWidth(PacketsModel::kSizeColumn, 44);
  grid->setColumnWidth(PacketsModel::kDescriptionColumn, 333);
  grid->setColumnWidth(PacketsModel::kLowLevelColumn, 333);
  grid->setColumnWidth(PacketsModel::kDestinationColumn, 133);
  grid->setColumnWidth(PacketsModel::kErrorTypeColumn, 133);
  showLowLevel(false);
  stack(this, fraOptions, lblTitle, grid);
}

void PacketsTab::showLowLevel(bool lowLevel) {
  grid->setColumnHidden(PacketsModel::kDescriptionColumn, lowLevel);
  grid->setColumnHidden(PacketsModel::kLowLevelColumn, !lowLevel);
}

}  // namespace veltris::console
