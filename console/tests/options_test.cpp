// The command check, the settings store, the Tools menu, the small windows
// and the packet export of snapshot files.
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

#include "console/adapter/command_check.h"
#include "console/settings/console_settings.h"
#include "console/dialogs/small_dialogs.h"
#include "console/snapshots/pcap_export.h"
#include "console/tools/tools_menu.h"

using namespace veltris::console;

namespace {

void put16(std::string& s, uint16_t v) { s.append({char(v & 0xff), char(v >> 8)}); }
void put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xff));
}

// A capture image of `lengths` frames, one second apart, inverted as the agent stores it.
std::string dumpImage(const std::vector<uint16_t>& lengths, uint16_t medium = 1) {
  std::string image = "RTSS";
  image.append({1, 1});
  put16(image, medium);
  for (uint16_t w : {2026, 12, 2, 7, 9, 30, 0, 0}) put16(image, w);
  image.append(104, '\0');
  std::vector<uint32_t> offsets;
  for (size_t i = 0; i < lengths.size(); ++i) {
    offsets.push_back(static_cast<uint32_t>(image.size()));
    const uint16_t stored = std::min<uint16_t>(lengths[i], 256);
    put32(image, static_cast<uint32_t>(i * 1000));
    put16(image, lengths[i]);
    put16(image, stored);
    for (uint16_t b = 0; b < stored; ++b) image.push_back(char((b + i) & 0xff));
  }
  const uint32_t table = static_cast<uint32_t>(image.size());
  for (uint32_t o : offsets) put32(image, o);
  image.append(8, '\0');
  for (int i = 0; i < 4; ++i) image[24 + i] = char((table >> (8 * i)) & 0xff);
  const uint32_t tableLength = static_cast<uint32_t>(4 * offsets.size());
  for (int i = 0; i < 4; ++i) image[28 + i] = char((tableLength >> (8 * i)) & 0xff);
  for (char& c : image) c = static_cast<char>(~c);
  return image;
}

void item(std::string& file, const std::string& name, const std::string& data) {
  put32(file, static_cast<uint32_t>(16 + data.size()));
  std::string field = name;
  field.resize(16, '\0');
  file += field + data;
}

// The reply header of the "OPEN " item every snapshot starts with.
std::string openReply() {
  std::string header = "TASK" "19990415" "20261207" "09:30:00";
  put32(header, 8);
  return header;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t at32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void commandCheck_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("refusal");
    const QString netUse = "Sorry NET USE may not be issued.  Please refer to HELP for more information";
    const QString invalid = "Invalid command.  Please select from drop down list.";
    QTest::newRow("empty") << "" << false << "Please enter command text";
    QTest::newRow("blanks") << "   " << false << "Please enter command text";
    QTest::newRow("net use, lower case") << "net use x: \\\\srv\\share" << false << netUse;
    QTest::newRow("bare net use") << "NET USE" << false << netUse;
    QTest::newRow("directory listing") << "dir c:\\" << false << invalid;
    QTest::newRow("prefix without blank") << "PINGER host" << false << invalid;
    QTest::newRow("bare netstat") << "netstat" << true << "";
    QTest::newRow("net view") << "NET VIEW \\\\PC1" << true << "";
    QTest::newRow("ping") << "ping 10.0.0.1" << true << "";
    QTest::newRow("arp") << "ARP -a" << true << "";
    QTest::newRow("route") << "ROUTE PRINT" << true << "";
    QTest::newRow("hidden stop word") << "veltrissv stop" << true << "";
    QTest::newRow("hidden trend word") << "TRENDTEST 5" << true << "";
  }
  void commandCheck() {
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(QString, refusal);
    const CommandCheck check = checkCommand(typed);
    QCOMPARE(check.accepted, accepted);
    QCOMPARE(check.refusal, refusal);
    if (accepted) QCOMPARE(check.command, typed.trimmed());
  }

  void everyListEntryPassesTheCheck() {
    for (const QString& entry : commandListEntries()) QVERIFY2(checkCommand(entry).accepted, qPrintable(entry));
  }

  void settingsWrittenAndDeletedWithSaveOptionsOnExit() {
    QTemporaryDir dir;
    const QString file = dir.filePath("VELTRIS.conf");
    auto store = [&] { return SettingsStore(std::make_unique<QSettings>(file, QSettings::IniFormat)); };
    ConsoleSettings design = store().load();
    QVERIFY(design.mainGeometry.isNull());

    ConsoleSettings changed = design;
    changed.saveSettings = true;
    changed.tabsBottom = true;
    changed.foreground = true;
    changed.columnWidths = {200, 201, 202, 203, 204};
    changed.counterShown[3] = false;
    changed.mainGeometry = QRect(10, 20, 800, 600);
    store().saveOnExit(changed);
    ConsoleSettings read = store().load();
    QVERIFY(read.tabsBottom && read.foreground);
    QCOMPARE(read.columnWidths, changed.columnWidths);
    QCOMPARE(read.counterShown, changed.counterShown);
    QCOMPARE(read.mainGeometry, QRect(10, 20, 800, 600));
    {
      QSettings raw(file, QSettings::IniFormat);
      QCOMPARE(raw.value("Settings/iColWidthName").toInt(), 203);
      QCOMPARE(raw.value("Settings/iColPktsSentREShow").toBool(), false);
      QCOMPARE(raw.value("Settings/MainHeight").toInt(), 600);
    }

    // Unticked: only "SaveSettings" stays, the next start has design-time values.
    read.saveSettings = false;
    store().saveOnExit(read);
    {
      QSettings raw(file, QSettings::IniFormat);
      QCOMPARE(raw.allKeys(), QStringList({"Settings/SaveSettings"}));
      QCOMPARE(raw.value("Settings/SaveSettings").toBool(), false);
    }
    ConsoleSettings next = store().load();
    QVERIFY(!next.saveSettings);
    QCOMPARE(next.tabsBottom, design.tabsBottom);
    QCOMPARE(next.columnWidths, design.columnWidths);
    QVERIFY(next.mainGeometry.isNull());
  }

  void newWindowConsumesTheStoredPosition() {
    QTemporaryDir dir;
    const QString file = dir.filePath("VELTRIS.conf");
    auto store = [&] { return SettingsStore(std::make_unique<QSettings>(file, QSettings::IniFormat)); };
    ConsoleSettings s;
    s.mainGeometry = QRect(0, 0, 640, 480);
    store().saveOnExit(s);
    store().writeNewPosition(QRect(33, 44, 700, 500));
    QCOMPARE(store().load().mainGeometry, QRect(33, 44, 700, 500));
    {
      QSettings raw(file, QSettings::IniFormat);
      for (const char* key : {"NewLeft", "NewTop", "NewWidth", "NewHeight"})
        QVERIFY(!raw.contains(QString("Settings/") + key));
    }
    QCOMPARE(store().load().mainGeometry, QRect(0, 0, 640, 480));
  }

  void defaultStoreIsTheVeltrisApplication() {
    SettingsStore store;
    QVERIFY(store.raw().fileName().endsWith("VELTRIS/VELTRIS.conf"));
  }

  void toolsGreyedWhenMissingOrRemote() {
    QMenu menu;
    const QStringList installed = {"x-terminal-emulator", "gnome-system-monitor", "journalctl", "smbstatus"};
    ToolsMenu tools(&menu, [&](const QString& p) { return installed.contains(p); });
    tools.update(true, "PC7");
    QVERIFY(!tools.action("mnuToolsNCPA")->isEnabled());
    QVERIFY(tools.action("mnuToolsTaskMgr")->isEnabled());
    QCOMPARE(tools.commandOf("mnuToolsTaskMgr"), QStringList({"gnome-system-monitor"}));
    QVERIFY(tools.action("mnuToolsServer")->isEnabled());
    QVERIFY(tools.action("mnuToolsEventViewer")->isEnabled());
    QCOMPARE(tools.commandOf("mnuToolsEventViewer"), QStringList({"x-terminal-emulator", "-e", "journalctl", "-e"}));
    QCOMPARE(tools.action("mnuToolsEventViewer")->text(), QString("Event Viewer \\\\PC7"));
    QCOMPARE(tools.action("mnuToolsWinMSD")->text(), QString("Windows NT Diagnostics \\\\PC7"));
    tools.update(false, "FAR");
    for (const ToolItem& item : toolItems()) QVERIFY2(!tools.action(item.objectName)->isEnabled(), item.objectName);
    QCOMPARE(tools.action("mnuToolsEventViewer")->text(), QString("Event Viewer \\\\FAR"));
  }

  void smallWindowsTexts() {
    LegendDialog legend({}, true);
    QCOMPARE(legend.windowTitle(), QString("Legend"));
    QVERIFY(legend.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(LegendDialog::meanings().size(), 6);
    QVERIFY(LegendDialog::graphNote().startsWith("Graph Horizontal Lines are auto-scaled in powers \r\nof 10"));
    AboutDialog about(false);
    QCOMPARE(about.windowTitle(), QString("About VELTRIS"));
    QVERIFY(!about.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QString info = linuxSystemInfo();
    QVERIFY(info.contains("Kernel:"));
    QVERIFY(info.contains("Network interfaces:"));
    LoopbackWarningDialog warning;
    QCOMPARE(warning.windowTitle(), QString("VELTRIS WARNING"));
  }

  void packetExportWritesOnePcapPerAdapter() {
    QTemporaryDir dir;
    std::string file = "VSN ";
    item(file, "OPEN ", openReply());
    item(file, "DUMP_1", dumpImage({60, 1514, 98}));
    item(file, "DUMP_3", dumpImage({42}, 2));
    put32(file, 0);
    const std::string snapshot = dir.filePath("PC.VSN").toStdString();
    std::ofstream(snapshot, std::ios::binary) << file;

    const PcapExport result = exportSnapshotPackets(snapshot, dir.filePath("out.pcap").toStdString());
    QVERIFY2(result.ok, result.error.c_str());
    QCOMPARE(result.files.size(), size_t{2});
    QCOMPARE(result.files[0].adapter, 1);
    QCOMPARE(result.files[0].frames, 3);
    QCOMPARE(result.files[1].file.filename().string(), std::string("out_3.pcap"));

    const std::string pcap = readAll(result.files[0].file.string());
    QCOMPARE(at32(pcap, 0), 0xa1b2c3d4u);
    QCOMPARE(at32(pcap, 20), 1u);  // Ethernet
    // Second frame: one second after the first, 256 bytes stored of 1514.
    const size_t second = 24 + 16 + 60;
    QCOMPARE(at32(pcap, second) - at32(pcap, 24), 1u);
    QCOMPARE(at32(pcap, second + 8), 256u);
    QCOMPARE(at32(pcap, second + 12), 1514u);
    QCOMPARE(static_cast<uint8_t>(pcap[second + 16 + 5]), uint8_t{6});  // (b + i) pattern
    QCOMPARE(at32(readAll(result.files[1].file.string()), 20), 6u);  // Token Ring
  }

  void packetExportRefusesDamagedFiles_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::newRow("not a snapshot") << QByteArray("PK\3\4xxxxxxxx") << "BAD.VSN: ";
    QTest::newRow("cut item") << QByteArray("VSN \x40\0\0\0OPEN", 12) << "SnapShot file is corrupt";
    std::string noDump = "VSN ";
    item(noDump, "OPEN ", openReply());
    put32(noDump, 0);
    QTest::newRow("no dump") << QByteArray::fromStdString(noDump) << "holds no packets";
    std::string bad = "VSN ";
    item(bad, "OPEN ", openReply());
    std::string image = dumpImage({60});
    image[24] = static_cast<char>(~0x7f);  // frame table offset beyond the image
    image[25] = static_cast<char>(~0x7f);
    item(bad, "DUMP_1", image);
    put32(bad, 0);
    QTest::newRow("frame table outside") << QByteArray::fromStdString(bad) << "packets of adapter 1 are damaged";
  }
  void packetExportRefusesDamagedFiles() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const std::string snapshot = dir.filePath("BAD.VSN").toStdString();
    std::ofstream(snapshot, std::ios::binary).write(bytes.constData(), bytes.size());
    const PcapExport result = exportSnapshotPackets(snapshot, dir.filePath("x").toStdString());
    QVERIFY(!result.ok);
    QVERIFY2(QString::fromStdString(result.error).contains(error), result.error.c_str());
  }
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
