// veltris-settings-helper as the desktop runs it: verbs, folder rules, partial
// writes and the drop-in, against a temporary root and a recording systemctl.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tray/settings_protocol.h"

namespace veltris::tray::helper {
namespace {

namespace fs = std::filesystem;

class SettingsHelperProgram : public ::testing::Test {
 protected:
  SettingsHelperProgram() {
    char pattern[] = "/tmp/veltris-helper-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    root_ = dir_ / "root";
    fs::create_directories(root_ / "etc/veltris");
    fs::create_directories(dir_ / "bin");
    std::ofstream(dir_ / "bin/systemctl") << "#!/bin/sh\necho \"$*\" >> '" << (dir_ / "calls").string() << "'\nexit 0\n";
    fs::permissions(dir_ / "bin/systemctl", fs::perms::owner_all);
  }
  ~SettingsHelperProgram() override { fs::remove_all(dir_); }

  // Runs the helper in the root with `input` on stdin; answers its exit status.
  int run(const std::string& arguments, const std::string& input = "") {
    std::ofstream(dir_ / "in") << input;
    const std::string command = "cd '" + dir_.string() + "' && PATH='" + (dir_ / "bin").string() + ":/usr/bin:/bin' VELTRIS_ROOT='" +
                                root_.string() + "' '" SETTINGS_HELPER "' " + arguments + " < in > out 2> err";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string read(const fs::path& p) const {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string out() const { return read(dir_ / "out"); }
  std::string err() const { return read(dir_ / "err"); }
  std::string registry() const { return read(root_ / "etc/veltris/registry.reg"); }
  std::string calls() const { return read(dir_ / "calls"); }
  void storeBoth(const std::string& folder, const std::string& key) {
    ASSERT_EQ(run("write", "DataPath=" + folder + "\nOpenKey=" + key + "\n"), kDone) << err();
  }

  fs::path dir_, root_;
};

TEST_F(SettingsHelperProgram, FolderVerbsFollowTheFolderRules) {
  fs::create_directories(dir_ / "exists");
  struct Case {
    std::string verb, folder;
    int status;
    bool madeAfter;
  };
  const Case cases[] = {
      {"check", (dir_ / "exists").string(), kDone, true},
      {"check", (dir_ / "missing").string(), kFolderMissing, false},
      {"check", "/etc", kFolderRefused, true},
      {"check", "relative", kFolderRefused, false},
      {"mkdir", (dir_ / "one").string(), kDone, true},
      {"mkdir", (dir_ / "two/levels deep").string(), kDone, true},
      {"mkdir", (dir_ / "exists").string(), kDone, true},
      {"mkdir", "/etc/veltris-helper-test", kFolderRefused, false},
      {"mkdir", "/usr/local/veltris-helper-test", kFolderRefused, false},
      {"mkdir", "relative/history", kFolderRefused, false},
      {"mkdir", "/", kFolderRefused, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.verb + " '" + c.folder + "'"), c.status) << c.verb << " " << c.folder << ": " << err();
    std::error_code ec;
    const fs::path where = c.folder.front() == '/' ? fs::path(c.folder) : dir_ / c.folder;
    EXPECT_EQ(fs::is_directory(where, ec), c.madeAfter) << c.verb << " " << c.folder;
  }
  std::ofstream(dir_ / "a-file") << "x";
  EXPECT_EQ(run("mkdir '" + (dir_ / "a-file/below").string() + "'"), kCreateFailed);
  EXPECT_NE(err().find("not a folder"), std::string::npos) << err();
}

TEST_F(SettingsHelperProgram, RefusedWritesLeaveTheRegistryAsItWas) {
  storeBoth((dir_ / "history").string(), "first-key");
  const std::string before = registry();
  struct Case {
    const char* what;
    std::string input;
    int status;
  };
  const Case cases[] = {
      {"/etc", "DataPath=/etc\nOpenKey=second\n", kFolderRefused},
      {"a system subfolder", "DataPath=/usr/share/history\n", kFolderRefused},
      {"a relative path", "DataPath=history\nOpenKey=second\n", kFolderRefused},
      {"old two-line form", (dir_ / "h2").string() + "\nsecond\n", kUsage},
      {"unknown name", "Password=second\n", kUsage},
      {"repeated name", "OpenKey=a\nOpenKey=b\n", kUsage},
      {"empty key", "OpenKey=\n", kUsage},
      {"too long", "OpenKey=" + std::string(256, 'k') + "\n", kUsage},
      {"nothing", "", kUsage},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run("write", c.input), c.status) << c.what << ": " << err();
    EXPECT_EQ(registry(), before) << c.what;
  }
  EXPECT_FALSE(fs::exists(root_ / "etc/systemd/system/TapsorSv.service.d/history-folder.conf.new"));
}

TEST_F(SettingsHelperProgram, ValuesNotGivenAreNotWritten) {
  storeBoth((dir_ / "history").string(), "first-key");
  ASSERT_EQ(run("write", "OpenKey=second-key\n"), kDone) << err();
  EXPECT_NE(registry().find("\"DataPath\"=\"" + (dir_ / "history").string() + "\""), std::string::npos) << registry();
  EXPECT_NE(registry().find("\"OpenKey\"=\"second-key\""), std::string::npos) << registry();
  ASSERT_EQ(run("write", "DataPath=" + (dir_ / "other").string() + "\n"), kDone) << err();
  EXPECT_NE(registry().find("\"OpenKey\"=\"second-key\""), std::string::npos) << registry();
  EXPECT_NE(registry().find("\"DataPath\"=\"" + (dir_ / "other").string() + "\""), std::string::npos) << registry();
}

TEST_F(SettingsHelperProgram, ReadAnswersTheFolderAndWhetherAKeyIsStoredNeverTheKey) {
  ASSERT_EQ(run("read"), kDone) << err();
  EXPECT_EQ(out(), "DataPath=\nKeyStored=no\n");
  storeBoth((dir_ / "history").string(), "the-secret-key");
  ASSERT_EQ(run("read"), kDone) << err();
  EXPECT_EQ(out(), "DataPath=" + (dir_ / "history").string() + "\nKeyStored=yes\n");
  EXPECT_EQ(out().find("the-secret-key"), std::string::npos);

  std::istringstream answer(out());
  StoredSettings stored;
  ASSERT_TRUE(parseStored(answer, stored));
  EXPECT_EQ(stored.dataPath, (dir_ / "history").string());
  EXPECT_TRUE(stored.keyStored);

  std::ofstream(root_ / "etc/veltris/registry.reg") << "not a registry\n";
  EXPECT_EQ(run("read"), kReadFailed);
}

// With the agent's unit in the root: a folder outside the state directory gets
// the drop-in, systemd is reloaded and the agent restarted; a key alone restarts nothing.
TEST_F(SettingsHelperProgram, ANewFolderIsOpenedToTheServiceAndTheAgentRestarted) {
  fs::create_directories(root_ / "etc/systemd/system");
  std::ofstream(root_ / "etc/systemd/system/TapsorSv.service") << "[Service]\n";
  const fs::path dropIn = root_ / "etc/systemd/system/TapsorSv.service.d/history-folder.conf";

  storeBoth((dir_ / "history").string(), "key");
  EXPECT_NE(read(dropIn).find("ReadWritePaths=-\"" + (dir_ / "history").string() + "\"\n"), std::string::npos)
      << read(dropIn);
  EXPECT_EQ(calls(), "daemon-reload\ntry-restart TapsorSv.service\n");

  ASSERT_EQ(run("write", "OpenKey=another\n"), kDone) << err();
  ASSERT_EQ(run("write", "DataPath=" + (dir_ / "history").string() + "\n"), kDone) << err();
  EXPECT_EQ(calls(), "daemon-reload\ntry-restart TapsorSv.service\n") << "nothing changed for the service";

  ASSERT_EQ(run("write", "DataPath=" + (root_ / "var/lib/veltris/VELTRIS History/").string() + "\n"), kDone) << err();
  EXPECT_FALSE(fs::exists(dropIn)) << "the state directory needs no drop-in";
  EXPECT_EQ(calls(), "daemon-reload\ntry-restart TapsorSv.service\ndaemon-reload\ntry-restart TapsorSv.service\n");
}

}  // namespace
}  // namespace veltris::tray::helper
