#include "console/tabs/grid_tabs.h"

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
  optTotals = new QRadioButton(tr("Totals"), fraOptions);
  optTotals->setObjectName("optTotals");
  optTotals->setToolTip(tr("Display Totals"));
  optTotals->setChecked(true);
  optCounter = new QRadioButton(tr("Count"), fraOptions);
  optCounter->setObjectName("optCounter");
  optCounter->setToolTip(tr("Display Counters Since Last Reset"));
  optDelta = new QRadioButton(tr("Delta"), fraOptions);
  optDelta->setObjectName("optDelta");
  optDelta->setToolTip(tr("Display difference between polls"));
  btnClear = new QPushButton(tr("&Clear"), fraOptions);
  btnClear->setObjectName("btnClear");
  btnClear->setToolTip(tr("Reset Counters"));
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
  optBcastSent = new QRadioButton(tr(" Broadcasts Sent"), fraOptions);
  optBcastSent->setObjectName("optBcastSent");
  optBcastSent->setChecked(true);
  optBroadcasters = new QRadioButton(tr("Summary of Broadcasters"), fraOptions);
  optBroadcasters->setObjectName("optBroadcasters");
  chkBcastLowLevelDescr = new QCheckBox(tr("Low Level Description"), fraOptions);
  chkBcastLowLevelDescr->setObjectName("chkBcastLowLevelDescr");
  btnBcastRefresh = new QPushButton(tr("&Refresh"), fraOptions);
  btnBcastRefresh->setObjectName("btnBcastRefresh");
  btnBcastRefresh->setToolTip(tr("Refresh Broadcast Summary"));
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
  chkLowLevel = new QCheckBox(tr("Low Level Description"), fraOptions);
  chkLowLevel->setObjectName(errors ? "chkErrorsLowLevelDescr" : "chkLowLevelDescr");
  fraOptions->layout()->addWidget(chkLowLevel);
  chkExcludeRecvBC = nullptr;
  if (!errors) {
    chkExcludeRecvBC = new QCheckBox(tr("Exclude Recv Broadcasts (<<)"), fraOptions);
    chkExcludeRecvBC->setObjectName("chkExcludeRecvBC");
    chkExcludeRecvBC->setToolTip(tr("Exclude Received Broadcasts"));
    fraOptions->layout()->addWidget(chkExcludeRecvBC);
  }
  btnRefresh = new QPushButton(tr("&Refresh"), fraOptions);
  btnRefresh->setObjectName(errors ? "btnErrorRefresh" : "btnRefresh");
  btnRefresh->setToolTip(errors ? "Refresh Details for Last 200 Packets" : "Refresh Details for Last 300 Packets");
  btnClear = new QPushButton(tr("&Clear"), fraOptions);
  btnClear->setObjectName("btnClear");
  btnClear->setToolTip(tr("Reset Counters"));
  fraOptions->layout()->addWidget(btnRefresh);
  fraOptions->layout()->addWidget(btnClear);
  static_cast<QHBoxLayout*>(fraOptions->layout())->addStretch();
  lblTitle = titleLabel(errors ? "Last 200 Error Packets" : "Details of Last 300 Packets", this);
  grid = makeGrid(errors ? "gridErrors" : "gridDetails", &model, this);
  grid->horizontalHeader()->setSectionsClickable(false);
  // Initial widths of the packet columns (twips / 15).
  grid->setColumnWidth(PacketsModel::kPktColumn, 50);
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
