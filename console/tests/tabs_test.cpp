// The tabs after Overview inside the main window, through the scripted access:
// what each fetch sends and how its reply fills the tab, the details start
// numbers with "&Clear", the record-level failures, the command check that
// sends nothing, and the settings with "Save Options on Exit" and "&New".
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fstream>

#include "console/core/desktop_layer.h"
#include "desktop/testing/scripted_access.h"
#include "desktop/messages.h"
#include "console/tabs/console_tabs.h"
#include "console/tabs/device_tabs.h"
#include "console/tabs/grid_tabs.h"
#include "tests/support/console_records.h"
#include "console/windows/main_window.h"
#include "help/help_viewer.h"
#include "help/help_window.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;

namespace {

ReplyHeader header() {
  ReplyHeader h{};
  std::memcpy(h.tag, "TASK", 4);
  std::memcpy(h.version, "19990415", 8);
  std::memcpy(h.date, "20261207", 8);
  std::memcpy(h.time, "10:00:00", 8);
  h.trafficState = 4;
  return h;
}

TotalsRecord totals(uint32_t sequence) {
  TotalsRecord t{};
  std::memcpy(t.tag, kTotalsTag, 4);
  t.sequence = sequence;
  t.framesSent = 10;
  t.framesReceived = 10;
  std::memcpy(t.hostName, "PC1", 3);
  return t;
}

std::vector<uint8_t> oid(uint32_t adapter, const char* media) {
  std::vector<uint8_t> r(kOidRecordSize, 0);
  std::memcpy(r.data(), "OID ", 4);
  r[4] = static_cast<uint8_t>(adapter);
  std::memcpy(r.data() + 224, media, std::strlen(media));
  return r;
}

TextReply text(const char* body) {
  TextReply t{};
  std::memcpy(t.tag, kTextReplyTag, 4);
  std::strncpy(t.text, body, sizeof t.text - 1);
  return t;
}

}  // namespace

class TabsTest : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  QStringList messages_;
  ScriptedAccess* access_ = nullptr;
  std::unique_ptr<MainWindow> main_;
  ConsoleTabs* two_ = nullptr;

  // Runs until the script is played; fails on a mismatch.
  void played() {
    QTRY_VERIFY2_WITH_TIMEOUT(access_->finished(), qPrintable(QString::fromStdString(
        access_->played().empty() ? std::string("nothing played") : access_->played().back()) + " | " + messages_.join(';')), 5000);
    QTRY_VERIFY(!main_->connection().busy());
    const auto wrong = access_->mismatches();
    QVERIFY2(wrong.empty(), wrong.empty() ? "" : wrong.front().c_str());
  }

  ScriptedAccess& request(const std::string& text) {
    return access_->expectWrite(text).expectRecord(header());
  }

  QString settingsFile() const { return root_.filePath("VELTRIS.conf"); }
  std::unique_ptr<SettingsStore> store() const {
    return std::make_unique<SettingsStore>(std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat));
  }

 private slots:
  void initTestCase() {
    setMessageHandler([this](QWidget*, const QString& t, const QString&) { messages_ << t; });
    QDir().mkpath(root_.filePath("etc/veltris"));
    std::ofstream(root_.filePath("etc/veltris/registry.reg").toStdString())
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\r\n\"OpenKey\"=\"Sesame\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\Tapsor\\CurrentVersion]\r\n\"Title\"=\"Tapsor\"\r\n";
    ::setenv("VELTRIS_ROOT", root_.path().toLocal8Bit().constData(), 1);
    {
      QSettings raw(settingsFile(), QSettings::IniFormat);
      raw.setValue("Settings/NewLeft", 40);
      raw.setValue("Settings/NewTop", 50);
      raw.setValue("Settings/NewWidth", 700);
      raw.setValue("Settings/NewHeight", 500);
      raw.setValue("Settings/TabsBottom", true);
    }

    auto access = std::make_unique<ScriptedAccess>();
    access_ = access.get();
    access_->expectClose().expectOpen("");  // the open job closes first
    request("OPEN Sesame").expectReplyEnd();
    request("HISTORY_LIST").expectRecord(totals(7)).expectReplyEnd();
    request("STATS_PRO  0").expectRecord(totals(7))
        .expectRecord(statRecord(1, "A", "IP 10.0.0.9", "peer9", "09:59:00", {100, 2}))
        .expectRecord(statRecord(1, "B", "IP 10.0.0.8", "", "09:58:00", {50, 1}))
        .expectReplyEnd();
    main_ = std::make_unique<MainWindow>(std::move(access), QString());
    two_ = new ConsoleTabs(*main_, store(), [](const QString&) { return true; });
    // "&New" left its position: this window takes it, once.
    QCOMPARE(main_->geometry(), QRect(40, 50, 700, 500));
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains("Settings/NewWidth"));
    QCOMPARE(main_->tabs()->tabPosition(), QTabWidget::South);
    main_->show();
    played();
    main_->timerPoll().stop();
    QCOMPARE(two_->sessions->model.rowCount(), 2);
  }

  void cleanupTestCase() {
    access_->expectClose().expectClose();
    main_->close();
    main_.reset();
  }

  void detailsKeepRowsWhileTheSequenceStands() {
    request("DETAILS 0").expectRecord(totals(10))
        .expectRecord(detailRecord(8, "<-  ")).expectRecord(detailRecord(9, "<<  ")).expectRecord(detailRecord(10, "  ->"))
        .expectReplyEnd();
    main_->tabs()->setCurrentIndex(MainWindow::TabDetails);
    played();
    QCOMPARE(two_->details->model.rowCount(), 3);
    request("DETAILS 10").expectRecord(totals(10)).expectReplyEnd();
    two_->details->btnRefresh->click();
    played();
    QCOMPARE(two_->details->model.rowCount(), 3);
    // Received broadcasts left out while the box is ticked.
    two_->details->chkExcludeRecvBC->setChecked(true);
    request("DETAILS 10").expectRecord(totals(12))
        .expectRecord(detailRecord(11, "<<  ")).expectRecord(detailRecord(12, "  =>")).expectReplyEnd();
    two_->details->btnRefresh->click();
    played();
    QCOMPARE(two_->details->model.rowCount(), 4);
    QCOMPARE(two_->detailsStart(), 12u);
  }

  void clearStartsTheGridsAfterItsNumber() {
    // "&Clear" on the Details tab: TOTAL, then only packets after its number.
    request("TOTAL").expectRecord(totals(40)).expectReplyEnd();
    two_->details->btnClear->click();
    played();
    QCOMPARE(two_->details->model.rowCount(), 0);
    QCOMPARE(two_->errorsStart(), 40u);
    QCOMPARE(two_->sessions->model.mode(), CounterMode::Count);
    QVERIFY(two_->sessions->optCounter->isChecked());
    request("ERRORS 40").expectRecord(totals(41)).expectRecord(detailRecord(41, "<=  ")).expectReplyEnd();
    main_->tabs()->setCurrentIndex(MainWindow::TabErrors);
    played();
    QCOMPARE(two_->errors->model.rowCount(), 1);
    // "&Reset CLEAR": Totals, and the shown Errors tab fetched again from 0.
    request("ERRORS 0").expectRecord(totals(41))
        .expectRecord(detailRecord(5, "<=  ")).expectRecord(detailRecord(41, "<=  ")).expectReplyEnd();
    main_->mnuOptResetClear->trigger();
    played();
    QCOMPARE(two_->errors->model.rowCount(), 2);
    QVERIFY(two_->sessions->optTotals->isChecked());
  }

  void detailsFailuresShowTheirMessages() {
    messages_.clear();
    request("DETAILS 0").expectReadFailure().expectReplyEnd();
    two_->refreshPackets(two_->details, "DETAILS");
    played();
    QCOMPARE(messages_, QStringList({"Read of Total Stats FAILED"}));
    messages_.clear();
    request("DETAILS 0").expectRecord(totals(12)).expectReplyEnd();
    two_->refreshPackets(two_->details, "PACKETS");
    played();
    QCOMPARE(messages_, QStringList({"DETAILS REQUEST ERROR"}));
    messages_.clear();
  }

  void broadcastsTitleAndFailures() {
    BroadcastHeaderRecord h{};
    std::memcpy(h.tag, kBroadcastHeaderTag, 4);
    std::memcpy(h.now, "10:00:00", 8);
    std::memcpy(h.windowStart, "09:45:00", 8);
    h.windowCount = 1;
    h.entryCount = 1;
    request("BCASTSENT HIGH").expectRecord(h).expectRecord(broadcastEntry(1, "PC1", "09:59:00", 1, 0)).expectReplyEnd();
    main_->tabs()->setCurrentIndex(MainWindow::TabBroadcasts);
    played();
    QCOMPARE(two_->broadcasts->lblTitle->text(),
             QString("1 broadcast, 1 type of broadcast, sent by Local within the last 15 minutes from 09:45:00 to 10:00:00"));
    QCOMPARE(two_->broadcasts->model.rowCount(), 1);
    // Low level: " LOW", and a reply without its header record.
    request("BCASTSENT LOW").expectRecord(totals(1)).expectReplyEnd();
    two_->broadcasts->chkBcastLowLevelDescr->setChecked(true);
    played();
    QCOMPARE(messages_, QStringList({"VELTRIS ERROR - Reply failure"}));
    QCOMPARE(two_->broadcasts->model.headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("Low Level Description"));
    messages_.clear();
  }

  void adapterRowsFollowTheMedia() {
    access_->expectWrite("OID").expectRecord(header());
    access_->expectRead(oid(1, "Ethernet")).expectRead(oid(2, "Token Ring")).expectReplyEnd();
    main_->tabs()->setCurrentIndex(MainWindow::TabAdapter);
    played();
    QVERIFY(two_->adapter->btnRefresh->isDefault());
    QCOMPARE(two_->adapter->model.value(AdapterModel::kMediaRow, 1), QString("Token Ring"));
    QVERIFY(!two_->adapter->gridAdapter->isRowHidden(AdapterModel::kFirstEthernetRow));
    QVERIFY(!two_->adapter->gridAdapter->isRowHidden(AdapterModel::kLastTokenRingRow));
    access_->expectWrite("OID").expectRecord(header()).expectRead(oid(1, "Ethernet")).expectReplyEnd();
    two_->adapter->btnRefresh->click();
    played();
    QVERIFY(two_->adapter->gridAdapter->isRowHidden(AdapterModel::kFirstTokenRingRow));
    QCOMPARE(two_->adapter->model.value(AdapterModel::kMediaRow, 1), QString());
  }

  void adapterColumnsOnlyForReportedAdapters() {
    QTableView* grid = two_->adapter->gridAdapter;
    auto named = [](uint32_t adapter, const char* media, const char* description) {
      auto r = oid(adapter, media);
      std::memcpy(r.data() + 72, description, std::strlen(description));
      return r;
    };
    const char* longText = "Intel(R) PRO/1000 MT Desktop Adapter, the long description";
    access_->expectWrite("OID").expectRecord(header());
    access_->expectRead(named(1, "Ethernet", longText)).expectRead(named(3, "Ethernet", "lo")).expectReplyEnd();
    two_->adapter->btnRefresh->click();
    played();
    for (int c = 1; c <= AdapterModel::kAdapters; ++c)
      QVERIFY2(grid->isColumnHidden(c) == (c != 1 && c != 3), qPrintable(QString::number(c)));
    // Sized to content: adapter #1's description is not cut.
    QVERIFY(grid->columnWidth(1) >= grid->fontMetrics().horizontalAdvance(longText));
    access_->expectWrite("OID").expectRecord(header()).expectRead(named(1, "Ethernet", "eth0")).expectReplyEnd();
    two_->adapter->btnRefresh->click();
    played();
    QVERIFY(grid->isColumnHidden(3));
    QVERIFY(!grid->isColumnHidden(1));
  }

  void gridsFitPacketNumbersAndShowTheSort() {
    for (PacketsTab* tab : {two_->details, two_->errors}) {
      QFont font = tab->grid->font();
      QVERIFY(tab->grid->columnWidth(PacketsModel::kPktColumn) >
              QFontMetrics(font).horizontalAdvance("4294967295"));
    }
    main_->tabs()->setCurrentIndex(MainWindow::TabSessions);
    QHeaderView* header = two_->sessions->gridSess->horizontalHeader();
    QVERIFY(header->isSortIndicatorShown());
    struct Click {
      int column;
      int indicator;
      Qt::SortOrder order;
    };
    // Name sorts up, a counter down; a column that does not sort leaves the indicator where it was.
    for (Click click : {Click{4, 4, Qt::AscendingOrder}, Click{SessionsModel::kFirstCounterColumn,
                                                             SessionsModel::kFirstCounterColumn, Qt::DescendingOrder}}) {
      const int x = header->sectionViewportPosition(click.column) + header->sectionSize(click.column) / 2;
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
      QCOMPARE(header->sortIndicatorSection(), click.indicator);
      QCOMPARE(header->sortIndicatorOrder(), click.order);
    }
    main_->tabs()->setCurrentIndex(MainWindow::TabOverview);
  }

  void testTabRunsConfigAndCheckedCommands() {
    request("CMD CONFIG").expectRecord(text("Computer Name : PC1\r\nIP : 10.0.0.1\r\n   ")).expectReplyEnd();
    main_->tabs()->setCurrentIndex(MainWindow::TabTest);
    played();
    QCOMPARE(two_->test->tbxTest->toPlainText(), QString("\nComputer Name : PC1\nIP : 10.0.0.1"));
    // Refused commands send nothing.
    for (const char* refused : {"net use x: \\\\srv\\c", "dir", "  "}) two_->runTypedCommand(refused);
    QCOMPARE(messages_.size(), 3);
    QVERIFY(access_->finished());
    messages_.clear();
    request("CMD netstat").expectRecord(text("Active Connections")).expectReplyEnd();
    two_->test->cmbCmd->setEditText("netstat");
    two_->test->btnCmd->click();
    QVERIFY(two_->diagnosticRunning());
    played();
    QCOMPARE(two_->test->tbxTest->toPlainText(), QString("\nActive Connections"));
    // A grid's "Ping" opens the tab and runs its command there.
    main_->tabs()->setCurrentIndex(MainWindow::TabSessions);
    request("CMD PING peer9").expectRecord(text("Reply from 10.0.0.9")).expectReplyEnd();
    two_->runFromGrid("PING peer9");
    played();
    QCOMPARE(main_->tabs()->currentIndex(), int(MainWindow::TabTest));
    QCOMPARE(two_->test->tbxTest->toPlainText(), QString("\nReply from 10.0.0.9"));
  }

  void sessionsModesThroughThePollCycle() {
    main_->tabs()->setCurrentIndex(MainWindow::TabSessions);
    two_->sessions->optDelta->click();
    two_->takeStatRecords({statRecord(1, "A", "IP 10.0.0.9", "peer9", "10:00:01", {130, 3})}, false);
    auto& m = two_->sessions->model;
    QCOMPARE(m.index(0, 6).data().toString(), QString("30"));
    QCOMPARE(m.index(1, 6).data().toString(), QString(""));
    // The partner table was reset on the agent: both grids start over.
    QVERIFY(two_->sessionAndBroadcastDataRows() > 2);
    two_->clearSessionAndBroadcastGrids();
    QCOMPARE(two_->sessionAndBroadcastDataRows(), 0);
    two_->sessions->optTotals->click();
  }

  void f1OpensTheShownTabsTopic() {
    main_->tabs()->setCurrentIndex(MainWindow::TabSessions);
    two_->sessions->gridSess->setFocus();
    QTest::keyClick(two_->sessions->gridSess, Qt::Key_F1);
    QVERIFY(help::currentViewer() != nullptr);
    QCOMPARE(help::currentViewer()->currentUrl().fileName(), QString("sessions.html"));
    help::currentViewer()->close();
  }

  void copyToClipboardIsTabSeparated() {
    two_->sessions->gridSess->clearSelection();
    const QStringList lines = gridText(two_->sessions->gridSess).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), two_->sessions->model.rowCount() + 1);
    QVERIFY(lines.first().startsWith("NIC\tAdapter\tProtocol\tConfig\tName\tTime\tBytes Sent"));
    QVERIFY(!lines.first().contains("Total "));  // the hidden columns stay out
  }

  void testHeadingsStandOnTheirOwnLines() {
    request("CMD TEST")
        .expectRecord(text("----Checking SUBNET Broadcasts-----\r\n10.0.0.255       received\r\n"
                           "----Testing DNS connectivity-----PING 10.0.0.2 (10.0.0.2) 56(84) bytes of data.\r\n"
                           "64 bytes from 10.0.0.2\r\n----Testing WINS connectivity-----\r\nWINS NOT DEFINED\r\n"))
        .expectReplyEnd();
    two_->test->btnTest->click();
    played();
    QCOMPARE(two_->test->tbxTest->toPlainText(),
             QString("\n----Checking SUBNET Broadcasts-----\n10.0.0.255       received\n"
                     "----Testing DNS connectivity-----\nPING 10.0.0.2 (10.0.0.2) 56(84) bytes of data.\n"
                     "64 bytes from 10.0.0.2\n----Testing WINS connectivity-----\nWINS NOT DEFINED"));
  }

  // The grids' menu is captioned with the clicked row's name; a row known only
  // by its hardware address offers nothing a command could reach.
  void rowMenuGreysWhatCannotBeReached_data() {
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ping");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("host name") << "0200000000AA" << "IPX 00001234" << "peer5" << "Ping peer5" << true;
    QTest::newRow("IP address") << "0200000000AB" << "IP 10.0.0.7" << "" << "Ping 10.0.0.7" << true;
    QTest::newRow("hardware address") << "020000000029" << "NetBEUI" << "" << "Ping 020000000029" << false;
    QTest::newRow("hardware address, dotted") << "0200.0000.002a" << "ARP" << "" << "Ping 0200.0000.002a" << false;
    QTest::newRow("NetBIOS station name") << "WS2" << "NetBIOS" << "" << "Ping WS2" << true;
  }

  void rowMenuGreysWhatCannotBeReached() {
    QFETCH(QString, station);
    QFETCH(QString, protocol);
    QFETCH(QString, name);
    QFETCH(QString, ping);
    QFETCH(bool, reachable);
    main_->tabs()->setCurrentIndex(MainWindow::TabSessions);
    two_->clearSessionAndBroadcastGrids();
    two_->takeStatRecords({statRecord(1, station.toLatin1().constData(), protocol.toLatin1().constData(),
                                      name.toLatin1().constData(), "10:00:02", {1, 1})}, false);
    QTableView* grid = two_->sessions->gridSess;
    emit grid->customContextMenuRequested(grid->visualRect(grid->model()->index(0, 1)).center());
    QAction* pingAction = nullptr;
    QAction* veltrisAction = nullptr;
    for (QAction* a : two_->mnuPopupStats->actions()) {
      if (a->text().startsWith("Ping ")) pingAction = a;
      if (a->text().startsWith("VELTRIS ")) veltrisAction = a;
    }
    two_->mnuPopupStats->hide();
    QVERIFY(pingAction != nullptr && veltrisAction != nullptr);
    QCOMPARE(pingAction->text(), ping);
    QCOMPARE(pingAction->isEnabled(), reachable);
    QCOMPARE(veltrisAction->isEnabled(), reachable);
  }

  // "&Clear" stays on the Sessions tab while a day is shown; the counter modes go.
  void sessionsClearOfferedForADay() {
    two_->setTimeBase(false, QString());
    QVERIFY(two_->sessions->btnClear->isVisibleTo(two_->sessions));
    QVERIFY(!two_->sessions->optCounter->isVisibleTo(two_->sessions));
    request("STATS_PRO  0").expectRecord(totals(7)).expectReplyEnd();
    two_->setTimeBase(true, "1 Second");
    played();
    QVERIFY(two_->sessions->btnClear->isVisibleTo(two_->sessions));
    QCOMPARE(two_->sessions->optDelta->text(), QString("Per 1 Second"));
  }

  void settingsSavedOrDeletedOnClose() {
    main_->mnuOptSaveSettings->setChecked(true);
    main_->mnuTabsCompact->setChecked(true);
    two_->sessions->gridSess->setColumnWidth(4, 222);
    two_->sessions->gridSess->setColumnHidden(9, true);  // "Errors", from the header's menu
    two_->saveSettings();
    {
      QSettings raw(settingsFile(), QSettings::IniFormat);
      QCOMPARE(raw.value("Settings/TabsCompact").toBool(), true);
      QCOMPARE(raw.value("Settings/iColWidthName").toInt(), 222);
      QCOMPARE(raw.value("Settings/iColPktsSentREShow").toBool(), false);
      QCOMPARE(raw.value("Settings/iColPktsRecvShow").toBool(), true);
      QCOMPARE(raw.value("Settings/MainWidth").toInt(), main_->normalGeometry().width());
    }
    main_->mnuOptSaveSettings->setChecked(false);
    two_->saveSettings();
    QCOMPARE(QSettings(settingsFile(), QSettings::IniFormat).allKeys(), QStringList({"Settings/SaveSettings"}));
  }
};

QTEST_MAIN(TabsTest)
#include "tabs_test.moc"
