// SETUP end to end, offscreen, against a temporary root with recording
// systemctl and setcap: the install flows the installer must get right.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <fstream>

#include "platform/registry/registry.h"
#include "setup/dialogs.h"
#include "setup/registry_file.h"
#include "setup/settings_dialog.h"
#include "setup/tests/setup_fixture.h"

namespace veltris::setup::testing {
namespace {

namespace fs = std::filesystem;

class SetupFlow : public SetupWorld {
 protected:
  void SetUp() override {
    // The service manager layer talks to systemctl only for root.
    if (::geteuid() != 0) GTEST_SKIP() << "the install flow drives the service manager, which needs root";
  }
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
};

TEST_F(SetupFlow, FirstInstallPutsTheAgentInPlaceAndStartsIt) {
  makeDistribution();
  ASSERT_EQ(runSetup(true, false), 0);

  EXPECT_EQ(read(installed("sbin/TapsorSv")), "#!/bin/sh\necho agent-1\n");
  EXPECT_TRUE(fs::exists(installed("sbin/TapsorCC")));
  EXPECT_TRUE(fs::exists(installed("share/veltris/help/index.html")));
  EXPECT_TRUE(fs::exists(dist_ / "TapsorSv")) << "the distribution is copied, not moved";
  EXPECT_FALSE(fs::exists(temp_ / "TapsorSv")) << "the copy in the temporary folder is moved into place";
  EXPECT_EQ(::access(installed("sbin/TapsorSv").c_str(), X_OK), 0);

  // The five steps in order, the settings as typed, the driver's keys.
  EXPECT_EQ(markedSteps_, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(fs::exists(root_ / "etc/systemd/system/TapsorSv.service.d")) << "the default folder needs no drop-in";
  EXPECT_EQ(text(kParametersKey, "OpenKey"), password_.toStdString());
  EXPECT_EQ(text(kParametersKey, "DataPath"), folder_.toStdString());
  EXPECT_TRUE(fs::is_directory(folder_.toStdString()));
  EXPECT_FALSE(text(kTapsorVersionKey, "Title").empty());
  EXPECT_NE(number(kTapsorVersionKey, "MajorVersion"), 0u);
  EXPECT_NE(number(kTapsorVersionKey, "MinorVersion"), 0u);
  struct stat status{};
  ASSERT_EQ(::stat((root_ / "etc/veltris/registry.reg").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u) << "the registry holds the access key";

  // No capabilities on the program file; the unit written for the installed program, enabled and started.
  EXPECT_EQ(calls("setcap"), "");
  const std::string unit = read(root_ / "etc/systemd/system/TapsorSv.service");
  EXPECT_NE(unit.find("ExecStart=" + installed("sbin/TapsorSv").string() + "\n"), std::string::npos) << unit;
  const std::string systemctl = calls("systemctl");
  EXPECT_NE(systemctl.find("enable TapsorSv.service"), std::string::npos) << systemctl;
  EXPECT_NE(systemctl.find("start TapsorSv.service"), std::string::npos) << systemctl;
  ASSERT_FALSE(prompter_.shown.empty());
  EXPECT_TRUE(prompter_.shown.back().text.startsWith("VELTRIS Monitoring Agent Install complete\r\n"));
  EXPECT_TRUE(prompter_.shown.back().text.contains(
      QString("To start it now, run '%1/bin/veltris-tray &' as yourself").arg(VELTRIS_SETUP_PREFIX)))
      << prompter_.shown.back().text.toStdString();
  EXPECT_EQ(prompter_.beeps, 1) << "the settings dialog beeps once as it opens";
}

// The real agent, installed by SETUP into the temporary root, runs from there:
// it reads the settings typed at install time and answers a client.
TEST_F(SetupFlow, InstalledAgentRunsFromTheRoot) {
  makeDistribution();
  fs::copy_file(TAPSORSV_PATH, dist_ / "TapsorSv", fs::copy_options::overwrite_existing);
  fs::copy_file(TAPSORCC_PATH, dist_ / "TapsorCC", fs::copy_options::overwrite_existing);
  ASSERT_EQ(runSetup(true, false), 0);

  const fs::path trace = dir_ / "trace.pcap";
  ASSERT_EQ(std::system((std::string(MAKE_TRACE_PATH) + " '" + trace.string() + "' 50 3 >/dev/null").c_str()), 0);
  ::setenv("VELTRIS_EPM_PORT", "0", 1);
  const pid_t agent = ::fork();
  if (agent == 0) {
    ::execl(installed("sbin/TapsorSv").c_str(), "TapsorSv", "-debug", trace.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string query = std::string(VELTRIS_CLI_PATH) + " TOTAL > '" + (dir_ / "total.txt").string() + "' 2>&1";
  bool answered = false;
  for (int i = 0; i < 50 && !answered; ++i) {
    answered = std::system(query.c_str()) == 0;  // the key comes from the registry SETUP wrote
    if (!answered) ::usleep(200000);
  }
  ::kill(agent, SIGINT);
  int status = 0;
  ::waitpid(agent, &status, 0);
  ::unsetenv("VELTRIS_EPM_PORT");
  EXPECT_TRUE(answered) << read(dir_ / "total.txt");
  EXPECT_NE(read(dir_ / "total.txt").find("Packet sequence"), std::string::npos);
  EXPECT_FALSE(fs::is_empty(folder_.toStdString())) << "history files in the folder chosen at install time";
}

TEST_F(SetupFlow, SecondInstallReplacesFilesRestartsTheAgentAndLeavesTheDriver) {
  makeDistribution();
  ASSERT_EQ(runSetup(true, false), 0);
  const std::string keys = text(kTapsorVersionKey, "Title");
  std::ofstream(dir_ / "setcap.calls", std::ios::trunc).close();
  std::ofstream(dir_ / "systemctl.calls", std::ios::trunc).close();
  setServiceState("active");

  makeDistribution(QString(), "agent-2");
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_EQ(read(installed("sbin/TapsorSv")), "#!/bin/sh\necho agent-2\n");
  const std::string systemctl = calls("systemctl");
  const size_t stop = systemctl.find("stop --no-block TapsorSv.service"), start = systemctl.find("start TapsorSv.service");
  ASSERT_NE(stop, std::string::npos) << systemctl;
  ASSERT_NE(start, std::string::npos) << systemctl;
  EXPECT_LT(stop, start);
  EXPECT_EQ(systemctl.find("enable"), std::string::npos) << "the service stays registered as it was";
  // The keys stay; the new file has no capabilities and gets none.
  EXPECT_EQ(text(kTapsorVersionKey, "Title"), keys);
  EXPECT_EQ(calls("setcap"), "");
}

TEST_F(SetupFlow, HistoryFolderOutsideTheStateDirectoryIsOpenedToTheService) {
  makeDistribution();
  const fs::path dropIn = root_ / "etc/systemd/system/TapsorSv.service.d/history-folder.conf";
  folder_ = QString::fromStdString((root_ / "srv").string());
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_NE(read(dropIn).find("ReadWritePaths=-\"" + folder_.toStdString() + "\"\n"), std::string::npos) << read(dropIn);
  EXPECT_NE(calls("systemctl").find("daemon-reload"), std::string::npos);

  // A system folder typed at install time is refused in the dialog.
  folder_ = "/etc/veltris-history";
  prompter_.answer("Data Path '/etc", Answer::Ok);
  env_.runSettings = [this](InstallSettingsDialog& dialog) {
    dialog.passwordBox()->setText(password_);
    dialog.confirmBox()->setText(password_);
    dialog.directoryBox()->setText(folder_);
    dialog.ok();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    return int(QDialog::Rejected);
  };
  Installer(env_).run();
  EXPECT_TRUE(prompter_.saw("Data Path '/etc/veltris-history' cannot hold the history: "));
  EXPECT_FALSE(fs::exists("/etc/veltris-history"));

  // Back below the state directory: the drop-in goes.
  folder_ = QString::fromStdString((root_ / "var/lib/veltris/VELTRIS History").string() + "/");
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_FALSE(fs::exists(dropIn));
}

// The Monitoring Agent component brings the LAN taskbar icon: the tray and its
// helper below the prefix, the autostart entry and polkit action where the
// desktop and polkit read them.
TEST_F(SetupFlow, TheAgentComponentInstallsTheTaskbarIcon) {
  makeDistribution();
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_EQ(read(installed("bin/veltris-tray")), "#!/bin/sh\necho tray\n");
  EXPECT_EQ(::access(installed("bin/veltris-tray").c_str(), X_OK), 0);
  EXPECT_EQ(::access(installed("libexec/veltris/veltris-settings-helper").c_str(), X_OK), 0);
  EXPECT_TRUE(fs::exists(root_ / "etc/xdg/autostart/veltris-tray.desktop"));
  EXPECT_TRUE(fs::exists(root_ / "usr/share/polkit-1/actions/org.quorvik.veltris.settings.policy"));
  EXPECT_FALSE(fs::exists(installed("etc/xdg"))) << "not below the prefix, where nothing reads it";
  EXPECT_FALSE(fs::exists(installed("share/polkit-1")));

  fs::remove(dist_ / "veltris-tray.desktop");
  EXPECT_EQ(runSetup(true, false), 1);
  EXPECT_TRUE(prompter_.saw("Could not find file veltris-tray.desktop in directory"));
}

// A fresh root without var/lib: the default folder is made with its parents.
TEST_F(SetupFlow, DefaultFolderIsMadeWithItsParentsInAFreshRoot) {
  makeDistribution();
  fs::remove_all(root_ / "var");
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_FALSE(prompter_.saw("Create Directory FAILED"));
  EXPECT_TRUE(fs::is_directory(folder_.toStdString()));
  EXPECT_EQ(text(kParametersKey, "DataPath"), folder_.toStdString());
}

TEST_F(SetupFlow, OldDriverVersionIsRemovedAndInstalledAgain) {
  makeDistribution();
  registry().createKey(kTapsorVersionKey);
  registry().setString(kTapsorVersionKey, "Title", "old capture");
  registry().setNumber(kTapsorVersionKey, "MajorVersion", 1);
  registry().setNumber(kTapsorVersionKey, "MinorVersion", 0);
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_EQ(calls("setcap"), "");
  EXPECT_NE(text(kTapsorVersionKey, "Title"), "old capture");
  EXPECT_NE(number(kTapsorVersionKey, "MinorVersion"), 0u);
}

TEST_F(SetupFlow, MissingTapsorCCStopsBeforeAnyAgentFile) {
  makeDistribution("TapsorCC");
  EXPECT_EQ(runSetup(true, false), 1);
  EXPECT_TRUE(prompter_.saw(QString("Could not find file TapsorCC in directory %1").arg(QString::fromStdString(dist_.string()))));
  EXPECT_TRUE(fs::exists(installed("share/veltris/help/index.html"))) << "the help book comes first";
  EXPECT_FALSE(fs::exists(installed("sbin")));
  EXPECT_FALSE(fs::exists(temp_ / "TapsorSv"));
  EXPECT_EQ(calls("systemctl").find("start"), std::string::npos);
}

// Every box of a flow reaches the desktop's prompter with its caption, icon and
// buttons; its answer decides the flow.
TEST_F(SetupFlow, BoxesGoThroughTheDesktopPrompter) {
  using desktop::MessageButtons;
  using desktop::MessageIcon;
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool agent, advanced;
    int status;
    const char *text, *title;
    MessageIcon icon;
    MessageButtons buttons;
  };
  const Case cases[] = {
      {"nothing chosen", [] {}, false, false, 0, "Please select at least one component to be installed",
       "VELTRIS Install Error", MessageIcon::Exclamation, MessageButtons::Ok},
      {"file missing", [this] { fs::remove(dist_ / "TapsorSv"); }, true, false, 1, "Could not find file TapsorSv",
       "VELTRIS Setup Error", MessageIcon::Stop, MessageButtons::Ok},
      {"copy fails, Cancel exits",
       [this] {
         fs::create_directories(installed("share"));
         std::ofstream(installed("share/veltris")) << "a file where the folder goes";
       },
       true, false, 1, "Failed to copy files", "VELTRIS Setup Error", MessageIcon::Stop, MessageButtons::RetryCancel},
      {"advanced continuation",
       [this] {
         prepareRegistryFile();
         registry().createKey(kParametersKey);
         registry().setNumber(kParametersKey, "InstallAdvanced", 1);
       },
       false, false, 0, "Do you want to continue with the installation of VELTRIS Advanced support tools ?",
       "VELTRIS Setup", MessageIcon::Question, MessageButtons::YesNo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_ / "usr");
    fs::remove_all(root_ / "etc");
    makeDistribution();
    c.arrange();
    prompter_.reset();
    EXPECT_EQ(runSetup(c.agent, c.advanced), c.status);
    const auto box = std::find_if(prompter_.shown.begin(), prompter_.shown.end(),
                                  [&](const desktop::Message& m) { return m.text.startsWith(c.text); });
    ASSERT_NE(box, prompter_.shown.end());
    EXPECT_EQ(box->title, c.title);
    EXPECT_EQ(box->icon, c.icon);
    EXPECT_EQ(box->buttons, c.buttons);
  }
}

TEST_F(SetupFlow, StartedFromTheTemporaryFolderCopiesInsteadOfMoving) {
  makeDistribution();
  ::setenv("TMPDIR", dist_.c_str(), 1);
  ASSERT_EQ(runSetup(true, false), 0);
  EXPECT_TRUE(fs::exists(dist_ / "TapsorSv"));
  EXPECT_TRUE(fs::exists(dist_ / "TapsorCC"));
  EXPECT_TRUE(fs::exists(installed("sbin/TapsorSv")));
}

TEST_F(SetupFlow, AdvancedToolsAndTheirContinuation) {
  makeDistribution();
  // Chosen in the components dialog: the mark is set and the console's installer started.
  ASSERT_EQ(runSetup(false, true), 0);
  EXPECT_EQ(started_, QStringList{QString::fromStdString((dist_ / "SetupCL").string())});
  EXPECT_EQ(number(kParametersKey, "InstallAdvanced"), 1u);
  EXPECT_FALSE(fs::exists(installed("sbin/TapsorSv")));

  // Started again: the continuation question; Yes runs SetupCL without the components dialog.
  started_.clear();
  ASSERT_EQ(runSetup(false, false), 0);
  EXPECT_TRUE(prompter_.saw("Do you want to continue with the installation of VELTRIS Advanced support tools ?"));
  EXPECT_EQ(componentRuns_, 1);
  EXPECT_EQ(started_.size(), 1);

  // No: the mark is gone and the components dialog opens.
  prompter_.answer("Do you want to continue", Answer::No);
  started_.clear();
  EXPECT_EQ(runSetup(false, true), 0);
  EXPECT_EQ(componentRuns_, 2);
}

TEST_F(SetupFlow, AdvancedToolsNeedTheirFiles) {
  makeDistribution("VELTRS1.tar.gz");
  EXPECT_EQ(runSetup(false, true), 1);
  EXPECT_TRUE(prompter_.saw("Could not find file VELTRS1.tar.gz in directory"));
  EXPECT_TRUE(started_.isEmpty());
}

TEST_F(SetupFlow, WithoutSystemdOnlyTheAdvancedToolsCanBeChosen) {
  makeDistribution();
  env_.hasSystemd = [] { return false; };
  env_.runComponents = [](ComponentsDialog& dialog) {
    EXPECT_FALSE(dialog.agentBox()->isEnabled());
    EXPECT_EQ(dialog.agentBox()->text(), "Agent (This version only supports Linux with systemd)");
    EXPECT_TRUE(dialog.advancedBox()->isEnabled());
    return int(QDialog::Rejected);
  };
  Installer installer(env_);
  EXPECT_EQ(installer.run(), 0);
}

TEST_F(SetupFlow, WithoutAuthorityItOffersToRestartThroughPkexec) {
  makeDistribution();
  std::ofstream(bin_ / "pkexec") << "#!/bin/sh\nexit 0\n";
  fs::permissions(bin_ / "pkexec", fs::perms::owner_all);
  env_.mayInstall = [](const QString&) { return false; };

  prompter_.answer("Installation requires ADMINISTRATOR authority", Answer::No);
  EXPECT_EQ(runSetup(true, false), 1);
  EXPECT_TRUE(started_.isEmpty());

  prompter_.reset();
  EXPECT_EQ(runSetup(true, false), 0);
  ASSERT_EQ(started_.size(), 1);
  EXPECT_TRUE(started_[0].startsWith(QString::fromStdString((bin_ / "pkexec").string()) + " env "));
  EXPECT_TRUE(started_[0].contains("VELTRIS_ROOT=" + QString::fromStdString(root_.string()))) << started_[0].toStdString();
  EXPECT_TRUE(started_[0].endsWith(QCoreApplication::applicationFilePath()));
  EXPECT_EQ(componentRuns_, 0);
  EXPECT_FALSE(fs::exists(installed("sbin")));
}

}  // namespace
}  // namespace veltris::setup::testing

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
