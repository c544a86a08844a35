// MainWindow against a scripted agent: start-up, the poll cycle step by step,
// status pictures, the receive warning, the reset-count and loopback rules,
// "Invalid TOTAL record", lost connections, and history days.
#include <QCalendarWidget>
#include <QComboBox>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include "common/console_channel.h"
#include "console/core/single_instance.h"
#include "console/core/desktop_layer.h"
#include "desktop/traffic_state.h"
#include "console/windows/history_dialog.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/connect_dialog.h"
#include "console/windows/main_window.h"
#include "console/windows/overview_tab.h"
#include "console/windows/tab_views.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::desktop::test;

namespace {

// Records what the main window asks of the grids.
struct FakeViews : TabViews {
  int rows = 0;
  int gridClears = 0;
  int timeBaseClears = 0;
  int loopbackWarnings = 0;
  std::vector<std::pair<size_t, bool>> statBatches;  // records, history day
  std::vector<uint32_t> clears;
  int resetClears = 0;
  QString perText;
  int sessionAndBroadcastDataRows() const override { return rows; }
  void clearSessionAndBroadcastGrids() override { ++gridClears; }
  void takeStatRecords(const std::vector<PartnerStatRecord>& r, bool day) override {
    statBatches.emplace_back(r.size(), day);
  }
  void clearForNewTimeBase() override { ++timeBaseClears; }
  void setTimeBase(bool, const QString& per) override { perText = per; }
  void applyClear(uint32_t sequence) override { clears.push_back(sequence); }
  void resetClear() override { ++resetClears; }
  void tabShown(int) override {}
  void showLoopbackWarning() override { ++loopbackWarnings; }
  void connectionReady(bool, const QString&) override {}
};

struct Window {
  explicit Window(const QString& computer = QStringLiteral("host7"), bool installed = true) : root(installed) {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    window = std::make_unique<MainWindow>(std::move(owned), computer);
    window->setTabViews(&views);
    // A connection dialog nobody expected would wait forever: close it and count it.
    unexpectedDialogs.setInterval(50);
    QObject::connect(&unexpectedDialogs, &QTimer::timeout, [this] {
      if (!watchDialogs) return;
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ++dialogsClosed;
        dialog->reject();
      }
    });
    unexpectedDialogs.start();
  }
  ~Window() {
    window->timerPoll().stop();
    script->expectClose();
    window->close();
  }
  // Connect and HISTORY_LIST scripted; waits until polling is armed, then stops the timer.
  bool start(const Counts& counts, const std::vector<const char*>& days = {}, const std::string& name = "HOST7") {
    scriptConnect(*script, name);
    scriptHistoryList(*script, counts, days);
    if (!QTest::qWaitFor([&] { return window->timerPoll().isActive(); }, 5000)) return false;
    window->timerPoll().stop();
    return true;
  }
  bool idle() {
    return QTest::qWaitFor([&] { return script->finished() && !window->connection().busy(); }, 5000);
  }
  float last(int graph) const { return window->overview()->graph(graph)->last(); }

  TestRoot root;
  MessageLog messages;
  FakeViews views;
  QTimer unexpectedDialogs;
  bool watchDialogs = true;
  int dialogsClosed = 0;
  ScriptedAccess* script;
  std::unique_ptr<MainWindow> window;
};

Counts base() {
  Counts c;
  c.sequence = 100;
  c.bytesSent = 1000.5f;
  c.framesSent = 10;
  c.broadcastsSent = 1;
  c.bytesReceived = 2000;
  c.framesReceived = 20;
  c.broadcastsReceived = 5;
  return c;
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
  void resetCountEmptiesTheGridsOnlyWhenTheyHoldRows();
  void loopbackWarningOncePerConnection();
  void invalidTotalRecordReconnects();
  void slowAgentSkipsPollTicks();
  void historyDayAndTwelveHours();
  void latePollsSpreadAndANewTimeBaseStartsAfresh();
  void clearAndResetClear();
  void noAgentHereOpensTheDialogAtOnce();
  void loginDialogNamesAndBrowse();
  void loginDialogLocalMessages();
  void historyWindowListAndCalendar();
  void singleInstanceChannelRaises();
  void singleInstanceChannelStaysPrivate();
};

void MainWindowTest::startUpConnectsAndFillsTheWhenBox() {
  Window w;
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - HOST7 ... connecting ..."));
  QVERIFY(w.start(base(), {"20261201", "20261205", "20261130"}));
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - AGENTPC  IP=10.0.0.1"));
  QComboBox* when = w.window->overview()->cmbHistory;
  QStringList entries;
  for (int i = 0; i < when->count(); ++i) entries << when->itemText(i);
  QCOMPARE(entries, (QStringList{"Every 1 Second", "Every 10 Seconds", "Every 1 Minute", "2026-Dec-05 Sat",
                                 "2026-Dec-01 Tue", "2026-Nov-30 Mon"}));
  QCOMPARE(w.window->timerPoll().interval(), 1000);
  QCOMPARE(w.views.perText, QStringLiteral("1 Second"));
  QVERIFY(!w.window->isLocal());
  QCOMPARE(w.window->findChild<QLineEdit*>(QStringLiteral("tbxComputerName"))->text(),
           QStringLiteral("   >>>>>>>>>> R E M O T E <<<<<<<<<<<"));
  QCOMPARE(w.window->statusPanel(3)->toolTip(), QStringLiteral("Time of last refresh, on HOST7"));
  QCOMPARE(w.window->overview()->graph(0)->barCount(), 60);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
  // Another entry of the box: a new interval and new graph captions.
  w.window->overview()->cmbHistory->setCurrentIndex(2);
  emit w.window->overview()->cmbHistory->activated(2);
  QCOMPARE(w.window->timerPoll().interval(), 60000);
  QCOMPARE(w.views.perText, QStringLiteral("1 Minute"));
  QCOMPARE(w.window->overview()->graph(0)->valueText(0), QStringLiteral("0"));
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
  QCOMPARE(w.views.statBatches.size(), size_t{1});
  QCOMPARE(w.views.statBatches[0], std::make_pair(size_t{2}, false));
  QCOMPARE(w.window->statusPanel(3)->text(), QStringLiteral("12:34:56"));
  // Counters that went back (an agent restart) add no bar; the request carries the new number.
  Counts restarted = next;
  restarted.sequence = 5;
  restarted.framesSent = 2;
  scriptPoll(*w.script, "STATS_PRO  180", restarted);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.last(OverviewTab::PktsSent), 7.0f);  // unchanged newest bar
  QCOMPARE(w.last(OverviewTab::PktsRecv), 0.0f);  // others appended 0
  QCOMPARE(w.views.statBatches.size(), size_t{2});
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
  QCOMPARE(w.window->statusPanel(2)->toolTip(), tooltip);
  QCOMPARE(w.window->statusPictureName(), statusPicturePath(static_cast<TrafficPicture>(picture)));
  QVERIFY(!w.window->statusPanel(2)->pixmap().isNull());
}

void MainWindowTest::receiveWarningAt63And62() {
  Window w;
  QVERIFY(w.start(base()));
  OverviewTab* overview = w.window->overview();
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

void MainWindowTest::resetCountEmptiesTheGridsOnlyWhenTheyHoldRows() {
  Window w;
  QVERIFY(w.start(base()));
  Counts c = base();
  c.resetCount = 1;  // changed, but the grids are empty
  scriptPoll(*w.script, "STATS_PRO  100", c);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.views.gridClears, 0);
  w.views.rows = 3;
  scriptPoll(*w.script, "STATS_PRO  100", c);  // unchanged
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.views.gridClears, 0);
  c.resetCount = 2;
  scriptPoll(*w.script, "STATS_PRO  100", c);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.views.gridClears, 1);
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
  QCOMPARE(w.views.loopbackWarnings, 0);  // fewer than 5 received
  Counts noSends = quiet;
  noSends.framesReceived = 5;
  for (int i = 0; i < 2; ++i) {
    scriptPoll(*w.script, "STATS_PRO  100", noSends);
    w.window->pollOnce();
    QVERIFY(w.idle());
  }
  QCOMPARE(w.views.loopbackWarnings, 1);
  // The agent goes away: the message, then the start-up timer reconnects.
  w.script->expectWrite("STATS_PRO  100", 1727).expectClose();
  scriptConnect(*w.script, "HOST7");
  scriptHistoryList(*w.script, noSends);
  w.window->pollOnce();
  QVERIFY(QTest::qWaitFor([&] { return w.window->timerPoll().isActive(); }, 5000));
  w.window->timerPoll().stop();
  QCOMPARE(w.messages.texts,
           QStringList{QStringLiteral("Request to VELTRIS Monitoring Agent failed with retcode  1727 x6BF")});
  scriptPoll(*w.script, "STATS_PRO  100", noSends);
  w.window->pollOnce();
  QVERIFY(w.idle());
  QCOMPARE(w.views.loopbackWarnings, 2);  // once more on the new connection
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
  QVERIFY(QTest::qWaitFor([&] { return w.window->timerPoll().isActive(); }, 5000));
  w.window->timerPoll().stop();
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

void MainWindowTest::historyDayAndTwelveHours() {
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
  w.window->overview()->cmbHistory->setCurrentIndex(3);
  emit w.window->overview()->cmbHistory->activated(3);
  QVERIFY(w.idle());
  TrendGraph* pkts = w.window->overview()->graph(OverviewTab::PktsSent);
  QCOMPARE(pkts->barCount(), 144);
  std::vector<float> values = pkts->shownValues();
  QCOMPARE(values[0], 15.0f);
  QCOMPARE(values[36], 7.0f);
  QCOMPARE(values[143], 1.0f);
  QCOMPARE(w.window->overview()->graph(OverviewTab::PktsRecv)->shownValues()[143], 9.0f);
  QCOMPARE(pkts->valueText(0), QStringLiteral("26"));
  QCOMPARE(w.views.statBatches.back(), std::make_pair(size_t{2}, true));
  QVERIFY(!w.window->timerPoll().isActive());  // no further polls on a day
  QVERIFY(w.window->historyMode());
  // 12 hours: the same day again, 72 bars from 6 a.m.
  scriptDay(0);
  w.window->overview()->optHistoryGraph12->setChecked(true);
  QVERIFY(w.idle());
  QCOMPARE(pkts->barCount(), 72);
  QCOMPARE(pkts->shownValues()[0], 7.0f);   // slot 36
  QCOMPARE(pkts->shownValues()[71], 3.0f);  // slot 107
  // Its total sums 6 a.m. to 6 p.m., and says so.
  QCOMPARE(pkts->valuesToolTip(), QStringLiteral("Total/6am-6pm 10,  Peak/10_Mins 7"));
  // Back to real time: polling restarts with "STATS_PRO ".
  w.window->overview()->cmbHistory->setCurrentIndex(0);
  emit w.window->overview()->cmbHistory->activated(0);
  QVERIFY(w.window->timerPoll().isActive());
  w.window->timerPoll().stop();
  QVERIFY(!w.window->historyMode());
  QCOMPARE(pkts->barCount(), 60);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowTest::latePollsSpreadAndANewTimeBaseStartsAfresh() {
  Window w;
  qint64 now = 5000;
  w.window->overview()->pacer.setClock([&now] { return now; });
  QVERIFY(w.start(base(), {"20261205"}));
  TrendGraph* pkts = w.window->overview()->graph(OverviewTab::PktsSent);
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
  w.window->overview()->cmbHistory->setCurrentIndex(1 + 2);
  emit w.window->overview()->cmbHistory->activated(3);
  QVERIFY(w.idle());
  w.window->overview()->cmbHistory->setCurrentIndex(0);
  emit w.window->overview()->cmbHistory->activated(0);
  w.window->timerPoll().stop();
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
  w.window->overview()->btnClear->click();
  QVERIFY(w.idle());
  QCOMPARE(w.views.clears, std::vector<uint32_t>{4321});
  QCOMPARE(w.window->overview()->graph(OverviewTab::PktsSent)->total(), 0LL);
  w.window->mnuOptResetClear->trigger();
  QCOMPARE(w.views.resetClears, 1);
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
      QCOMPARE(dialog->lblComputerName->text(), QStringLiteral("Computer Name:"));
      dialog->btnCancel->click();  // not installed: cancel closes the console
    }
  });
  poke.start();
  w.window->show();
  QVERIFY(QTest::qWaitFor([&] { return sawDialog && !w.window->isVisible(); }, 5000));
  QCOMPARE(w.window->windowTitle(), QStringLiteral("VELTRIS - "));
  for (const std::string& call : w.script->played()) QVERIFY2(call == "close", call.c_str());  // no open
}

void MainWindowTest::loginDialogNamesAndBrowse() {
  TestRoot root;
  MessageLog messages;
  auto owned = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = owned.get();
  AgentSession connection(std::move(owned), nullptr);
  showFailures(connection);
  ConnectDialog dialog(connection, QStringLiteral("*SNAPSHOT* /tmp/x.VSN"), false);
  dialog.show();
  QVERIFY(dialog.txtServer->text().isEmpty());  // a snapshot is not offered again
  // Browse lists what the network announces; a click copies, a double-click connects.
  dialog.setBrowser([] { return BrowseResult{true, {"AGENT1", "\\\\WS2"}, {}, {}}; });
  dialog.btnBrowse->click();
  QTRY_COMPARE(dialog.lstServers->count(), 2);
  QCOMPARE(dialog.lstServers->item(1)->text(), QStringLiteral("WS2"));
  QVERIFY(dialog.lstServers->isVisible());
  dialog.setBrowser([] {
    return BrowseResult{false, {}, QStringLiteral("WNetOpenEnum"), QStringLiteral("Error: no Avahi")};
  });
  QTRY_VERIFY(dialog.btnBrowse->isEnabled());
  dialog.btnBrowse->click();
  QTRY_COMPARE(messages.texts, QStringList{QStringLiteral("Error: no Avahi")});
  QCOMPARE(messages.titles, QStringList{QStringLiteral("WNetOpenEnum")});
  // A name with a leading double backslash, blanks and lower case connects to the bare upper-case name.
  messages.texts.clear();
  dialog.txtServer->setText(QStringLiteral("  \\\\pc7 "));
  dialog.tbxPassword->setText(QStringLiteral("typed"));
  script->expectClose().expectOpen("PC7", 1722);
  dialog.btnRemote->click();
  QTRY_COMPARE(messages.texts, (QStringList{QStringLiteral("Connection failed with retcode  1722"),
                                            QStringLiteral("Could not connect to VELTRIS Monitoring Agent on PC7")}));
  QVERIFY(dialog.isVisible());  // stays open
  // "." is this PC: the registry key serves as the password.
  messages.texts.clear();
  dialog.txtServer->setText(QStringLiteral("."));
  dialog.tbxPassword->clear();
  scriptConnect(*script, "", "SECRET");
  dialog.btnRemote->click();
  QTRY_VERIFY(!dialog.isVisible());
  QVERIFY(!dialog.PubLoginCancelled);
  QCOMPARE(dialog.PubLoginServer, QString());
  QCOMPARE(dialog.PubLoginServerName, QStringLiteral("Local"));
  QVERIFY(messages.texts.isEmpty());
  QVERIFY2(script->mismatches().empty(), qPrintable(mismatchText(*script)));
  // This PC with a typed password and no readable "OpenKey": the typed one is sent.
  root.writeRegistry(true, QString());
  ConnectDialog local(connection, QString(), false);
  local.show();
  local.txtServer->setText(QStringLiteral("*"));
  local.tbxPassword->setText(QStringLiteral("typed"));
  scriptConnect(*script, "", "typed");
  local.btnRemote->click();
  QTRY_VERIFY(!local.isVisible());
  QCOMPARE(local.PubLoginServerName, QStringLiteral("Local"));
  QVERIFY2(script->mismatches().empty(), qPrintable(mismatchText(*script)));
  // Without avahi-daemon the real browse says so in words.
  BrowseResult real = browseNetwork(1500);
  if (real.ok) QSKIP("avahi-daemon runs here");
  QCOMPARE(real.errorTitle, QStringLiteral("WNetOpenEnum"));
  QVERIFY2(real.errorText.startsWith(QStringLiteral("Error: ")) && real.errorText.contains(QStringLiteral("avahi-daemon")),
           qPrintable(real.errorText));
}

void MainWindowTest::loginDialogLocalMessages() {
  TestRoot root(false);  // no agent on this PC
  MessageLog messages;
  auto owned = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = owned.get();
  AgentSession connection(std::move(owned), nullptr);
  showFailures(connection);
  {
    ConnectDialog dialog(connection, QString(), false);
    dialog.show();
    dialog.txtServer->setText(QStringLiteral("."));
    dialog.btnRemote->click();
    QCOMPARE(messages.texts, QStringList{QStringLiteral("VELTRIS Agent is not installed on this PC.\n\n"
                                                        "Please specify a remote computer name or address.")});
    QVERIFY(dialog.isVisible());
    QVERIFY(script->played().empty());
    dialog.btnCancel->click();  // not installed: cancelled
    QVERIFY(dialog.PubLoginCancelled);
    QVERIFY(!dialog.isVisible());
  }
  root.writeRegistry(true, QStringLiteral("SECRET"));
  messages.texts.clear();
  ConnectDialog dialog(connection, QString(), false);
  dialog.show();
  // "Cancel" with the agent installed tries this PC; a failure closes the dialog as cancelled.
  script->expectClose().expectOpen("", 1722);
  dialog.btnCancel->click();
  QTRY_VERIFY(!dialog.isVisible());
  QCOMPARE(messages.texts, (QStringList{QStringLiteral("Connection failed with retcode  1722"),
                                        QStringLiteral("Local VELTRIS Monitoring Agent is not running")}));
  QVERIFY(dialog.PubLoginCancelled);
  QVERIFY2(script->mismatches().empty(), qPrintable(mismatchText(*script)));
}

void MainWindowTest::historyWindowListAndCalendar() {
  Window w;
  QVERIFY(w.start(base(), {"20261130", "20261201"}));
  w.window->overview()->btnHistory->click();
  HistoryDialog* history = w.window->historyWindow();
  QVERIFY(history != nullptr && history->isVisible());
  QCOMPARE(history->windowTitle(), QStringLiteral("History"));
  QCOMPARE(history->lblHeading->text(), QStringLiteral("Available History for HOST7"));
  QCOMPARE(history->lstHist->count(), 2);
  QCOMPARE(history->lstHist->item(0)->text(), QStringLiteral("2026-Dec-01 Tue"));
  // A day chosen in the calendar selects the same entry of the "When" box and loads it.
  w.script->expectWrite("TPT 20261130").expectRecord(header()).expectRecord(periodTotals(5, 1, 1)).expectReplyEnd();
  w.script->expectWrite("TPS 20261130 100").expectRecord(header()).expectReplyEnd();
  emit history->calHist->clicked(QDate(2026, 11, 30));
  QVERIFY(w.idle());
  QCOMPARE(w.window->overview()->cmbHistory->currentIndex(), 4);
  QCOMPARE(w.window->historyDay(), QStringLiteral("20261130"));
  emit history->calHist->clicked(QDate(2026, 11, 29));  // no history: nothing happens
  QTest::qWait(20);
  QVERIFY(w.script->finished());
  history->btnRealTime->click();
  QVERIFY(w.window->timerPoll().isActive());
  w.window->timerPoll().stop();
  QCOMPARE(w.window->overview()->cmbHistory->currentIndex(), 0);
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
}

void MainWindowTest::singleInstanceChannelRaises() {
  TestRoot root;
  QWidget window;
  SingleInstanceChannel first(&window);
  QVERIFY(first.listen());
  QWidget other;
  SingleInstanceChannel second(&other);
  QVERIFY(!second.listen());  // a live console owns the channel
  QSignalSpy raised(&first, &SingleInstanceChannel::raised);
  QLocalSocket client;
  client.connectToServer(QString::fromStdString(veltris::consoleChannelPath()));
  QVERIFY(client.waitForConnected(2000));
  client.write(veltris::kConsoleRaiseRequest);
  QTRY_VERIFY(client.bytesAvailable() >= 3);
  QCOMPARE(client.readAll(), QByteArray(veltris::kConsoleRaiseAnswer));
  QCOMPARE(raised.count(), 1);
}

// Without XDG_RUNTIME_DIR the channel lives in a 0700 folder of the user's own
// under TMPDIR; a folder or socket that is not the user's is never used.
void MainWindowTest::singleInstanceChannelStaysPrivate() {
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  const QByteArray savedTmp = qgetenv("TMPDIR");
  QTemporaryDir tmp;
  qputenv("TMPDIR", tmp.path().toUtf8());
  qputenv("XDG_RUNTIME_DIR", tmp.path().toUtf8());  // a folder others may write: not taken
  ::chmod(tmp.path().toUtf8().constData(), 0777);
  const std::string folder = tmp.path().toStdString() + "/veltris-" + std::to_string(::getuid());
  QCOMPARE(QString::fromStdString(veltris::consoleChannelPath()), QString::fromStdString(folder + "/veltris-console.sock"));
  struct stat st {};
  QCOMPARE(::stat(folder.c_str(), &st), 0);
  QCOMPARE(st.st_mode & 0777, 0700u);
  {
    QWidget window;
    SingleInstanceChannel channel(&window);
    QVERIFY(channel.listen());
  }
  // A plain file where the socket goes, and a folder someone else may enter, are refused.
  QFile planted(QString::fromStdString(folder + "/veltris-console.sock"));
  QFile::remove(planted.fileName());
  QVERIFY(planted.open(QIODevice::WriteOnly));
  planted.close();
  {
    QWidget window;
    SingleInstanceChannel channel(&window);
    QVERIFY(!channel.listen());
    QVERIFY(planted.exists());
  }
  QFile::remove(planted.fileName());
  if (::getuid() == 0) {
    QVERIFY(::chown(folder.c_str(), 65534, 65534) == 0);
    QCOMPARE(QString::fromStdString(veltris::consoleChannelPath()), QString());
    QWidget window;
    SingleInstanceChannel channel(&window);
    QVERIFY(!channel.listen());
  }
  qputenv("XDG_RUNTIME_DIR", savedRuntime);
  if (savedRuntime.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", savedTmp);
  if (savedTmp.isEmpty()) qunsetenv("TMPDIR");
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
