// veltris-settings-helper as the desktop runs it: verbs, folder rules, partial
// writes and the drop-in, against a temporary root and a recording systemctl.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QtTest>

#include "tray/settings_protocol.h"

using namespace veltris::tray::helper;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A temporary root for the helper, with a systemctl that records its calls.
struct HelperRoot {
  HelperRoot() {
    char pattern[] = "/tmp/veltris-helper-XXXXXX";
    dir = ::mkdtemp(pattern);
    root = dir / "root";
    fs::create_directories(root / "etc/veltris");
    fs::create_directories(dir / "bin");
    std::ofstream(dir / "bin/systemctl") << "#!/bin/sh\necho \"$*\" >> '" << (dir / "calls").string() << "'\nexit 0\n";
    fs::permissions(dir / "bin/systemctl", fs::perms::owner_all);
  }
  ~HelperRoot() { fs::remove_all(dir); }

  // Runs the helper in the root with `input` on stdin; answers its exit status.
  int run(const std::string& arguments, const std::string& input = "") const {
    std::ofstream(dir / "in") << input;
    const std::string command = "cd '" + dir.string() + "' && PATH='" + (dir / "bin").string() +
                                ":/usr/bin:/bin' VELTRIS_ROOT='" + root.string() + "' '" SETTINGS_HELPER "' " +
                                arguments + " < in > out 2> err";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string out() const { return readFile(dir / "out"); }
  std::string err() const { return readFile(dir / "err"); }
  std::string registry() const { return readFile(root / "etc/veltris/registry.reg"); }
  std::string calls() const { return readFile(dir / "calls"); }
  bool storeBoth(const std::string& folder, const std::string& key) const {
    return run("write", "DataPath=" + folder + "\nOpenKey=" + key + "\n") == kDone;
  }
  bool holds(const std::string& text) const { return registry().find(text) != std::string::npos; }

  fs::path dir, root;
};

}  // namespace

class SettingsHelperTest : public QObject {
  Q_OBJECT
 private slots:
  void folderVerbsFollowTheFolderRules_data();
  void folderVerbsFollowTheFolderRules();
  void aFolderBelowAFileIsNotMade();
  void refusedWritesLeaveTheRegistryAsItWas_data();
  void refusedWritesLeaveTheRegistryAsItWas();
  void valuesNotGivenAreNotWritten();
  void readAnswersTheFolderAndWhetherAKeyIsStoredNeverTheKey();
  void aNewFolderIsOpenedToTheServiceAndTheAgentRestarted();
};

void SettingsHelperTest::folderVerbsFollowTheFolderRules_data() {
  QTest::addColumn<QString>("verb");
  QTest::addColumn<QString>("folder");  // a leading "@" stands for the test's folder
  QTest::addColumn<int>("status");
  QTest::addColumn<bool>("madeAfter");
  QTest::newRow("check: exists") << QStringLiteral("check") << QStringLiteral("@/exists") << kDone << true;
  QTest::newRow("check: missing") << QStringLiteral("check") << QStringLiteral("@/missing") << kFolderMissing << false;
  QTest::newRow("check: /etc") << QStringLiteral("check") << QStringLiteral("/etc") << kFolderRefused << true;
  QTest::newRow("check: relative") << QStringLiteral("check") << QStringLiteral("relative") << kFolderRefused << false;
  QTest::newRow("mkdir: one level") << QStringLiteral("mkdir") << QStringLiteral("@/one") << kDone << true;
  QTest::newRow("mkdir: two levels") << QStringLiteral("mkdir") << QStringLiteral("@/two/levels deep") << kDone << true;
  QTest::newRow("mkdir: exists") << QStringLiteral("mkdir") << QStringLiteral("@/exists") << kDone << true;
  QTest::newRow("mkdir: below /etc") << QStringLiteral("mkdir") << QStringLiteral("/etc/veltris-helper-test") << kFolderRefused << false;
  QTest::newRow("mkdir: below /usr") << QStringLiteral("mkdir") << QStringLiteral("/usr/local/veltris-helper-test") << kFolderRefused << false;
  QTest::newRow("mkdir: relative") << QStringLiteral("mkdir") << QStringLiteral("relative/history") << kFolderRefused << false;
  QTest::newRow("mkdir: /") << QStringLiteral("mkdir") << QStringLiteral("/") << kFolderRefused << true;
}

void SettingsHelperTest::folderVerbsFollowTheFolderRules() {
  QFETCH(QString, verb);
  QFETCH(QString, folder);
  QFETCH(int, status);
  QFETCH(bool, madeAfter);
  HelperRoot h;
  fs::create_directories(h.dir / "exists");
  std::string path = folder.toStdString();
  if (path.front() == '@') path = h.dir.string() + path.substr(1);
  QVERIFY2(h.run(verb.toStdString() + " '" + path + "'") == status, h.err().c_str());
  std::error_code ec;
  const fs::path where = path.front() == '/' ? fs::path(path) : h.dir / path;
  QCOMPARE(fs::is_directory(where, ec), madeAfter);
}

void SettingsHelperTest::aFolderBelowAFileIsNotMade() {
  HelperRoot h;
  std::ofstream(h.dir / "a-file") << "x";
  QCOMPARE(h.run("mkdir '" + (h.dir / "a-file/below").string() + "'"), kCreateFailed);
  QVERIFY2(h.err().find("not a folder") != std::string::npos, h.err().c_str());
}

void SettingsHelperTest::refusedWritesLeaveTheRegistryAsItWas_data() {
  QTest::addColumn<QString>("input");  // "@" stands for the test's folder
  QTest::addColumn<int>("status");
  QTest::newRow("/etc") << QStringLiteral("DataPath=/etc\nOpenKey=second\n") << kFolderRefused;
  QTest::newRow("a system subfolder") << QStringLiteral("DataPath=/usr/share/history\n") << kFolderRefused;
  QTest::newRow("a relative path") << QStringLiteral("DataPath=history\nOpenKey=second\n") << kFolderRefused;
  QTest::newRow("old two-line form") << QStringLiteral("@/h2\nsecond\n") << kUsage;
  QTest::newRow("unknown name") << QStringLiteral("Password=second\n") << kUsage;
  QTest::newRow("repeated name") << QStringLiteral("OpenKey=a\nOpenKey=b\n") << kUsage;
  QTest::newRow("empty key") << QStringLiteral("OpenKey=\n") << kUsage;
  QTest::newRow("too long") << QStringLiteral("OpenKey=") + QString(256, QLatin1Char('k')) + QStringLiteral("\n")
                            << kUsage;
  QTest::newRow("nothing") << QString() << kUsage;
}

void SettingsHelperTest::refusedWritesLeaveTheRegistryAsItWas() {
  QFETCH(QString, input);
  QFETCH(int, status);
  HelperRoot h;
  QVERIFY2(h.storeBoth((h.dir / "history").string(), "first-key"), h.err().c_str());
  const std::string before = h.registry();
  std::string text = input.toStdString();
  if (!text.empty() && text.front() == '@') text = h.dir.string() + text.substr(1);
  QVERIFY2(h.run("write", text) == status, h.err().c_str());
  QCOMPARE(h.registry(), before);
  QVERIFY(!fs::exists(h.root / "etc/systemd/system/TapsorSv.service.d/history-folder.conf.new"));
}

void SettingsHelperTest::valuesNotGivenAreNotWritten() {
  HelperRoot h;
  const std::string history = (h.dir / "history").string(), other = (h.dir / "other").string();
  QVERIFY2(h.storeBoth(history, "first-key"), h.err().c_str());
  QVERIFY2(h.run("write", "OpenKey=second-key\n") == kDone, h.err().c_str());
  QVERIFY2(h.holds("\"DataPath\"=\"" + history + "\""), h.registry().c_str());
  QVERIFY2(h.holds("\"OpenKey\"=\"second-key\""), h.registry().c_str());
  QVERIFY2(h.run("write", "DataPath=" + other + "\n") == kDone, h.err().c_str());
  QVERIFY2(h.holds("\"OpenKey\"=\"second-key\""), h.registry().c_str());
  QVERIFY2(h.holds("\"DataPath\"=\"" + other + "\""), h.registry().c_str());
}

void SettingsHelperTest::readAnswersTheFolderAndWhetherAKeyIsStoredNeverTheKey() {
  HelperRoot h;
  QVERIFY2(h.run("read") == kDone, h.err().c_str());
  QCOMPARE(h.out(), std::string("DataPath=\nKeyStored=no\n"));
  const std::string history = (h.dir / "history").string();
  QVERIFY2(h.storeBoth(history, "the-secret-key"), h.err().c_str());
  QVERIFY2(h.run("read") == kDone, h.err().c_str());
  QCOMPARE(h.out(), "DataPath=" + history + "\nKeyStored=yes\n");
  QCOMPARE(h.out().find("the-secret-key"), std::string::npos);

  std::istringstream answer(h.out());
  StoredSettings stored;
  QVERIFY(parseStored(answer, stored));
  QCOMPARE(stored.dataPath, history);
  QVERIFY(stored.keyStored);

  std::ofstream(h.root / "etc/veltris/registry.reg") << "not a registry\n";
  QCOMPARE(h.run("read"), kReadFailed);
}

// With the agent's unit in the root: a folder outside the state directory gets
// the drop-in, systemd is reloaded and the agent restarted; a key alone restarts nothing.
void SettingsHelperTest::aNewFolderIsOpenedToTheServiceAndTheAgentRestarted() {
  HelperRoot h;
  fs::create_directories(h.root / "etc/systemd/system");
  std::ofstream(h.root / "etc/systemd/system/TapsorSv.service") << "[Service]\n";
  const fs::path dropIn = h.root / "etc/systemd/system/TapsorSv.service.d/history-folder.conf";
  const std::string history = (h.dir / "history").string();
  const std::string restart = "daemon-reload\ntry-restart TapsorSv.service\n";

  QVERIFY2(h.storeBoth(history, "key"), h.err().c_str());
  QVERIFY2(readFile(dropIn).find("ReadWritePaths=-\"" + history + "\"\n") != std::string::npos, readFile(dropIn).c_str());
  QCOMPARE(h.calls(), restart);

  QVERIFY2(h.run("write", "OpenKey=another\n") == kDone, h.err().c_str());
  QVERIFY2(h.run("write", "DataPath=" + history + "\n") == kDone, h.err().c_str());
  QVERIFY2(h.calls() == restart, "nothing changed for the service");

  QVERIFY2(h.run("write", "DataPath=" + (h.root / "var/lib/veltris/VELTRIS History/").string() + "\n") == kDone,
           h.err().c_str());
  QVERIFY2(!fs::exists(dropIn), "the state directory needs no drop-in");
  QCOMPARE(h.calls(), restart + restart);
}

QTEST_MAIN(SettingsHelperTest)
#include "settings_helper_test.moc"
