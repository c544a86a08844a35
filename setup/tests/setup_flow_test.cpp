#include "setup/tests/setup_flow_test.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/registry/registry.h"
#include "setup/dialogs.h"
#include "setup/installer.h"
#include "setup/registry_file.h"
#include "setup/settings_dialog.h"

Q_DECLARE_METATYPE(veltris::desktop::MessageIcon)
Q_DECLARE_METATYPE(veltris::desktop::MessageButtons)

namespace veltris::setup::testing {
namespace {

namespace fs = std::filesystem;

reg::Registry registry() { return reg::Registry::system(); }

std::string text(const char* key, const char* name) {
  std::string value;
  registry().queryString(key, name, value);
  return value;
}

uint32_t number(const char* key, const char* name) {
  uint32_t value = 0;
  return registry().queryNumber(key, name, value) == 0 ? value : 0xffffffffu;
}

QString qs(const fs::path& p) { return QString::fromStdString(p.string()); }

}  // namespace

void SetupFlowTest::init() {
  // The service manager layer talks to systemctl only for root.
  if (::geteuid() != 0) QSKIP("the install flow drives the service manager, which needs root");
  world_ = std::make_unique<SetupWorld>();
}

void SetupFlowTest::cleanup() { world_.reset(); }

void SetupFlowTest::firstInstallPutsTheAgentInPlaceAndStartsIt() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  QCOMPARE(w.runSetup(true, false), 0);

  QCOMPARE(w.read(w.installed("sbin/TapsorSv")), "#!/bin/sh\necho agent-1\n");
  QVERIFY(fs::exists(w.installed("sbin/TapsorCC")));
  QVERIFY(fs::exists(w.installed("share/veltris/help/index.html")));
  QVERIFY2(fs::exists(w.dist_ / "TapsorSv"), "the distribution is copied, not moved");
  QVERIFY2(!fs::exists(w.temp_ / "TapsorSv"), "the copy in the temporary folder is moved into place");
  QCOMPARE(::access(w.installed("sbin/TapsorSv").c_str(), X_OK), 0);

  // The five steps in order, the settings as typed, the driver's keys.
  QCOMPARE(w.markedSteps_, (std::vector<int>{0, 1, 2, 3, 4}));
  QVERIFY2(!fs::exists(w.root_ / "etc/systemd/system/TapsorSv.service.d"), "the default folder needs no drop-in");
  QCOMPARE(text(kParametersKey, "OpenKey"), w.password_.toStdString());
  QCOMPARE(text(kParametersKey, "DataPath"), w.folder_.toStdString());
  QVERIFY(fs::is_directory(w.folder_.toStdString()));
  QVERIFY(!text(kTapsorVersionKey, "Title").empty());
  QVERIFY(number(kTapsorVersionKey, "MajorVersion") != 0u);
  QVERIFY(number(kTapsorVersionKey, "MinorVersion") != 0u);
  struct stat status{};
  QCOMPARE(::stat((w.root_ / "etc/veltris/registry.reg").c_str(), &status), 0);
  QCOMPARE(status.st_mode & 0777, 0600u);  // the registry holds the access key

  // No capabilities on the program file; the unit written for the installed program, enabled and started.
  QCOMPARE(w.calls("setcap"), "");
  const std::string unit = w.read(w.root_ / "etc/systemd/system/TapsorSv.service");
  QVERIFY2(unit.find("ExecStart=" + w.installed("sbin/TapsorSv").string() + "\n") != std::string::npos, unit.c_str());
  const std::string systemctl = w.calls("systemctl");
  QVERIFY2(systemctl.find("enable TapsorSv.service") != std::string::npos, systemctl.c_str());
  QVERIFY2(systemctl.find("start TapsorSv.service") != std::string::npos, systemctl.c_str());
  QVERIFY(!w.prompter_.shown.empty());
  const QString complete = w.prompter_.shown.back().text;
  QVERIFY(complete.startsWith("VELTRIS Monitoring Agent Install complete\r\n"));
  QVERIFY2(complete.contains(QString("To start it now, run '%1/bin/veltris-tray &' as yourself").arg(VELTRIS_SETUP_PREFIX)),
           qPrintable(complete));
  QCOMPARE(w.prompter_.beeps, 1);  // the settings dialog beeps once as it opens
  // Every window of the run is closed by its end.
  for (QWidget* window : QApplication::topLevelWidgets()) QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
}

// The real agent, installed by SETUP into the temporary root, runs from there:
// it reads the settings typed at install time and answers a client.
void SetupFlowTest::installedAgentRunsFromTheRoot() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  fs::copy_file(TAPSORSV_PATH, w.dist_ / "TapsorSv", fs::copy_options::overwrite_existing);
  fs::copy_file(TAPSORCC_PATH, w.dist_ / "TapsorCC", fs::copy_options::overwrite_existing);
  QCOMPARE(w.runSetup(true, false), 0);

  const fs::path trace = w.dir_ / "trace.pcap";
  QCOMPARE(std::system((std::string(MAKE_TRACE_PATH) + " '" + trace.string() + "' 50 3 >/dev/null").c_str()), 0);
  ::setenv("VELTRIS_EPM_PORT", "0", 1);
  const pid_t agent = ::fork();
  if (agent == 0) {
    ::execl(w.installed("sbin/TapsorSv").c_str(), "TapsorSv", "-debug", trace.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string query = std::string(VELTRIS_CLI_PATH) + " TOTAL > '" + (w.dir_ / "total.txt").string() + "' 2>&1";
  bool answered = false;
  for (int i = 0; i < 50 && !answered; ++i) {
    answered = std::system(query.c_str()) == 0;  // the key comes from the registry SETUP wrote
    if (!answered) ::usleep(200000);
  }
  ::kill(agent, SIGINT);
  int status = 0;
  ::waitpid(agent, &status, 0);
  const std::string total = w.read(w.dir_ / "total.txt");
  QVERIFY2(answered, total.c_str());
  QVERIFY(total.find("Packet sequence") != std::string::npos);
  QVERIFY2(!fs::is_empty(w.folder_.toStdString()), "history files in the folder chosen at install time");
}

void SetupFlowTest::secondInstallReplacesFilesRestartsTheAgentAndLeavesTheDriver() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  QCOMPARE(w.runSetup(true, false), 0);
  const std::string keys = text(kTapsorVersionKey, "Title");
  std::ofstream(w.dir_ / "setcap.calls", std::ios::trunc).close();
  std::ofstream(w.dir_ / "systemctl.calls", std::ios::trunc).close();
  w.setServiceState("active");

  w.makeDistribution(QString(), "agent-2");
  QCOMPARE(w.runSetup(true, false), 0);
  QCOMPARE(w.read(w.installed("sbin/TapsorSv")), "#!/bin/sh\necho agent-2\n");
  const std::string systemctl = w.calls("systemctl");
  const size_t stop = systemctl.find("stop --no-block TapsorSv.service"), start = systemctl.find("start TapsorSv.service");
  QVERIFY2(stop != std::string::npos, systemctl.c_str());
  QVERIFY2(start != std::string::npos, systemctl.c_str());
  QVERIFY(stop < start);
  QVERIFY2(systemctl.find("enable") == std::string::npos, "the service stays registered as it was");
  // The keys stay; the new file has no capabilities and gets none.
  QCOMPARE(text(kTapsorVersionKey, "Title"), keys);
  QCOMPARE(w.calls("setcap"), "");
}

// The stop control is held by systemctl until a timer of the window thread
// lets it go: the windows are served while the service manager works (and
// the progress dialog refuses to be closed meanwhile).
void SetupFlowTest::serviceStepsRunOffTheWindowThread() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  QCOMPARE(w.runSetup(true, false), 0);
  w.setServiceState("active");

  const fs::path hold = w.dir_ / "release";
  ::setenv("SETUP_TEST_HOLD", hold.c_str(), 1);
  int progressShown = 0;
  QTimer releaser;
  QObject::connect(&releaser, &QTimer::timeout, [&] {
    if (!fs::exists(hold.string() + ".held") || fs::exists(hold)) return;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (qobject_cast<ProgressDialog*>(window) && window->isVisible()) {
        window->close();  // refused: only the installer ends it
        if (window->isVisible()) ++progressShown;
      }
    std::ofstream(hold) << "go";
  });
  releaser.start(20);
  const int status = w.runSetup(true, false);
  ::unsetenv("SETUP_TEST_HOLD");
  QCOMPARE(status, 0);
  QCOMPARE(w.read(hold.string() + ".result"), "released\n");
  QCOMPARE(progressShown, 1);
  QCOMPARE(w.markedSteps_, (std::vector<int>{0, 1, 2, 3, 4}));
}

void SetupFlowTest::historyFolderOutsideTheStateDirectoryIsOpenedToTheService() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  const fs::path dropIn = w.root_ / "etc/systemd/system/TapsorSv.service.d/history-folder.conf";
  w.folder_ = qs(w.root_ / "srv");
  QCOMPARE(w.runSetup(true, false), 0);
  QVERIFY2(w.read(dropIn).find("ReadWritePaths=-\"" + w.folder_.toStdString() + "\"\n") != std::string::npos,
           w.read(dropIn).c_str());
  QVERIFY(w.calls("systemctl").find("daemon-reload") != std::string::npos);

  // A system folder typed at install time is refused in the dialog.
  w.folder_ = "/etc/veltris-history";
  w.prompter_.answer("Data Path '/etc", Answer::Ok);
  bool refused = false;
  w.env_.showSettings = [&](InstallSettingsDialog& dialog) {
    dialog.passwordBox()->setText(w.password_);
    dialog.confirmBox()->setText(w.password_);
    dialog.directoryBox()->setText(w.folder_);
    dialog.ok();
    refused = dialog.result() != QDialog::Accepted;
    dialog.done(QDialog::Rejected);
  };
  w.run();
  QVERIFY(refused);
  QVERIFY(w.prompter_.saw("Data Path '/etc/veltris-history' cannot hold the history: "));
  QVERIFY(!fs::exists("/etc/veltris-history"));

  // Back below the state directory: the drop-in goes.
  w.folder_ = qs(w.root_ / "var/lib/veltris/VELTRIS History") + "/";
  QCOMPARE(w.runSetup(true, false), 0);
  QVERIFY(!fs::exists(dropIn));
}

// The Monitoring Agent component brings the LAN taskbar icon: the tray and its
// helper below the prefix, the autostart entry and polkit action where the
// desktop and polkit read them.
void SetupFlowTest::theAgentComponentInstallsTheTaskbarIcon() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  QCOMPARE(w.runSetup(true, false), 0);
  QCOMPARE(w.read(w.installed("bin/veltris-tray")), "#!/bin/sh\necho tray\n");
  QCOMPARE(::access(w.installed("bin/veltris-tray").c_str(), X_OK), 0);
  QCOMPARE(::access(w.installed("libexec/veltris/veltris-settings-helper").c_str(), X_OK), 0);
  QVERIFY(fs::exists(w.root_ / "etc/xdg/autostart/veltris-tray.desktop"));
  QVERIFY(fs::exists(w.root_ / "usr/share/polkit-1/actions/org.quorvik.veltris.settings.policy"));
  QVERIFY2(!fs::exists(w.installed("etc/xdg")), "not below the prefix, where nothing reads it");
  QVERIFY(!fs::exists(w.installed("share/polkit-1")));

  fs::remove(w.dist_ / "veltris-tray.desktop");
  QCOMPARE(w.runSetup(true, false), 1);
  QVERIFY(w.prompter_.saw("Could not find file veltris-tray.desktop in directory"));
}

// A fresh root without var/lib: the default folder is made with its parents.
void SetupFlowTest::defaultFolderIsMadeWithItsParentsInAFreshRoot() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  fs::remove_all(w.root_ / "var");
  QCOMPARE(w.runSetup(true, false), 0);
  QVERIFY(!w.prompter_.saw("Create Directory FAILED"));
  QVERIFY(fs::is_directory(w.folder_.toStdString()));
  QCOMPARE(text(kParametersKey, "DataPath"), w.folder_.toStdString());
}

void SetupFlowTest::oldDriverVersionIsRemovedAndInstalledAgain() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  registry().createKey(kTapsorVersionKey);
  registry().setString(kTapsorVersionKey, "Title", "old capture");
  registry().setNumber(kTapsorVersionKey, "MajorVersion", 1);
  registry().setNumber(kTapsorVersionKey, "MinorVersion", 0);
  QCOMPARE(w.runSetup(true, false), 0);
  QCOMPARE(w.calls("setcap"), "");
  QVERIFY(text(kTapsorVersionKey, "Title") != "old capture");
  QVERIFY(number(kTapsorVersionKey, "MinorVersion") != 0u);
}

// The file check runs before its group is copied: the message names the file
// and the setup folder, and SETUP ends before any agent file or SetupCL.
void SetupFlowTest::missingFileStopsBeforeItsGroupIsCopied_data() {
  QTest::addColumn<QString>("missing");
  QTest::addColumn<bool>("agent");
  QTest::addColumn<bool>("advanced");
  QTest::newRow("TapsorCC") << "TapsorCC" << true << false;
  QTest::newRow("taskbar entry") << "veltris-tray.desktop" << true << false;
  QTest::newRow("tools archive") << "VELTRS1.tar.gz" << false << true;
}

void SetupFlowTest::missingFileStopsBeforeItsGroupIsCopied() {
  QFETCH(QString, missing);
  QFETCH(bool, agent);
  QFETCH(bool, advanced);
  SetupWorld& w = *world_;
  w.makeDistribution(missing);
  QCOMPARE(w.runSetup(agent, advanced), 1);
  QVERIFY(w.prompter_.saw(QString("Could not find file %1 in directory %2").arg(missing, qs(w.dist_))));
  QVERIFY2(fs::exists(w.installed("share/veltris/help/index.html")), "the help book comes first");
  QVERIFY(!fs::exists(w.installed("sbin")));
  QVERIFY(!fs::exists(w.installed("bin")));
  QVERIFY(!fs::exists(w.temp_ / "TapsorSv"));
  QVERIFY(w.calls("systemctl").find("start") == std::string::npos);
  QVERIFY(w.started_.isEmpty());
}

// Every box of a flow reaches the desktop's prompter with its caption, icon and
// buttons; its answer decides the flow.
void SetupFlowTest::boxesGoThroughTheDesktopPrompter_data() {
  using desktop::MessageButtons;
  using desktop::MessageIcon;
  QTest::addColumn<QString>("arrange");
  QTest::addColumn<bool>("agent");
  QTest::addColumn<bool>("advanced");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("title");
  QTest::addColumn<MessageIcon>("icon");
  QTest::addColumn<MessageButtons>("buttons");
  QTest::newRow("nothing chosen") << "" << false << false << 0 << "Please select at least one component to be installed"
                                  << "VELTRIS Install Error" << MessageIcon::Exclamation << MessageButtons::Ok;
  QTest::newRow("file missing") << "no TapsorSv" << true << false << 1 << "Could not find file TapsorSv"
                                << "VELTRIS Setup Error" << MessageIcon::Stop << MessageButtons::Ok;
  QTest::newRow("copy fails, Cancel exits") << "file for help folder" << true << false << 1 << "Failed to copy files"
                                            << "VELTRIS Setup Error" << MessageIcon::Stop << MessageButtons::RetryCancel;
  QTest::newRow("advanced continuation")
      << "advanced mark" << false << false << 0
      << "Do you want to continue with the installation of VELTRIS Advanced support tools ?" << "VELTRIS Setup"
      << MessageIcon::Question << MessageButtons::YesNo;
}

void SetupFlowTest::boxesGoThroughTheDesktopPrompter() {
  QFETCH(QString, arrange);
  QFETCH(bool, agent);
  QFETCH(bool, advanced);
  QFETCH(int, status);
  QFETCH(QString, text);
  QFETCH(QString, title);
  QFETCH(desktop::MessageIcon, icon);
  QFETCH(desktop::MessageButtons, buttons);
  SetupWorld& w = *world_;
  w.makeDistribution();
  if (arrange == "no TapsorSv") {
    fs::remove(w.dist_ / "TapsorSv");
  } else if (arrange == "file for help folder") {
    fs::create_directories(w.installed("share"));
    std::ofstream(w.installed("share/veltris")) << "a file where the folder goes";
  } else if (arrange == "advanced mark") {
    prepareRegistryFile();
    registry().createKey(kParametersKey);
    registry().setNumber(kParametersKey, "InstallAdvanced", 1);
  }
  QCOMPARE(w.runSetup(agent, advanced), status);
  const auto& shown = w.prompter_.shown;
  const auto box = std::find_if(shown.begin(), shown.end(), [&](const desktop::Message& m) { return m.text.startsWith(text); });
  QVERIFY(box != shown.end());
  QCOMPARE(box->title, title);
  QCOMPARE(box->icon, icon);
  QCOMPARE(box->buttons, buttons);
}

void SetupFlowTest::startedFromTheTemporaryFolderCopiesInsteadOfMoving() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  ::setenv("TMPDIR", w.dist_.c_str(), 1);
  QCOMPARE(w.runSetup(true, false), 0);
  QVERIFY(fs::exists(w.dist_ / "TapsorSv"));
  QVERIFY(fs::exists(w.dist_ / "TapsorCC"));
  QVERIFY(fs::exists(w.installed("sbin/TapsorSv")));
}

void SetupFlowTest::advancedToolsAndTheirContinuation() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  // Chosen in the components dialog: the mark is set and the console's installer started.
  QCOMPARE(w.runSetup(false, true), 0);
  QCOMPARE(w.started_, QStringList{qs(w.dist_ / "SetupCL")});
  QCOMPARE(number(kParametersKey, "InstallAdvanced"), 1u);
  QVERIFY(!fs::exists(w.installed("sbin/TapsorSv")));

  // Started again: the continuation question; Yes runs SetupCL without the components dialog.
  w.started_.clear();
  QCOMPARE(w.runSetup(false, false), 0);
  QVERIFY(w.prompter_.saw("Do you want to continue with the installation of VELTRIS Advanced support tools ?"));
  QCOMPARE(w.componentRuns_, 1);
  QCOMPARE(w.started_.size(), 1);

  // No: the mark is gone and the components dialog opens.
  w.prompter_.answer("Do you want to continue", Answer::No);
  w.started_.clear();
  QCOMPARE(w.runSetup(false, true), 0);
  QCOMPARE(w.componentRuns_, 2);
}

void SetupFlowTest::withoutSystemdOnlyTheAdvancedToolsCanBeChosen() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  w.env_.hasSystemd = [] { return false; };
  bool shown = false;
  w.env_.showComponents = [&](ComponentsDialog& dialog) {
    shown = true;
    QVERIFY(!dialog.agentBox()->isEnabled());
    QCOMPARE(dialog.agentBox()->text(), "Agent (This version only supports Linux with systemd)");
    QVERIFY(dialog.advancedBox()->isEnabled());
    dialog.reject();
  };
  QCOMPARE(w.run(), 0);
  QVERIFY(shown);
}

void SetupFlowTest::withoutAuthorityItOffersToRestartThroughPkexec() {
  SetupWorld& w = *world_;
  w.makeDistribution();
  std::ofstream(w.bin_ / "pkexec") << "#!/bin/sh\nexit 0\n";
  fs::permissions(w.bin_ / "pkexec", fs::perms::owner_all);
  w.env_.mayInstall = [](const QString&) { return false; };

  w.prompter_.answer("Installation requires ADMINISTRATOR authority", Answer::No);
  QCOMPARE(w.runSetup(true, false), 1);
  QVERIFY(w.started_.isEmpty());

  w.prompter_.reset();
  QCOMPARE(w.runSetup(true, false), 0);
  QCOMPARE(w.started_.size(), 1);
  QVERIFY(w.started_[0].startsWith(qs(w.bin_ / "pkexec") + " env "));
  QVERIFY2(w.started_[0].contains("VELTRIS_ROOT=" + qs(w.root_)), qPrintable(w.started_[0]));
  QVERIFY(w.started_[0].endsWith(QCoreApplication::applicationFilePath()));
  QCOMPARE(w.componentRuns_, 0);
  QVERIFY(!fs::exists(w.installed("sbin")));
}

}  // namespace veltris::setup::testing
