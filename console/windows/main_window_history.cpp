// MainWindow: the "When" box, real-time and history-day time bases, the
// graph pop-up menu and the history list window.
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLocale>
#include <QMenu>
#include <QRadioButton>
#include <algorithm>

#include "console/core/desktop_layer.h"
#include "desktop/messages.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/history_dialog.h"
#include "console/windows/main_window.h"
#include "console/windows/overview_tab.h"
#include "console/windows/tab_views.h"

namespace veltris::console {
namespace {

struct RealTimeBase {
  const char* entry;
  const char* totalDesc;
  const char* peakDesc;
  const char* lastDesc;
  int intervalMs;
};

constexpr RealTimeBase kRealTime[3] = {
    {"Every 1 Second", "Total/Min", "Peak/Sec", "Last/Sec", 1000},
    {"Every 10 Seconds", "Total/10_Min", "Peak/10_Sec", "Last/10_Sec", 10000},
    {"Every 1 Minute", "Total/Hr", "Peak/Min", "Last/Min", 60000},
};
constexpr int kDaySlots = 145;
constexpr int kMorningSlot = 36;  // 6 a.m.

}  // namespace

QString MainWindow::FmtDate(const QString& yyyymmdd) {
  QDate date = QDate::fromString(yyyymmdd, QStringLiteral("yyyyMMdd"));
  if (!date.isValid()) return yyyymmdd;
  return QLocale::c().toString(date, QStringLiteral("yyyy-MMM-dd ddd"));
}

void MainWindow::fillWhenBox(const std::vector<QString>& days) {
  QComboBox* box = overview_->cmbHistory;
  box->clear();
  for (const RealTimeBase& base : kRealTime) box->addItem(QLatin1String(base.entry));
  std::vector<QString> sorted = days;
  std::sort(sorted.begin(), sorted.end());
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) box->addItem(FmtDate(*it), *it);
}

void MainWindow::Main_ReInit(int iMax, int iBarInt, const QString& totalDesc, const QString& peakDesc,
                             const QString& lastDesc) {
  clearStatus();
  receiveHidden_ = false;
  overview_->setReceiveWarning(false);
  for (TrendGraph* g : overview_->graphs()) g->Init(iMax, iBarInt, totalDesc, peakDesc, lastDesc);
  if (views_ != nullptr) views_->clearForNewTimeBase();
  if (sstMain_->currentIndex() > TabSessions) sstMain_->setCurrentIndex(TabOverview);
}

void MainWindow::whenChosen(int index) {
  QComboBox* box = overview_->cmbHistory;
  if (index >= 0 && index < 3 && box->itemText(index) == QLatin1String(kRealTime[index].entry)) {
    chooseRealTime(index);
    return;
  }
  QString day = box->itemData(index).toString();
  if (index >= 3 && day.size() == 8 && FmtDate(day) == box->itemText(index)) {
    chooseDay(day);
    return;
  }
  showMessage(this, tr("ERROR - unknown interval"));
}

void MainWindow::chooseRealTime(int row) {
  const RealTimeBase& base = kRealTime[row];
  connection_->setView(View::RealTime);
  Main_ReInit(60, 10, QLatin1String(base.totalDesc), QLatin1String(base.peakDesc), QLatin1String(base.lastDesc));
  overview_->setRealTime(true);
  if (views_ != nullptr) views_->setTimeBase(true, QString::fromLatin1(base.entry).mid(6));
  pollRequest_ = QStringLiteral("STATS_PRO ");
  timerPoll_.setInterval(base.intervalMs);
  timerPoll_.start();
}

void MainWindow::chooseDay(const QString& day) {
  timerPoll_.stop();
  sYYYYMMDD_ = day;
  const bool twelveHours = overview_->optHistoryGraph12->isChecked();
  connection_->setView(View::Day, day);
  Main_ReInit(twelveHours ? 72 : 144, 6, QStringLiteral("Total/Day"), QStringLiteral("Peak/10_Mins"), QString());
  overview_->setRealTime(false);
  if (views_ != nullptr) views_->setTimeBase(false, QString());
  pollRequest_ = QStringLiteral("TPS ") + day;
  RequestJob job{QStringLiteral("TPT ") + day,
                 {{{'T', 'P', 'T', ' '}, sizeof(PeriodTotalsRecord), ReadStep::WhileTag}},
                 {},
                 connection_->view(),
                 {}};
  connection_->send(std::move(job), this,
                    [this, twelveHours](const Reply& reply) { onDayTotals(reply, twelveHours); });
}

void MainWindow::onDayTotals(const Reply& reply, bool twelveHours) {
  if (!reply.ok) {
    showMessage(this, tr("Request for History failed"));
    return;
  }
  std::vector<std::vector<float>> series(8, std::vector<float>(kDaySlots, 0.0f));
  for (const PeriodTotalsRecord& r : reply.records<PeriodTotalsRecord>(0)) {
    uint32_t slot = r.slot.get();
    if (slot >= kDaySlots) continue;  // not a slot of the day
    const float values[8] = {r.bytesSent.get(),
                             static_cast<float>(r.framesSent.get()),
                             static_cast<float>(r.broadcastsSent.get()),
                             static_cast<float>(r.errorsSent.get()),
                             r.bytesReceived.get(),
                             static_cast<float>(r.framesReceived.get()),
                             static_cast<float>(r.broadcastsReceived.get()),
                             static_cast<float>(r.errorsReceived.get())};
    for (int g = 0; g < 8; ++g) series[g][slot] += values[g];
  }
  for (int g = 0; g < 8; ++g) {
    auto first = series[g].begin() + (twelveHours ? kMorningSlot : 0);
    overview_->graph(g)->NewArray(std::vector<float>(first, first + (twelveHours ? 72 : 144)));
  }
  pollOnce();  // the day's partners, once
}

void MainWindow::returnToRealTime() {
  overview_->cmbHistory->setCurrentIndex(0);
  whenChosen(0);
}

void MainWindow::showValues(bool shown) {
  overview_->chkShowValues->setChecked(shown);
  for (TrendGraph* g : overview_->graphs()) g->setPicValuesVisible(shown);
}

namespace {
// The one tab a graph's menu offers: broadcasts, errors or sessions.
int graphTab(int graph) {
  if (graph == OverviewTab::PktsSentBC || graph == OverviewTab::PktsRecvBC) return MainWindow::TabBroadcasts;
  if (graph == OverviewTab::PktsSentRE || graph == OverviewTab::PktsRecvRE) return MainWindow::TabErrors;
  return MainWindow::TabSessions;
}
}  // namespace

void MainWindow::openGraphTab(int graph) {
  int tab = graphTab(graph);
  emit tabRequested(tab, graph == OverviewTab::PktsSentBC);
  sstMain_->setCurrentIndex(tab);
}

void MainWindow::showGraphMenu(int graph) {
  popupGraph_ = graph;
  mnuPopupOverview->clear();
  static const char* kTabItems[] = {"", "Sessions", "Broadcasts", "Errors"};
  mnuPopupOverview->addAction(QLatin1String(kTabItems[graphTab(graph)]), this,
                              [this, graph] { openGraphTab(graph); });
  bool shown = overview_->chkShowValues->isChecked();
  mnuPopupOverview->addAction(shown ? tr("Hide Values") : tr("Show Values"), this,
                              [this, shown] { showValues(!shown); });
  mnuPopupOverview->addSeparator();
  mnuPopupOverview->addAction(tr("History"), this, &MainWindow::showHistoryList);
  mnuPopupOverview->addAction(tr("Realtime"), this, &MainWindow::returnToRealTime);
  mnuPopupOverview->popup(QCursor::pos());
}

void MainWindow::showHistoryList() {
  if (history_ == nullptr) {
    history_ = new HistoryDialog(this);
    connect(history_, &HistoryDialog::daySelected, this, [this](int row) {
      overview_->cmbHistory->setCurrentIndex(row + 3);
      whenChosen(row + 3);
    });
    connect(history_, &HistoryDialog::realTimeChosen, this, &MainWindow::returnToRealTime);
  }
  QStringList days, keys;
  QComboBox* box = overview_->cmbHistory;
  for (int i = 3; i < box->count(); ++i) {
    days << box->itemText(i);
    keys << box->itemData(i).toString();
  }
  history_->setWindowFlag(Qt::WindowStaysOnTopHint, (windowFlags() & Qt::WindowStaysOnTopHint) != 0);
  history_->fill(sServerName_, days, keys, box->currentIndex() - 3);
  history_->show();
  history_->raise();
}

}  // namespace veltris::console
