// The tabs after Overview inside the main window, through the scripted access:
// what each fetch sends and how its reply fills the tab, the details start
// numbers with "&Clear", the record-level failures, the command check that
// sends nothing, and the settings with "Save Options on Exit" and "&New".
#include <QHeaderView>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTableView>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fstream>

#include "console/core/desktop_layer.h"
#include "desktop/testing/scripted_access.h"
#include "desktop/messages.h"
#include "console/tabs/console_tabs.h"
#include "console/settings/saved_options.h"
#include "console/tabs/adapter_tab.h"
#include "console/tabs/broadcasts_tab.h"
#include "console/tabs/grid_view.h"
#include "console/tabs/packets_tab.h"
#include "console/tabs/sessions_tab.h"
#include "console/tabs/test_tab.h"
#include "console/tests/window_parts.h"
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
  SessionsTab* sessions_ = nullptr;
  BroadcastsTab* broadcasts_ = nullptr;
  PacketsTab* errors_ = nullptr;
  PacketsTab* details_ = nullptr;
  AdapterTab* adapter_ = nullptr;
  TestTab* test_ = nullptr;

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
    installConsoleTabs(*main_, store(), [](const QString&) { return true; });
    sessions_ = part<SessionsTab>(*main_, "tabSessions");
    broadcasts_ = part<BroadcastsTab>(*main_, "tabBroadcasts");
    errors_ = part<PacketsTab>(*main_, "tabErrors");
    details_ = part<PacketsTab>(*main_, "tabDetails");
    adapter_ = part<AdapterTab>(*main_, "tabAdapter");
    test_ = part<TestTab>(*main_, "tabTest");
    // "&New" left its position: this window takes it, once.
    QCOMPARE(main_->geometry(), QRect(40, 50, 700, 500));
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains("Settings/NewWidth"));
    QCOMPARE(sstMain(*main_).tabPosition(), QTabWidget::South);
    main_->show();
    played();
    timerPoll(*main_).stop();
    QCOMPARE(sessions_->model().rowCount(), 2);
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
    main_->showTab(MainWindow::TabDetails);
    played();
    QCOMPARE(details_->model().rowCount(), 3);
    request("DETAILS 10").expectRecord(totals(10)).expectReplyEnd();
    part<QPushButton>(*details_, "btnRefresh")->click();
    played();
    QCOMPARE(details_->model().rowCount(), 3);
    // Received broadcasts left out while the box is ticked.
    part<QCheckBox>(*details_, "chkExcludeRecvBC")->setChecked(true);
    request("DETAILS 10").expectRecord(totals(12))
        .expectRecord(detailRecord(11, "<<  ")).expectRecord(detailRecord(12, "  =>")).expectReplyEnd();
    part<QPushButton>(*details_, "btnRefresh")->click();
    played();
    QCOMPARE(details_->model().rowCount(), 4);
    QCOMPARE(details_->startNumber(), 12u);
  }

  void clearStartsTheGridsAfterItsNumber() {
    // "&Clear" on the Details tab: TOTAL, then only packets after its number.
    request("TOTAL").expectRecord(totals(40)).expectReplyEnd();
    part<QPushButton>(*details_, "btnClear")->click();
    played();
    QCOMPARE(details_->model().rowCount(), 0);
    QCOMPARE(errors_->startNumber(), 40u);
    QCOMPARE(sessions_->model().mode(), CounterMode::Count);
    QVERIFY(part<QRadioButton>(*sessions_, "optCounter")->isChecked());
    request("ERRORS 40").expectRecord(totals(41)).expectRecord(detailRecord(41, "<=  ")).expectReplyEnd();
    main_->showTab(MainWindow::TabErrors);
    played();
    QCOMPARE(errors_->model().rowCount(), 1);
    // "&Reset CLEAR": Totals, and the shown Errors tab fetched again from 0.
    request("ERRORS 0").expectRecord(totals(41))
        .expectRecord(detailRecord(5, "<=  ")).expectRecord(detailRecord(41, "<=  ")).expectReplyEnd();
    menuItem(*main_, "mnuOptResetClear").trigger();
    played();
    QCOMPARE(errors_->model().rowCount(), 2);
    QVERIFY(part<QRadioButton>(*sessions_, "optTotals")->isChecked());
  }

  void detailsFailuresShowTheirMessages() {
    messages_.clear();
    request("DETAILS 0").expectReadFailure().expectReplyEnd();
    details_->refresh("DETAILS");
    played();
    QCOMPARE(messages_, QStringList({"Read of Total Stats FAILED"}));
    messages_.clear();
    request("DETAILS 0").expectRecord(totals(12)).expectReplyEnd();
    details_->refresh("PACKETS");
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
    main_->showTab(MainWindow::TabBroadcasts);
    played();
    QCOMPARE(broadcasts_->title(),
             QString("1 broadcast, 1 type of broadcast, sent by Local within the last 15 minutes from 09:45:00 to 10:00:00"));
    QCOMPARE(broadcasts_->model().rowCount(), 1);
    // Low level: " LOW", and a reply without its header record.
    request("BCASTSENT LOW").expectRecord(totals(1)).expectReplyEnd();
    part<QCheckBox>(*broadcasts_, "chkBcastLowLevelDescr")->setChecked(true);
    played();
    QCOMPARE(messages_, QStringList({"VELTRIS ERROR - Reply failure"}));
    QCOMPARE(broadcasts_->model().headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("Low Level Description"));
    messages_.clear();
  }

  void adapterRowsFollowTheMedia() {
    access_->expectWrite("OID").expectRecord(header());
    access_->expectRead(oid(1, "Ethernet")).expectRead(oid(2, "Token Ring")).expectReplyEnd();
    main_->showTab(MainWindow::TabAdapter);
    played();
    QVERIFY(part<QPushButton>(*adapter_, "btnAdapterRefresh")->isDefault());
    QCOMPARE(adapter_->model().value(AdapterModel::kMediaRow, 1), QString("Token Ring"));
    QVERIFY(!adapter_->grid()->isRowHidden(AdapterModel::kFirstEthernetRow));
    QVERIFY(!adapter_->grid()->isRowHidden(AdapterModel::kLastTokenRingRow));
    access_->expectWrite("OID").expectRecord(header()).expectRead(oid(1, "Ethernet")).expectReplyEnd();
    part<QPushButton>(*adapter_, "btnAdapterRefresh")->click();
    played();
    QVERIFY(adapter_->grid()->isRowHidden(AdapterModel::kFirstTokenRingRow));
    QCOMPARE(adapter_->model().value(AdapterModel::kMediaRow, 1), QString());
  }

  void adapterColumnsOnlyForReportedAdapters() {
    QTableView* grid = adapter_->grid();
    auto named = [](uint32_t adapter, const char* media, const char* description) {
      auto r = oid(adapter, media);
      std::memcpy(r.data() + 72, description, std::strlen(description));
      return r;
    };
    const char* longText = "Intel(R) PRO/1000 MT Desktop Adapter, the long description";
    access_->expectWrite("OID").expectRecord(header());
    access_->expectRead(named(1, "Ethernet", longText)).expectRead(named(3, "Ethernet", "lo")).expectReplyEnd();
    part<QPushButton>(*adapter_, "btnAdapterRefresh")->click();
    played();
    for (int c = 1; c <= AdapterModel::kAdapters; ++c)
      QVERIFY2(grid->isColumnHidden(c) == (c != 1 && c != 3), qPrintable(QString::number(c)));
    // Sized to content: adapter #1's description is not cut.
    QVERIFY(grid->columnWidth(1) >= grid->fontMetrics().horizontalAdvance(longText));
    access_->expectWrite("OID").expectRecord(header()).expectRead(named(1, "Ethernet", "eth0")).expectReplyEnd();
    part<QPushButton>(*adapter_, "btnAdapterRefresh")->click();
    played();
    QVERIFY(grid->isColumnHidden(3));
    QVERIFY(!grid->isColumnHidden(1));
  }

  void gridsFitPacketNumbersAndShowTheSort() {
    for (PacketsTab* tab : {details_, errors_}) {
      QFont font = tab->grid()->font();
      QVERIFY(tab->grid()->columnWidth(PacketsModel::kPktColumn) >
              QFontMetrics(font).horizontalAdvance("4294967295"));
    }
    main_->showTab(MainWindow::TabSessions);
    QHeaderView* header = sessions_->grid()->horizontalHeader();
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
    main_->showTab(MainWindow::TabOverview);
  }

  void testTabRunsConfigAndCheckedCommands() {
    request("CMD CONFIG").expectRecord(text("Computer Name : PC1\r\nIP : 10.0.0.1\r\n   ")).expectReplyEnd();
    main_->showTab(MainWindow::TabTest);
    played();
    QCOMPARE(test_->output(), QString("\nComputer Name : PC1\nIP : 10.0.0.1"));
    // Refused commands send nothing.
    for (const char* refused : {"net use x: \\\\srv\\c", "dir", "  "}) test_->runTypedCommand(refused);
    QCOMPARE(messages_.size(), 3);
    QVERIFY(access_->finished());
    messages_.clear();
    request("CMD netstat").expectRecord(text("Active Connections")).expectReplyEnd();
    part<QComboBox>(*test_, "cmbCmd")->setEditText("netstat");
    part<QPushButton>(*test_, "btnCmd")->click();
    QVERIFY(test_->diagnosticRunning());
    played();
    QCOMPARE(test_->output(), QString("\nActive Connections"));
    // A grid's "Ping" opens the tab and runs its command there.
    main_->showTab(MainWindow::TabSessions);
    request("CMD PING peer9").expectRecord(text("Reply from 10.0.0.9")).expectReplyEnd();
    test_->runFromGrid("PING peer9");
    played();
    QCOMPARE(sstMain(*main_).currentIndex(), int(MainWindow::TabTest));
    QCOMPARE(test_->output(), QString("\nReply from 10.0.0.9"));
  }

  void sessionsModesThroughThePollCycle() {
    main_->showTab(MainWindow::TabSessions);
    part<QRadioButton>(*sessions_, "optDelta")->click();
    emit main_->statRecordsArrived({statRecord(1, "A", "IP 10.0.0.9", "peer9", "10:00:01", {130, 3})}, false);
    auto& m = sessions_->model();
    QCOMPARE(m.index(0, 6).data().toString(), QString("30"));
    QCOMPARE(m.index(1, 6).data().toString(), QString(""));
    // The partner table was reset on the agent: both grids start over.
    QVERIFY((sessions_->model().rowCount() + broadcasts_->model().rowCount()) > 2);
    emit main_->partnerTableReset();
    QCOMPARE((sessions_->model().rowCount() + broadcasts_->model().rowCount()), 0);
    part<QRadioButton>(*sessions_, "optTotals")->click();
  }

  void f1OpensTheShownTabsTopic() {
    main_->showTab(MainWindow::TabSessions);
    sessions_->grid()->setFocus();
    QTest::keyClick(sessions_->grid(), Qt::Key_F1);
    QVERIFY(help::currentViewer() != nullptr);
    QCOMPARE(help::currentViewer()->currentUrl().fileName(), QString("sessions.html"));
    help::currentViewer()->close();
  }

  void copyToClipboardIsTabSeparated() {
    sessions_->grid()->clearSelection();
    const QStringList lines = gridText(sessions_->grid()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), sessions_->model().rowCount() + 1);
    QVERIFY(lines.first().startsWith("NIC\tAdapter\tProtocol\tConfig\tName\tTime\tBytes Sent"));
    QVERIFY(!lines.first().contains("Total "));  // the hidden columns stay out
  }

  void testHeadingsStandOnTheirOwnLines() {
    request("CMD TEST")
        .expectRecord(text("----Checking SUBNET Broadcasts-----\r\n10.0.0.255       received\r\n"
                           "----Testing DNS connectivity-----PING 10.0.0.2 (10.0.0.2) 56(84) bytes of data.\r\n"
                           "64 bytes from 10.0.0.2\r\n----Testing WINS connectivity-----\r\nWINS NOT DEFINED\r\n"))
        .expectReplyEnd();
    part<QPushButton>(*test_, "btnTest")->click();
    played();
    QCOMPARE(test_->output(),
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
    main_->showTab(MainWindow::TabSessions);
    emit main_->partnerTableReset();
    emit main_->statRecordsArrived({statRecord(1, station.toLatin1().constData(), protocol.toLatin1().constData(),
                                      name.toLatin1().constData(), "10:00:02", {1, 1})}, false);
    QTableView* grid = sessions_->grid();
    emit grid->customContextMenuRequested(grid->visualRect(grid->model()->index(0, 1)).center());
    QAction* pingAction = nullptr;
    QAction* veltrisAction = nullptr;
    for (QAction* a : part<QMenu>(*sessions_, "mnuPopupStats")->actions()) {
      if (a->text().startsWith("Ping ")) pingAction = a;
      if (a->text().startsWith("VELTRIS ")) veltrisAction = a;
    }
    part<QMenu>(*sessions_, "mnuPopupStats")->hide();
    QVERIFY(pingAction != nullptr && veltrisAction != nullptr);
    QCOMPARE(pingAction->text(), ping);
    QCOMPARE(pingAction->isEnabled(), reachable);
    QCOMPARE(veltrisAction->isEnabled(), reachable);
  }

  // The menu's "Details for name/addr" opens the Details tab, which fetches what is new.
  void rowMenuOpensTheDetailsTab() {
    QTableView* grid = sessions_->grid();
    emit grid->customContextMenuRequested(grid->visualRect(grid->model()->index(0, 1)).center());
    QMenu* menu = part<QMenu>(*sessions_, "mnuPopupStats");
    menu->hide();
    const uint32_t start = details_->startNumber();
    request("DETAILS " + std::to_string(start)).expectRecord(totals(start)).expectReplyEnd();
    menu->actions().first()->trigger();
    QCOMPARE(sstMain(*main_).currentIndex(), int(MainWindow::TabDetails));
    played();
    main_->showTab(MainWindow::TabOverview);
  }

  // "&Clear" stays on the Sessions tab while a day is shown; the counter modes go.
  void sessionsClearOfferedForADay() {
    emit main_->timeBaseChanged(false, QString());
    QVERIFY(part<QPushButton>(*sessions_, "btnClear")->isVisibleTo(sessions_));
    QVERIFY(!part<QRadioButton>(*sessions_, "optCounter")->isVisibleTo(sessions_));
    request("STATS_PRO  0").expectRecord(totals(7)).expectReplyEnd();
    emit main_->timeBaseChanged(true, "1 Second");
    played();
    QVERIFY(part<QPushButton>(*sessions_, "btnClear")->isVisibleTo(sessions_));
    QCOMPARE(part<QRadioButton>(*sessions_, "optDelta")->text(), QString("Per 1 Second"));
  }

  void settingsSavedOrDeletedOnClose() {
    menuItem(*main_, "mnuOptSaveSettings").setChecked(true);
    menuItem(*main_, "mnuTabsCompact").setChecked(true);
    sessions_->grid()->setColumnWidth(4, 222);
    sessions_->grid()->setColumnHidden(9, true);  // "Errors", from the header's menu
    main_->findChild<SavedOptions*>()->save();
    {
      QSettings raw(settingsFile(), QSettings::IniFormat);
      QCOMPARE(raw.value("Settings/TabsCompact").toBool(), true);
      QCOMPARE(raw.value("Settings/iColWidthName").toInt(), 222);
      QCOMPARE(raw.value("Settings/iColPktsSentREShow").toBool(), false);
      QCOMPARE(raw.value("Settings/iColPktsRecvShow").toBool(), true);
      QCOMPARE(raw.value("Settings/MainWidth").toInt(), main_->normalGeometry().width());
    }
    menuItem(*main_, "mnuOptSaveSettings").setChecked(false);
    main_->findChild<SavedOptions*>()->save();
    QCOMPARE(QSettings(settingsFile(), QSettings::IniFormat).allKeys(), QStringList({"Settings/SaveSettings"}));
  }
};

QTEST_MAIN(TabsTest)
#include "tabs_test.moc"
