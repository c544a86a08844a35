#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/service/service_manager.h"
#include "platform/system_root.h"

namespace veltris::service {
namespace {

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A systemctl stand-in on PATH: logs its arguments and answers "show" with the
// state kept in a file, so the real manager code runs against it.
class FakeSystemctl : public ::testing::Test {
 protected:
  FakeSystemctl() {
    char pattern[] = "/tmp/veltris-scm-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::filesystem::create_directories(dir_ / "bin");
    std::ofstream script(dir_ / "bin/systemctl");
    const std::string d = dir_.string();
    // "show" answers like systemd: the package's unit when the test says so, the
    // one -install wrote when it is there, else not-found; "noshow" plays a
    // machine without a running systemd.
    script << "#!/bin/sh\n"
           << "echo \"$@\" >> '" << d << "/calls'\n"
           << "[ -e '" << d << "/fail' ] && { echo 'Failed to enable unit: Access denied' >&2; exit 1; }\n"
           << "for a in \"$@\"; do case \"$a\" in --root=*) shift;; esac; done\n"
           << "case \"$1\" in show)\n"
           << "  [ -e '" << d << "/noshow' ] && { echo 'System has not been booted with systemd' >&2; exit 1; }\n"
           << "  if [ -e \"" << d << "/root/etc/systemd/system/$2\" ]; then echo LoadState=loaded; echo FragmentPath=/etc/systemd/system/$2\n"
           << "  elif [ -e '" << d << "/packaged' ]; then echo LoadState=loaded; echo FragmentPath=/usr/lib/systemd/system/$2\n"
           << "  else echo LoadState=not-found; echo FragmentPath=; fi\n"
           << "  echo \"ActiveState=$(cat '" << d << "/state' 2>/dev/null || echo inactive)\";;\n"
           << "start) [ -e '" << d << "/refuse' ] && { echo 'Job for TapsorSv.service failed.' >&2; exit 1; };;\n"
           << "esac\nexit 0\n";
    script.close();
    std::filesystem::permissions(dir_ / "bin/systemctl", std::filesystem::perms::owner_all);
    oldPath_ = std::getenv("PATH");
    setenv("PATH", ((dir_ / "bin").string() + ":" + oldPath_).c_str(), 1);
    setenv("VELTRIS_ROOT", (dir_ / "root").c_str(), 1);
  }
  ~FakeSystemctl() override {
    setenv("PATH", oldPath_.c_str(), 1);
    unsetenv("VELTRIS_ROOT");
    std::filesystem::remove_all(dir_);
  }
  void setState(const char* state) { std::ofstream(dir_ / "state") << state; }
  void mark(const char* name) { std::ofstream(dir_ / name) << ""; }
  std::string calls() { return readFile(dir_ / "calls"); }

  std::filesystem::path dir_;
  std::string oldPath_;
  SystemdManager manager;
  ServiceConfig config{"TapsorSv", "VELTRIS Agent Service", "/usr/sbin/TapsorSv", {"Tapsor", "RPCSS"}};
};

TEST_F(FakeSystemctl, CreateWritesANotifyUnitAndEnablesIt) {
  ASSERT_EQ(manager.createService(config), 0);
  std::string unit = readFile(platform::unitDirectory() / "TapsorSv.service");
  EXPECT_NE(unit.find("Description=VELTRIS Agent Service\n"), std::string::npos);
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=/usr/sbin/TapsorSv\n"), std::string::npos);
  EXPECT_NE(calls().find("enable TapsorSv.service"), std::string::npos);
  EXPECT_EQ(manager.createService(config), kErrorServiceExists);
}

// VELTRIS_ROOT is not "/" here: the unit is enabled in that tree, and the
// running systemd is not reloaded.
TEST_F(FakeSystemctl, InstallUnderAnotherRootEnablesThereAndAFailureLeavesNoUnit) {
  ASSERT_EQ(manager.createService(config), 0);
  EXPECT_NE(calls().find("--root=" + platform::systemRoot().string() + " enable TapsorSv.service"), std::string::npos)
      << calls();
  EXPECT_EQ(calls().find("daemon-reload"), std::string::npos);
  ASSERT_EQ(manager.deleteService("TapsorSv"), 0);
  EXPECT_NE(calls().find(" disable TapsorSv.service"), std::string::npos);

  std::ofstream(dir_ / "fail") << "";
  EXPECT_EQ(manager.createService(config), kErrorServiceSpecificError);
  EXPECT_EQ(manager.lastMessage(), "systemctl enable TapsorSv.service: Failed to enable unit: Access denied");
  EXPECT_FALSE(std::filesystem::exists(platform::unitDirectory() / "TapsorSv.service")) << "not half installed";
}

TEST_F(FakeSystemctl, StatesAndControls) {
  EXPECT_EQ(manager.openService("TapsorSv"), kErrorServiceDoesNotExist);
  EXPECT_EQ(manager.stopService("TapsorSv"), kErrorServiceDoesNotExist);
  ASSERT_EQ(manager.createService(config), 0);
  uint32_t state = 0;
  EXPECT_EQ(manager.queryState("TapsorSv", state), 0);
  EXPECT_EQ(state, kStopped);
  EXPECT_EQ(manager.stopService("TapsorSv"), kErrorServiceNotActive);
  EXPECT_EQ(manager.startService("TapsorSv"), 0);
  setState("active");
  EXPECT_EQ(manager.startService("TapsorSv"), kErrorServiceAlreadyRunning);
  EXPECT_EQ(manager.stopService("TapsorSv"), 0);
  EXPECT_NE(calls().find("stop --no-block TapsorSv.service"), std::string::npos);
  setState("deactivating");
  EXPECT_EQ(manager.queryState("TapsorSv", state), 0);
  EXPECT_EQ(state, kStopPending);
}

TEST_F(FakeSystemctl, TheDriverServiceExistsAndNeverRuns) {
  EXPECT_EQ(manager.openService("Tapsor"), 0);
  EXPECT_EQ(manager.stopService("Tapsor"), kErrorServiceNotActive);
}

TEST_F(FakeSystemctl, DeleteRemovesTheUnit) {
  ASSERT_EQ(manager.createService(config), 0);
  EXPECT_EQ(manager.deleteService("TapsorSv"), 0);
  EXPECT_FALSE(std::filesystem::exists(platform::unitDirectory() / "TapsorSv.service"));
  EXPECT_EQ(manager.deleteService("TapsorSv"), kErrorServiceDoesNotExist);
}

// The package's unit in /usr/lib/systemd/system: found, started and stopped,
// never written over or deleted.
TEST_F(FakeSystemctl, APackagedUnitIsControlledButNotReplacedOrDeleted) {
  EXPECT_EQ(manager.packagedUnit("TapsorSv"), "");
  mark("packaged");
  EXPECT_EQ(manager.packagedUnit("TapsorSv"), "/usr/lib/systemd/system/TapsorSv.service");
  EXPECT_EQ(manager.packagedUnit("Tapsor"), "");
  EXPECT_EQ(manager.openService("TapsorSv"), 0);
  EXPECT_EQ(manager.startService("TapsorSv"), 0);
  EXPECT_NE(calls().find("start TapsorSv.service"), std::string::npos);
  setState("active");
  EXPECT_EQ(manager.stopService("TapsorSv"), 0);
  EXPECT_EQ(manager.deleteService("TapsorSv"), kErrorServiceDoesNotExist);
  EXPECT_EQ(calls().find("disable"), std::string::npos) << calls();

  // A unit -install wrote hides the package's: that one goes, the package's enablement stays.
  ASSERT_EQ(manager.createService(config), 0);
  EXPECT_EQ(manager.packagedUnit("TapsorSv"), "");
  std::filesystem::create_directories(platform::systemRoot() / "usr/lib/systemd/system");
  std::ofstream(platform::systemRoot() / "usr/lib/systemd/system/TapsorSv.service") << "[Unit]\n";
  std::ofstream(dir_ / "calls", std::ios::trunc).close();
  EXPECT_EQ(manager.deleteService("TapsorSv"), 0);
  EXPECT_EQ(calls().find("disable"), std::string::npos) << calls();
  EXPECT_EQ(manager.packagedUnit("TapsorSv"), "/usr/lib/systemd/system/TapsorSv.service");
}

// Without a running systemd the unit files of the root decide.
TEST_F(FakeSystemctl, WithoutSystemdTheUnitFilesDecide) {
  mark("noshow");
  EXPECT_EQ(manager.openService("TapsorSv"), kErrorServiceDoesNotExist);
  std::filesystem::create_directories(platform::systemRoot() / "lib/systemd/system");
  std::ofstream(platform::systemRoot() / "lib/systemd/system/TapsorSv.service") << "[Unit]\n";
  EXPECT_EQ(manager.openService("TapsorSv"), 0);
  EXPECT_EQ(manager.packagedUnit("TapsorSv"), "/lib/systemd/system/TapsorSv.service");
  ASSERT_EQ(manager.createService(config), 0);
  EXPECT_EQ(SystemdManager::locateUnit("TapsorSv").fragmentPath, "/etc/systemd/system/TapsorSv.service");
  EXPECT_EQ(manager.packagedUnit("TapsorSv"), "");
}

TEST_F(FakeSystemctl, AFailedStartCarriesSystemctlsWords) {
  mark("packaged");
  mark("refuse");
  EXPECT_EQ(manager.startService("TapsorSv"), kErrorServiceSpecificError);
  EXPECT_EQ(manager.lastMessage(), "systemctl start TapsorSv.service: Job for TapsorSv.service failed.");
}

// The program path is one ExecStart word whatever it holds; the rest of the
// template keeps its hardening and no placeholder survives.
TEST(UnitText, FillsTheTemplateAndQuotesTheProgramWord) {
  struct Case {
    const char* path;
    const char* execStart;
  };
  const Case cases[] = {
      {"/usr/sbin/TapsorSv", "ExecStart=/usr/sbin/TapsorSv\n"},
      {"/tmp/my root/usr/sbin/TapsorSv", "ExecStart=\"/tmp/my root/usr/sbin/TapsorSv\"\n"},
      {"/opt/100%/TapsorSv", "ExecStart=/opt/100%%/TapsorSv\n"},
      {"/opt/a\"b/TapsorSv", "ExecStart=\"/opt/a\\\"b/TapsorSv\"\n"},
  };
  for (const Case& c : cases) {
    std::string unit = SystemdManager::unitText({"TapsorSv", "VELTRIS Agent Service", c.path, {}});
    EXPECT_NE(unit.find(c.execStart), std::string::npos) << unit;
    EXPECT_EQ(unit.find("@PROGRAM@"), std::string::npos);
    EXPECT_EQ(unit.find("@DISPLAY_NAME@"), std::string::npos);
    EXPECT_NE(unit.find("Description=VELTRIS Agent Service\n"), std::string::npos);
    for (const char* line : {"Restart=on-failure\n", "NoNewPrivileges=yes\n", "ProtectSystem=strict\n", "PrivateTmp=yes\n",
                             "StateDirectory=veltris\n", "RuntimeDirectory=veltris\n", "Documentation=man:TapsorSv(8)"})
      EXPECT_NE(unit.find(line), std::string::npos) << line;
  }
}

TEST(SystemErrorText, FormatsTextAndCodeOrNothing) {
  EXPECT_EQ(systemErrorText(5), "Access is denied. (0x5)");
  EXPECT_EQ(systemErrorText(1060), "The specified service does not exist as an installed service. (0x424)");
  EXPECT_EQ(systemErrorText(5, 10), "");
  EXPECT_EQ(systemErrorText(424242), "");
}

TEST(NotifyProtocol, DeliversToTheSocketNamedInTheEnvironment) {
  std::string path = "/tmp/veltris-notify-" + std::to_string(getpid());
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  unlink(path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  EXPECT_TRUE(startedByServiceManager());
  EXPECT_TRUE(notifyServiceManager("READY=1"));
  char buffer[64] = {};
  EXPECT_EQ(recv(fd, buffer, sizeof buffer, 0), 7);
  EXPECT_STREQ(buffer, "READY=1");
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(notifyServiceManager("READY=1"));
  close(fd);
  unlink(path.c_str());
}

}  // namespace
}  // namespace veltris::service
