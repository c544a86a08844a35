#include "console/tabs/overview_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/widgets/trend_graph.h"

namespace veltris::console {
namespace {

#define TR_OVERVIEW(text) QT_TRANSLATE_NOOP("veltris::console::OverviewTab", text)
constexpr const char* kTitles[8] = {TR_OVERVIEW("Bytes Sent"), TR_OVERVIEW("Packets Sent"), TR_OVERVIEW("Broadcasts Sent"),
                                    TR_OVERVIEW("Errors Sent"), TR_OVERVIEW("Bytes Recv"),   TR_OVERVIEW("Packets Recv"),
                                    TR_OVERVIEW("Broadcasts Recv"), TR_OVERVIEW("Errors Recv")};
#undef TR_OVERVIEW
// What an entry of the "When" box is, kept in its item data (never read from its text).
constexpr int kWhenKindRole = Qt::UserRole + 1;
constexpr int kWhenDay = 3;  // 0 to 2: the real-time rows
constexpr const char* kNames[8] = {"graphBytesSent", "graphPktsSent", "graphPktsSentBC", "graphPktsSentRE",
                                   "graphBytesRecv", "graphPktsRecv", "graphPktsRecvBC", "graphPktsRecvRE"};

}  // namespace

OverviewTab::OverviewTab(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabOverview"));
  fraOptions_ = new QGroupBox(this);
  fraOptions_->setObjectName(QStringLiteral("fraOptions"));
  optHistoryGraph24_ = new QRadioButton(tr("24 Hours"), fraOptions_);
  optHistoryGraph24_->setObjectName(QStringLiteral("optHistoryGraph24"));
  optHistoryGraph24_->setChecked(true);
  optHistoryGraph12_ = new QRadioButton(tr("12 Hours, 6am to 6pm"), fraOptions_);
  optHistoryGraph12_->setObjectName(QStringLiteral("optHistoryGraph12"));
  chkShowValues_ = new QCheckBox(tr("Show Values"), fraOptions_);
  chkShowValues_->setObjectName(QStringLiteral("chkShowValues"));
  chkShowValues_->setToolTip(tr("Show Graph Values"));
  chkShowValues_->setChecked(true);
  btnRealTime_ = new QPushButton(tr("REAL-TIME"), fraOptions_);
  btnRealTime_->setObjectName(QStringLiteral("btnRealTime"));
  btnRealTime_->setToolTip(tr("History via Calendar"));
  btnHistory_ = new QPushButton(tr("Histor&y"), fraOptions_);
  btnHistory_->setObjectName(QStringLiteral("btnHistory"));
  btnHistory_->setToolTip(tr("History List"));
  cmbHistory_ = new QComboBox(fraOptions_);
  cmbHistory_->setObjectName(QStringLiteral("cmbHistory"));
  cmbHistory_->setToolTip(tr("When - Realtime Timer Interval  OR  History Day"));
  cmbHistory_->setMinimumContentsLength(18);
  btnClear_ = new QPushButton(tr("&Clear"), fraOptions_);
  btnClear_->setObjectName(QStringLiteral("btnClear"));
  btnClear_->setToolTip(tr("Reset Counters"));

  auto* options = new QHBoxLayout(fraOptions_);
  options->setContentsMargins(6, 4, 6, 4);
  options->addWidget(new QLabel(tr("When:"), fraOptions_));
  options->addWidget(cmbHistory_);
  options->addWidget(btnRealTime_);
  options->addWidget(btnHistory_);
  options->addWidget(optHistoryGraph24_);
  options->addWidget(optHistoryGraph12_);
  options->addStretch(1);
  options->addWidget(chkShowValues_);
  options->addWidget(btnClear_);

  fraClientArea_ = new QWidget(this);
  fraClientArea_->setObjectName(QStringLiteral("fraClientArea"));
  auto* grid = new QGridLayout(fraClientArea_);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(4);
  for (int g = 0; g < 8; ++g) {
    graphs_[g] = new TrendGraph(fraClientArea_);
    graphs_[g]->setObjectName(QLatin1String(kNames[g]));
    graphs_[g]->setTitle(tr(kTitles[g]));
    graphs_[g]->setBackColor(Qt::black);
    graphs_[g]->setBarColor(g < 4 ? QColor(0, 255, 0) : QColor(0, 255, 255));
    grid->addWidget(graphs_[g], g / 4, g % 4);
  }
  picWarning_ = new QLabel(fraClientArea_);
  picWarning_->setObjectName(QStringLiteral("picWarning"));
  picWarning_->setAlignment(Qt::AlignCenter);
  picWarning_->setText(QStringLiteral("<b>%1</b><br>%2").arg(
      tr("No traffic received in over 60 seconds"), tr("There may be a physical connection problem or an adapter problem")));
  picWarning_->setStyleSheet(QStringLiteral("QLabel { background: #ffff80; color: #800000; font-size: 14pt; }"));
  picWarning_->hide();
  grid->addWidget(picWarning_, 1, 0, 1, 4);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(fraOptions_);
  layout->addWidget(fraClientArea_, 1);
  setRealTime(true);

  connect(cmbHistory_, qOverload<int>(&QComboBox::activated), this, &OverviewTab::whenChosen);
  connect(btnClear_, &QPushButton::clicked, this, &OverviewTab::clearRequested);
  connect(chkShowValues_, &QCheckBox::toggled, this, &OverviewTab::valuesShownChanged);
  connect(btnHistory_, &QPushButton::clicked, this, &OverviewTab::historyRequested);
  connect(btnRealTime_, &QPushButton::clicked, this, &OverviewTab::realTimeRequested);
  for (QRadioButton* b : {optHistoryGraph24_, optHistoryGraph12_})
    connect(b, &QRadioButton::toggled, this, [this](bool on) { if (on) emit dayViewChanged(); });
  for (int g = 0; g < 8; ++g) {
    connect(graphs_[g], &TrendGraph::rightClicked, this, [this, g] { emit graphRightClicked(g); });
    connect(graphs_[g], &TrendGraph::doubleClicked, this, [this, g] { emit graphDoubleClicked(g); });
  }
}

void OverviewTab::setReceiveWarning(bool shown) {
  for (int g = BytesRecv; g <= PktsRecvRE; ++g) graphs_[g]->setVisible(!shown);
  picWarning_->setVisible(shown);
}

bool OverviewTab::receiveWarningShown() const { return !picWarning_->isHidden(); }

void OverviewTab::setRealTime(bool realTime) {
  btnRealTime_->setVisible(!realTime);
  optHistoryGraph24_->setVisible(!realTime);
  optHistoryGraph12_->setVisible(!realTime);
}

void OverviewTab::setValuesShown(bool shown) {
  chkShowValues_->setChecked(shown);
  for (TrendGraph* g : graphs_) g->setValuesVisible(shown);
}

bool OverviewTab::valuesShown() const { return chkShowValues_->isChecked(); }

bool OverviewTab::twelveHours() const { return optHistoryGraph12_->isChecked(); }

void OverviewTab::fillWhen(const QStringList& realTimeEntries, const std::vector<Day>& days) {
  cmbHistory_->clear();
  for (int row = 0; row < realTimeEntries.size(); ++row) {
    cmbHistory_->addItem(realTimeEntries[row]);
    cmbHistory_->setItemData(row, row, kWhenKindRole);
  }
  for (const Day& day : days) {
    cmbHistory_->addItem(day.text, day.key);
    cmbHistory_->setItemData(cmbHistory_->count() - 1, kWhenDay, kWhenKindRole);
  }
}

int OverviewTab::whenIndex() const { return cmbHistory_->currentIndex(); }

void OverviewTab::setWhenIndex(int index) { cmbHistory_->setCurrentIndex(index); }

int OverviewTab::whenCount() const { return cmbHistory_->count(); }

std::optional<int> OverviewTab::realTimeRow(int index) const {
  bool known = false;
  const int kind = cmbHistory_->itemData(index, kWhenKindRole).toInt(&known);
  if (known && kind >= 0 && kind < kWhenDay) return kind;
  return std::nullopt;
}

QString OverviewTab::dayAt(int index) const {
  bool known = false;
  const int kind = cmbHistory_->itemData(index, kWhenKindRole).toInt(&known);
  const QString day = cmbHistory_->itemData(index).toString();
  return known && kind == kWhenDay && day.size() == 8 ? day : QString();
}

std::vector<OverviewTab::Day> OverviewTab::days() const {
  std::vector<Day> out;
  for (int i = 0; i < cmbHistory_->count(); ++i)
    if (!dayAt(i).isEmpty()) out.push_back({cmbHistory_->itemText(i), dayAt(i)});
  return out;
}

}  // namespace veltris::console
