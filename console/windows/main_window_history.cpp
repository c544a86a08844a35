// MainWindow: the "When" box, real-time and history-day time bases, the
// graph pop-up menu and the history list window.
#include <QDate>
#include <QLocale>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

#include "console/core/desktop_layer.h"
#include "desktop/messages.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/history_dialog.h"
#include "console/tabs/overview_tab.h"
#include "console/windows/main_window.h"

namespace veltris::console {
namespace {

struct RealTimeBase {
  const char* entry;
  const char* totalDesc;
  const char* peakDesc;
  const char* lastDesc;
  int intervalMs;
};

#define TR_MAIN(text) QT_TRANSLATE_NOOP("veltris::console::MainWindow", text)
constexpr RealTimeBase kRealTime[3] = {
    {TR_MAIN("Every 1 Second"), TR_MAIN("Total/Min"), TR_MAIN("Peak/Sec"), TR_MAIN("Last/Sec"), 1000},
    {TR_MAIN("Every 10 Seconds"), TR_MAIN("Total/10_Min"), TR_MAIN("Peak/10_Sec"), TR_MAIN("Last/10_Sec"), 10000},
    {TR_MAIN("Every 1 Minute"), TR_MAIN("Total/Hr"), TR_MAIN("Peak/Min"), TR_MAIN("Last/Min"), 60000},
};
// The "Delta" option's caption in real time: "Per " and the entry after "Every ".
constexpr const char* kPerTexts[3] = {TR_MAIN("1 Second"), TR_MAIN("10 Seconds"), TR_MAIN("1 Minute")};
#undef TR_MAIN
constexpr int kDaySlots = 145;
constexpr int kMorningSlot = 36;  // 6 a.m.

}  // namespace

QString MainWindow::FmtDate(const QString& yyyymmdd) {
  QDate date = QDate::fromString(yyyymmdd, QStringLiteral("yyyyMMdd"));
  if (!date.isValid()) return yyyymmdd;
  return QLocale::c().toString(date, QStringLiteral("yyyy-MMM-dd ddd"));
}

void MainWindow::fillWhenBox(const std::vector<QString>& days) {
  QStringList realTime;
  for (const RealTimeBase& base : kRealTime) realTime << tr(base.entry);
  std::vector<QString> sorted = days;
  std::sort(sorted.begin(), sorted.end());
  std::vector<OverviewTab::Day> entries;
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) entries.push_back({FmtDate(*it), *it});
  overview_->fillWhen(realTime, entries);
}

void MainWindow::Main_ReInit(int iMax, int iBarInt, const QString& totalDesc, const QString& peakDesc,
                             const QString& lastDesc) {
  clearStatus();
  receiveHidden_ = false;
  overview_->setReceiveWarning(false);
  for (TrendGraph* g : overview_->graphs()) g->setTimeBase(iMax, iBarInt, totalDesc, peakDesc, lastDesc);
  if (sstMain_->currentIndex() > TabSessions) sstMain_->setCurrentIndex(TabOverview);
}

void MainWindow::whenChosen(int index) {
  if (const std::optional<int> row = overview_->realTimeRow(index)) {
    chooseRealTime(*row);
    return;
  }
  const QString day = overview_->dayAt(index);
  if (!day.isEmpty()) {
    chooseDay(day);
    return;
  }
  showMessage(this, tr("ERROR - unknown interval"));
}

void MainWindow::chooseRealTime(int row) {
  const RealTimeBase& base = kRealTime[row];
  connection_->setView(View::RealTime);
  Main_ReInit(60, 10, tr(base.totalDesc), tr(base.peakDesc), tr(base.lastDesc));
  overview_->pacer().restart(base.intervalMs);
  overview_->setRealTime(true);
  emit timeBaseChanged(true, tr(kPerTexts[row]));
  pollRequest_ = QStringLiteral("STATS_PRO ");
  timerPoll_->setInterval(base.intervalMs);
  timerPoll_->start();
}

void MainWindow::chooseDay(const QString& day) {
  timerPoll_->stop();
  sYYYYMMDD_ = day;
  const bool twelveHours = overview_->twelveHours();
  connection_->setView(View::Day, day);
  // The 12-hour view sums 6 a.m. to 6 p.m., not the day.
  Main_ReInit(twelveHours ? 72 : 144, 6, twelveHours ? tr("Total/6am-6pm") : tr("Total/Day"), tr("Peak/10_Mins"),
              QString());
  overview_->setRealTime(false);
  emit timeBaseChanged(false, QString());
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
    overview_->graph(g)->setValues(std::vector<float>(first, first + (twelveHours ? 72 : 144)));
  }
  pollOnce();  // the day's partners, once
}

void MainWindow::returnToRealTime() {
  overview_->setWhenIndex(0);
  whenChosen(0);
}

void MainWindow::showValues(bool shown) {
  overview_->setValuesShown(shown);
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
  mnuPopupOverview_->clear();
  static const char* const kTabItems[] = {"", QT_TR_NOOP("Sessions"), QT_TR_NOOP("Broadcasts"), QT_TR_NOOP("Errors")};
  mnuPopupOverview_->addAction(tr(kTabItems[graphTab(graph)]), this,
                              [this, graph] { openGraphTab(graph); });
  bool shown = overview_->valuesShown();
  mnuPopupOverview_->addAction(shown ? tr("Hide Values") : tr("Show Values"), this,
                              [this, shown] { showValues(!shown); });
  mnuPopupOverview_->addSeparator();
  mnuPopupOverview_->addAction(tr("History"), this, &MainWindow::showHistoryList);
  mnuPopupOverview_->addAction(tr("Realtime"), this, &MainWindow::returnToRealTime);
  mnuPopupOverview_->popup(QCursor::pos());
}

void MainWindow::showHistoryList() {
  if (history_ == nullptr) {
    history_ = new HistoryDialog(this);
    connect(history_, &HistoryDialog::daySelected, this, [this](int row) {
      overview_->setWhenIndex(row + 3);
      whenChosen(row + 3);
    });
    connect(history_, &HistoryDialog::realTimeChosen, this, &MainWindow::returnToRealTime);
  }
  QStringList days, keys;
  for (const OverviewTab::Day& day : overview_->days()) {
    days << day.text;
    keys << day.key;
  }
  history_->setWindowFlag(Qt::WindowStaysOnTopHint, (windowFlags() & Qt::WindowStaysOnTopHint) != 0);
  history_->fill(sServerName_, days, keys, overview_->whenIndex() - 3);
  history_->show();
  history_->raise();
}

}  // namespace veltris::console
