#include "console/tabs/sessions_tab.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include <cstring>

#include "console/core/desktop_layer.h"
#include "console/tabs/grid_view.h"
#include "console/tabs/partner_menu.h"

namespace veltris::console {

SessionsTab::SessionsTab(AgentSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("tabSessions");
  fraOptions_ = optionsFrame(this);
  optTotals_ = new QRadioButton(tr("Totals"), fraOptions_);
  optTotals_->setObjectName("optTotals");
  optTotals_->setToolTip(tr("Display Totals"));
  optTotals_->setChecked(true);
  optCounter_ = new QRadioButton(tr("Count"), fraOptions_);
  optCounter_->setObjectName("optCounter");
  optCounter_->setToolTip(tr("Display Counters Since Last Reset"));
  optDelta_ = new QRadioButton(tr("Delta"), fraOptions_);
  optDelta_->setObjectName("optDelta");
  optDelta_->setToolTip(tr("Display difference between polls"));
  btnClear_ = new QPushButton(tr("&Clear"), fraOptions_);
  btnClear_->setObjectName("btnClear");
  btnClear_->setToolTip(tr("Reset Counters"));
  for (QWidget* w : std::initializer_list<QWidget*>{optTotals_, optCounter_, optDelta_, btnClear_})
    fraOptions_->layout()->addWidget(w);
  static_cast<QHBoxLayout*>(fraOptions_->layout())->addStretch();
  lblTitle_ = titleLabel(tr("Session Partner Statistics"), this);
  gridSess_ = makeGrid("gridSess", &model_, this);
  for (int c = SessionsModel::kVisibleColumns; c < SessionsModel::kColumns; ++c) gridSess_->setColumnHidden(c, true);
  for (int c = SessionsModel::kFirstCounterColumn; c < SessionsModel::kVisibleColumns; ++c) gridSess_->setColumnWidth(c, 84);
  stackTab(this, fraOptions_, lblTitle_, gridSess_);

  connect(optTotals_, &QRadioButton::toggled, this, [this](bool on) { if (on) model_.setMode(CounterMode::Totals); });
  connect(optCounter_, &QRadioButton::toggled, this, [this](bool on) { if (on) model_.setMode(CounterMode::Count); });
  connect(optDelta_, &QRadioButton::toggled, this, [this](bool on) { if (on) model_.setMode(CounterMode::Delta); });
  connect(btnClear_, &QPushButton::clicked, this, &SessionsTab::clearRequested);
  sortOnHeaderClick(gridSess_, &SessionsModel::sortError, [this](int column) { model_.sort(column); });
  QHeaderView* header = gridSess_->horizontalHeader();
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, &SessionsTab::showCounterMenu);

  menu_ = new PartnerMenu("mnuPopupStats", true, this);
  connect(gridSess_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { menu_->popupFor(gridSess_, at); });
  connect(menu_, &PartnerMenu::detailsRequested, this, &SessionsTab::detailsRequested);
  connect(menu_, &PartnerMenu::commandRequested, this, &SessionsTab::commandRequested);
  connect(menu_, &PartnerMenu::consoleRequested, this, &SessionsTab::consoleRequested);
}

// The counter columns shown, chosen from the header's menu and kept in the settings.
void SessionsTab::showCounterMenu(const QPoint& at) {
  QMenu menu;
  for (int c = SessionsModel::kFirstCounterColumn; c < SessionsModel::kVisibleColumns; ++c) {
    QAction* shown = menu.addAction(model_.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
    shown->setCheckable(true);
    shown->setChecked(!gridSess_->isColumnHidden(c));
    connect(shown, &QAction::toggled, this, [this, c](bool on) { gridSess_->setColumnHidden(c, !on); });
  }
  menu.exec(gridSess_->horizontalHeader()->mapToGlobal(at));
}

bool SessionsTab::counterShown(int counter) const {
  return !gridSess_->isColumnHidden(SessionsModel::kFirstCounterColumn + counter);
}

void SessionsTab::setCounterShown(int counter, bool shown) {
  gridSess_->setColumnHidden(SessionsModel::kFirstCounterColumn + counter, !shown);
}

void SessionsTab::takeStatRecords(const std::vector<PartnerStatRecord>& records, bool historyDay) {
  model_.beginPoll(historyDay);
  for (const PartnerStatRecord& record : records)
    if (std::memcmp(record.tag, kPartnerStatTag, 4) == 0) model_.applyRecord(record);
  model_.endPoll();
  if (historyDay) model_.resort();
}

void SessionsTab::clearRows() { model_.clear(); }

void SessionsTab::setTimeBase(bool realTime, const QString& perText) {
  model_.clear();
  for (QRadioButton* b : {optTotals_, optCounter_, optDelta_}) b->setVisible(realTime);
  if (realTime) {
    optDelta_->setText(tr("Per ") + perText);
    fetchAllPartners();
  } else {
    optTotals_->setChecked(true);
  }
}

void SessionsTab::fetchAllPartners() {
  // The poll asks only for partners newer than the sequence number it last
  // saw: fetch every partner once, so the grid does not wait for each to talk again.
  RequestJob job{"STATS_PRO " + signedText(0),
                 {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                  {{'S', 'T', 'A', 'T'}, sizeof(PartnerStatRecord), ReadStep::WhileTag}},
                 {},
                 session_.view(),
                 {}};
  session_.send(std::move(job), this, [this](const Reply& reply) {
    if (reply.ok) takeStatRecords(reply.records<PartnerStatRecord>(1), false);
  });
}

void SessionsTab::takeBaseline() {
  model_.takeBaseline();
  if (model_.mode() == CounterMode::Count) optCounter_->setChecked(true);
}

void SessionsTab::dropBaseline() {
  model_.dropBaseline();
  optTotals_->setChecked(true);
}

void SessionsTab::shown() { model_.resort(); }

}  // namespace veltris::console
