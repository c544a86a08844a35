// "Installed here" from each of the ways the agent arrives, under a temporary root.
#include "platform/service/agent_installation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/system_root.h"

namespace veltris::service {
namespace {

namespace fs = std::filesystem;

class InstalledHere : public ::testing::Test {
 protected:
  InstalledHere() {
    char pattern[] = "/tmp/veltris-installed-XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::setenv("VELTRIS_ROOT", root_.c_str(), 1);
  }
  ~InstalledHere() override {
    ::unsetenv("VELTRIS_ROOT");
    fs::remove_all(root_);
  }
  void put(const std::string& relative, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "x\n";
    fs::permissions(root_ / relative, perms);
  }
  fs::path root_;
};

TEST_F(InstalledHere, EachWayOfInstallingCountsAndNothingElseDoes) {
  EXPECT_FALSE(agentInstalledHere()) << "an empty root";
  fs::create_directories(root_ / "etc/veltris");  // a registry with OpenKey only is no install
  reg::Registry registry = reg::Registry::system();
  ASSERT_EQ(registry.createKey(kParametersKey), reg::kSuccess);
  ASSERT_EQ(registry.setString(kParametersKey, "OpenKey", "secret"), reg::kSuccess);
  put("usr/sbin/TapsorSv");  // not executable: not the program
  put("usr/share/doc/TapsorSv.service");
  EXPECT_FALSE(agentInstalledHere());

  struct Case {
    const char* name;
    std::function<void()> make;
    std::function<bool(const AgentInstallation&)> seen;
  };
  const Case cases[] = {
      {"packaged unit in /usr/lib", [&] { put("usr/lib/systemd/system/TapsorSv.service"); },
       [](const AgentInstallation& a) { return a.packagedUnit.has_value() && a.unit(); }},
      {"packaged unit in /lib", [&] { put("lib/systemd/system/TapsorSv.service"); },
       [](const AgentInstallation& a) { return a.packagedUnit.has_value(); }},
      {"unit written by -install", [&] { put("etc/systemd/system/TapsorSv.service"); },
       [](const AgentInstallation& a) { return a.installedUnit.has_value() && a.unit(); }},
      {"program below /usr/local", [&] { put("usr/local/sbin/TapsorSv", fs::perms::owner_all); },
       [](const AgentInstallation& a) { return a.program.has_value() && !a.unit(); }},
      {"SETUP's Title value",
       [&] {
         reg::Registry r = reg::Registry::system();
         r.createKey(kTapsorVersionKey);
         r.setString(kTapsorVersionKey, "Title", "Tapsor Packet Capture");
       },
       [](const AgentInstallation& a) { return a.setupTitle && !a.unit() && !a.program; }},
  };
  for (const Case& c : cases) {
    fs::remove_all(root_ / "usr/lib");
    fs::remove_all(root_ / "lib");
    fs::remove_all(root_ / "etc/systemd");
    fs::remove_all(root_ / "usr/local");
    reg::Registry::system().deleteKey(kTapsorVersionKey);
    ASSERT_FALSE(agentInstalledHere()) << c.name;
    c.make();
    const AgentInstallation found = findAgentInstallation();
    EXPECT_TRUE(found.any()) << c.name;
    EXPECT_TRUE(c.seen(found)) << c.name;
  }
}

// What a user who may not read the registry sees: bit 0 any(), bit 1 the Title.
int seenByAnotherUser() {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    const AgentInstallation found = findAgentInstallation();
    ::_exit((found.any() ? 1 : 0) | (found.setupTitle ? 2 : 0));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A user who may not read the registry still sees the unit and the program.
TEST_F(InstalledHere, AnUnreadableRegistryHidesOnlyTheTitle) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to look as another user";
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  reg::Registry registry = reg::Registry::system();
  fs::create_directories(root_ / "etc/veltris");
  ASSERT_EQ(registry.createKey(kTapsorVersionKey), reg::kSuccess);
  ASSERT_EQ(registry.setString(kTapsorVersionKey, "Title", "Tapsor"), reg::kSuccess);
  EXPECT_TRUE(findAgentInstallation().setupTitle);
  fs::permissions(platform::registryFile(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(seenByAnotherUser(), 0) << "the Title is unreadable and nothing else is there";
  put("etc/systemd/system/TapsorSv.service", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  EXPECT_EQ(seenByAnotherUser(), 1) << "the unit is seen without the registry";
}

}  // namespace
}  // namespace veltris::service
