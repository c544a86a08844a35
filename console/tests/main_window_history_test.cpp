// MainWindow's time bases against a scripted agent: history days in 24 and
// 12 hours, late polls spread over the intervals they cover, a new time base
// that starts afresh, and the history list window with its calendar.
#include <QCalendarWidget>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "console/tests/scripted_window.h"
#include "console/windows/history_dialog.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;

namespace {

using Window = ScriptedWindow;
Counts base() { return baseCounts(); }

}  // namespace

class MainWindowHistoryTest : public QObject {
  Q_OBJECT
 private slots:
  void historyDayAndTwelveHours();
  void latePollsSpreadAndANewTimeBaseStartsAfresh();
  void historyWindowListAndCalendar();
};

void MainWindowHistoryTest::historyDayAndTwelveHours() {
  Window w;
  QVERIFY(w.start(base(), {"20261205"}));
  // Two records for slot 0 (a restart within ten minutes) add up; slot 143 is the day's last.
  auto scriptDay = [&](int statRecords) {
    w.script->expectWrite("TPT 20261205").expectRecord(header());
    w.script->expectRecord(periodTotals(0, 100, 10)).expectRecord(periodTotals(0, 50, 5));
    w.script->expectRecord(periodTotals(36, 7, 7)).expectRecord(periodTotals(107, 3, 3));
    w.script->expectRecord(periodTotals(143, 1, 1, 9, 9)).expectReplyEnd();
    w.script->expectWrite("TPS 20261205 100").expectRecord(header());
    for (int i = 0; i < statRecords; ++i) w.script->expectRecord(partnerStat(1, "02000000000A", "IP 10.0.0.10", 4));
    w.script->expectReplyEnd();
  };
  scriptDay(2);
  w.chooseWhen(3);
  QVERIFY(w.idle());
  TrendGraph* pkts = w.overview()->graph(OverviewTab::PktsSent);
  QCOMPARE(pkts->barCount(), 144);
  std::vector<float> values = pkts->shownValues();
  QCOMPARE(values[0], 15.0f);
  QCOMPARE(values[36], 7.0f);
  QCOMPARE(values[143], 1.0f);
  QCOMPARE(w.overview()->graph(OverviewTab::PktsRecv)->shownValues()[143], 9.0f);
  QCOMPARE(pkts->valueText(0), QStringLiteral("26"));
  QCOMPARE(w.tabs->statBatches.back(), std::make_pair(size_t{2}, true));
  QVERIFY(!timerPoll(*w.window).isActive());  // no further polls on a day
  QVERIFY(w.window->historyMode());
  // 12 hours: the same day again, 72 bars from 6 a.m.
  scriptDay(0);
  part<QRadioButton>(*w.overview(), "optHistoryGraph12")->setChecked(true);
  QVERIFY(w.idle());
  QCOMPARE(pkts->barCount(), 72);
  QCOMPARE(pkts->shownValues()[0], 7.0f);   // slot 36
  QCOMPARE(pkts->shownValues()[71], 3.0f);  // slot 107
  // Its total sums 6 a.m. to 6 p.m., and says so.
  QCOMPARE(pkts->valuesToolTip(), QStringLiteral("Total/6am-6pm 10,  Peak/10_Mins 7"));
  // Back to real time: polling restarts with "STATS_PRO ".
  w.chooseWhen(0);
  QVERIFY(timerPoll(*w.window).isActive());
  timerPoll(*w.window).stop();
  QVERIFY(!w.window->historyMode());
  QCOMPARE(pkts->barCount(), 60);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowHistoryTest::latePollsSpreadAndANewTimeBaseStartsAfresh() {
  Window w;
  qint64 now = 5000;
  w.overview()->pacer().setClock([&now] { return now; });
  QVERIFY(w.start(base(), {"20261205"}));
  TrendGraph* pkts = w.overview()->graph(OverviewTab::PktsSent);
  auto newest = [&](int n) {
    const std::vector<float> v = pkts->shownValues();
    return std::vector<float>(v.end() - n, v.end());
  };
  struct Poll {
    qint64 at;           // clock of the reply
    uint32_t framesSent;
    std::vector<float> bars;  // the newest bars afterwards
  };
  // On time, then a reply 3 s after the last (two ticks skipped behind a long command).
  uint32_t sequence = 100;
  for (const Poll& poll : {Poll{6000, 15, {0, 0, 5}}, Poll{9000, 45, {5, 10, 10, 10}}, Poll{10000, 46, {10, 10, 1}}}) {
    now = poll.at;
    Counts c = base();
    c.framesSent = poll.framesSent;
    c.sequence = sequence + 1;
    scriptPoll(*w.script, "STATS_PRO  " + std::to_string(sequence), c);
    sequence = c.sequence;
    w.window->pollOnce();
    QVERIFY(w.idle());
    QCOMPARE(newest(static_cast<int>(poll.bars.size())), poll.bars);
  }
  QCOMPARE(pkts->peak(), 10LL);  // not 30 in one "per second" bar
  QCOMPARE(pkts->total(), 36LL);
  // A day, then back to "Every 1 Second" minutes later: the first reply is only a baseline.
  w.script->expectWrite("TPT 20261205").expectRecord(header()).expectReplyEnd();
  w.script->expectWrite("TPS 20261205 " + std::to_string(sequence)).expectRecord(header()).expectReplyEnd();
  w.chooseWhen(3);
  QVERIFY(w.idle());
  w.chooseWhen(0);
  timerPoll(*w.window).stop();
  Counts later = base();
  later.framesSent = 4165;
  later.sequence = sequence + 1;
  now += 300000;
  scriptPoll(*w.script, "STATS_PRO  " + std::to_string(sequence), later);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(pkts->total(), 0LL);
  later.framesSent += 7;
  now += 1000;
  scriptPoll(*w.script, "STATS_PRO  " + std::to_string(later.sequence), later);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(pkts->last(), 7.0f);
  QCOMPARE(pkts->total(), 7LL);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowHistoryTest::historyWindowListAndCalendar() {
  Window w;
  QVERIFY(w.start(base(), {"20261130", "20261201"}));
  part<QPushButton>(*w.overview(), "btnHistory")->click();
  HistoryDialog* history = w.window->findChild<HistoryDialog*>();
  QVERIFY(history != nullptr && history->isVisible());
  QCOMPARE(history->windowTitle(), QStringLiteral("History"));
  QCOMPARE(part<QLabel>(*history, "lblHeading")->text(), QStringLiteral("Available History for HOST7"));
  QCOMPARE(part<QListWidget>(*history, "lstHist")->count(), 2);
  QCOMPARE(part<QListWidget>(*history, "lstHist")->item(0)->text(), QStringLiteral("2026-Dec-01 Tue"));
  // A day chosen in the calendar selects the same entry of the "When" box and loads it.
  w.script->expectWrite("TPT 20261130").expectRecord(header()).expectRecord(periodTotals(5, 1, 1)).expectReplyEnd();
  w.script->expectWrite("TPS 20261130 100").expectRecord(header()).expectReplyEnd();
  emit part<QCalendarWidget>(*history, "calHist")->clicked(QDate(2026, 11, 30));
  QVERIFY(w.idle());
  QCOMPARE(w.when()->currentIndex(), 4);
  QCOMPARE(w.window->historyDay(), QStringLiteral("20261130"));
  emit part<QCalendarWidget>(*history, "calHist")->clicked(QDate(2026, 11, 29));  // no history: nothing happens
  QTest::qWait(20);
  QVERIFY(w.script->finished());
  part<QPushButton>(*history, "btnRealTime")->click();
  QVERIFY(timerPoll(*w.window).isActive());
  timerPoll(*w.window).stop();
  QCOMPARE(w.when()->currentIndex(), 0);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

QTEST_MAIN(MainWindowHistoryTest)
#include "main_window_history_test.moc"
