// MainWindow against a scripted agent: start-up, the poll cycle step by step,
// status pictures, the receive warning, the reset-count and loopback rules,
// "Invalid TOTAL record", lost connections, "&Clear" and "&Reset CLEAR".
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "console/tests/scripted_window.h"
#include "console/windows/connect_dialog.h"
#include "desktop/traffic_state.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;

namespace {

using Window = ScriptedWindow;
Counts base() { return baseCounts(); }

// The loopback warnings (frmWarnNoLoopback) the window has opened.
int loopbackWarnings(const MainWindow& window) {
  return static_cast<int>(window.findChildren<QDialog*>(QStringLiteral("frmWarnNoLoopback")).size());
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void startUpConnectsAndFillsTheWhenBox();
  void pollFeedsTheGraphsWithDifferences();
  void statusPictures_data();
  void statusPictures();
  void receiveWarningAt63And62();
  void aChangedResetCountStartsThePartnerGridsOver();
  void loopbackWarningOncePerConnection();
  void invalidTotalRecordReconnects();
  void slowAgentSkipsPollTicks();
  void clearAndResetClear();
  void noAgentHereOpensTheDialogAtOnce();
};

void MainWindowTest::startUpConnectsAndFillsTheWhenBox() {
  Window w;
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - HOST7 ... connecting ..."));
  QVERIFY(w.start(base(), {"20261201", "20261205", "20261130"}));
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - AGENTPC  IP=10.0.0.1"));
  QComboBox* when = w.when();
  QStringList entries;
  for (int i = 0; i < when->count(); ++i) entries << when->itemText(i);
  QCOMPARE(entries, (QStringList{"Every 1 Second", "Every 10 Seconds", "Every 1 Minute", "2026-Dec-05 Sat",
                                 "2026-Dec-01 Tue", "2026-Nov-30 Mon"}));
  QCOMPARE(timerPoll(*w.window).interval(), 1000);
  QCOMPARE(w.tabs->perText, QStringLiteral("1 Second"));
  QVERIFY(!w.window->isLocal());
  QCOMPARE(w.window->findChild<QLineEdit*>(QStringLiteral("tbxComputerName"))->text(),
           QStringLiteral("   >>>>>>>>>> R E M O T E <<<<<<<<<<<"));
  QCOMPARE(statusPanel(*w.window, 3)->toolTip(), QStringLiteral("Time of last refresh, on HOST7"));
  QCOMPARE(w.overview()->graph(0)->barCount(), 60);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
  // Another entry of the box: a new interval and new graph captions.
  w.chooseWhen(2);
  QCOMPARE(timerPoll(*w.window).interval(), 60000);
  QCOMPARE(w.tabs->perText, QStringLiteral("1 Minute"));
  QCOMPARE(w.overview()->graph(0)->valueText(0), QStringLiteral("0"));
}

void MainWindowTest::pollFeedsTheGraphsWithDifferences() {
  Window w;
  QVERIFY(w.start(base()));
  Counts next = base();
  next.sequence = 180;
  next.bytesSent = 1500.5f;
  next.framesSent = 17;
  next.broadcastsSent = 3;
  next.errorsSent = 1;
  next.bytesReceived = 2600;
  next.framesReceived = 29;
  next.broadcastsReceived = 9;
  next.errorsReceived = 2;
  scriptPoll(*w.script, "STATS_PRO  100", next,
             {partnerStat(1, "020000000005", "IP 10.0.0.5", 3), partnerStat(1, "020000000009", "IP 10.0.0.9", 1)});
  w.window->pollOnce();
  QVERIFY(w.idle());
  const float expected[8] = {500, 7, 2, 1, 600, 9, 4, 2};
  for (int g = 0; g < 8; ++g) QCOMPARE(w.last(g), expected[g]);
  QCOMPARE(w.tabs->statBatches.size(), size_t{1});
  QCOMPARE(w.tabs->statBatches[0], std::make_pair(size_t{2}, false));
  QCOMPARE(statusPanel(*w.window, 3)->text(), QStringLiteral("12:34:56"));
  // Counters that went back (an agent restart) add no bar; the request carries the new number.
  Counts restarted = next;
  restarted.sequence = 5;
  restarted.framesSent = 2;
  scriptPoll(*w.script, "STATS_PRO  180", restarted);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.last(OverviewTab::PktsSent), 7.0f);  // unchanged newest bar
  QCOMPARE(w.last(OverviewTab::PktsRecv), 0.0f);  // others appended 0
  QCOMPARE(w.tabs->statBatches.size(), size_t{2});
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowTest::statusPictures_data() {
  QTest::addColumn<int>("code");
  QTest::addColumn<QString>("tooltip");
  QTest::addColumn<int>("picture");
  QTest::newRow("0") << 0 << "UNKNOWN STATE" << 1;
  QTest::newRow("1") << 1 << "Error detected by sender" << 1;
  QTest::newRow("2") << 2 << "Error detected by receiver" << 1;
  QTest::newRow("3") << 3 << "Broadcast traffic sent" << 2;
  QTest::newRow("4") << 4 << "Session traffic received" << 3;
  QTest::newRow("5") << 5 << "Session traffic sent" << 3;
  QTest::newRow("6") << 6 << "Session traffic since last broadcast" << 3;
  QTest::newRow("7") << 7 << "Broadcast traffic received" << 4;
  QTest::newRow("8") << 8 << "No traffic sent or received" << 5;
  QTest::newRow("9") << 9 << "No traffic received since PC started" << 6;
  QTest::newRow("10") << 10 << "No traffic received in over 60 seconds" << 6;
  QTest::newRow("11") << 11 << "UNKNOWN STATE" << 1;
}

void MainWindowTest::statusPictures() {
  QFETCH(int, code);
  QFETCH(QString, tooltip);
  QFETCH(int, picture);
  Window w;
  QVERIFY(w.start(base()));
  scriptPoll(*w.script, "STATS_PRO  100", base(), {}, static_cast<uint32_t>(code));
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(statusPanel(*w.window, 2)->toolTip(), tooltip);
  QCOMPARE(w.window->statusPictureName(), statusPicturePath(static_cast<TrafficPicture>(picture)));
  QVERIFY(!statusPanel(*w.window, 2)->pixmap().isNull());
}

void MainWindowTest::receiveWarningAt63And62() {
  Window w;
  QVERIFY(w.start(base()));
  OverviewTab* overview = w.overview();
  struct Step {
    int32_t seconds;
    bool warning;
  };
  for (Step step : {Step{62, false}, Step{63, true}, Step{200, true}, Step{62, false}, Step{0, false}}) {
    Counts c = base();
    c.secondsQuiet = step.seconds;
    scriptPoll(*w.script, "STATS_PRO  100", c);
    w.window->pollOnce();
    QVERIFY(w.idle());
    QCOMPARE(overview->receiveWarningShown(), step.warning);
    QCOMPARE(overview->graph(OverviewTab::BytesRecv)->isHidden(), step.warning);
    QCOMPARE(overview->graph(OverviewTab::PktsRecvRE)->isHidden(), step.warning);
    QVERIFY(!overview->graph(OverviewTab::BytesSent)->isHidden());
  }
}

void MainWindowTest::aChangedResetCountStartsThePartnerGridsOver() {
  Window w;
  QVERIFY(w.start(base()));
  Counts c = base();
  // Each poll's reset count against the one before: changed, unchanged, changed.
  for (auto [resetCount, resets] : {std::pair{1, 1}, std::pair{1, 1}, std::pair{2, 2}}) {
    c.resetCount = resetCount;
    scriptPoll(*w.script, "STATS_PRO  100", c);
    w.window->pollOnce();
    QVERIFY(w.idle());
    QCOMPARE(w.tabs->partnerTableResets, resets);
  }
}

void MainWindowTest::loopbackWarningOncePerConnection() {
  Window w;
  Counts quiet = base();
  quiet.framesSent = 0;
  quiet.framesReceived = 4;
  QVERIFY(w.start(quiet));
  scriptPoll(*w.script, "STATS_PRO  100", quiet);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(loopbackWarnings(*w.window), 0);  // fewer than 5 received
  Counts noSends = quiet;
  noSends.framesReceived = 5;
  for (int i = 0; i < 2; ++i) {
    scriptPoll(*w.script, "STATS_PRO  100", noSends);
    w.window->pollOnce();
    QVERIFY(w.idle());
  }
  QCOMPARE(loopbackWarnings(*w.window), 1);
  // The agent goes away: the message, then the start-up timer reconnects.
  w.script->expectWrite("STATS_PRO  100", 1727).expectClose();
  scriptConnect(*w.script, "HOST7");
  scriptHistoryList(*w.script, noSends);
  w.window->pollOnce();
  QVERIFY(QTest::qWaitFor([&] { return timerPoll(*w.window).isActive(); }, 5000));
  timerPoll(*w.window).stop();
  QCOMPARE(w.messages.texts,
           QStringList{QStringLiteral("Request to VELTRIS Monitoring Agent failed with retcode  1727 x6BF")});
  scriptPoll(*w.script, "STATS_PRO  100", noSends);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(loopbackWarnings(*w.window), 2);  // once more on the new connection
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowTest::invalidTotalRecordReconnects() {
  Window w;
  QVERIFY(w.start(base()));
  w.script->expectWrite("STATS_PRO  100").expectRecord(header()).expectRecord(historyDay("20261201"));
  w.script->expectReplyEnd();
  scriptConnect(*w.script, "HOST7");
  scriptHistoryList(*w.script, base());
  w.window->pollOnce();
  QVERIFY(QTest::qWaitFor([&] { return timerPoll(*w.window).isActive(); }, 5000));
  timerPoll(*w.window).stop();
  QCOMPARE(w.messages.texts, QStringList{QStringLiteral("Invalid TOTAL record")});
  QCOMPARE(w.messages.titles, QStringList{QStringLiteral("ERROR")});
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowTest::slowAgentSkipsPollTicks() {
  Window w;
  QVERIFY(w.start(base()));
  scriptPoll(*w.script, "STATS_PRO  100", base());
  w.script->holdNextCall();
  w.window->pollOnce();
  w.window->pollOnce();  // still running: skipped, not queued
  w.window->pollOnce();
  QTest::qWait(30);
  w.script->release();
  QVERIFY(w.idle());
  QTest::qWait(30);
  const std::vector<std::string> played = w.script->played();
  QCOMPARE(std::count(played.begin(), played.end(), std::string("write STATS_PRO  100")), 1);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowTest::clearAndResetClear() {
  Window w;
  QVERIFY(w.start(base()));
  Counts c = base();
  c.framesSent = 30;
  scriptPoll(*w.script, "STATS_PRO  100", c);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.last(OverviewTab::PktsSent), 20.0f);
  Counts now = base();
  now.sequence = 4321;
  w.script->expectWrite("TOTAL").expectRecord(header()).expectRecord(totals(now)).expectReplyEnd();
  part<QPushButton>(*w.overview(), "btnClear")->click();
  QVERIFY(w.idle());
  QCOMPARE(w.tabs->clears, std::vector<uint32_t>{4321});
  QCOMPARE(w.overview()->graph(OverviewTab::PktsSent)->total(), 0LL);
  menuItem(*w.window, "mnuOptResetClear").trigger();
  QCOMPARE(w.tabs->resetClears, 1);
}

void MainWindowTest::noAgentHereOpensTheDialogAtOnce() {
  Window w(QString(), false);
  w.watchDialogs = false;
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - Local ... connecting ..."));
  bool sawDialog = false;
  QTimer poke;
  poke.setInterval(20);
  QObject::connect(&poke, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<ConnectDialog*>(QApplication::activeModalWidget())) {
      sawDialog = true;
      QCOMPARE(part<QLabel>(*dialog, "lblComputerName")->text(), QStringLiteral("Computer Name:"));
      part<QPushButton>(*dialog, "btnCancel")->click();  // not installed: cancel closes the console
    }
  });
  poke.start();
  w.window->show();
  QVERIFY(QTest::qWaitFor([&] { return sawDialog && !w.window->isVisible(); }, 5000));
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - "));
  for (const std::string& call : w.script->played()) QVERIFY2(call == "close", call.c_str());  // no open
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
