// Which folders may hold the history, creating them, and the drop-in that
// opens one to the service, against a temporary root and a recording systemctl.
#include "platform/service/history_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/system_root.h"

namespace veltris::service {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(HistoryFolderRules, SystemFoldersAreRefusedAndOrdinaryOnesAccepted) {
  struct Case {
    const char* folder;
    bool accepted;
  };
  const Case cases[] = {
      {"/", false},
      {"relative/history", false},
      {"./history", false},
      {"/etc", false},
      {"/etc/", false},
      {"/etc/veltris/history", false},
      {"/usr", false},
      {"/usr/local/history", false},
      {"/bin", false},
      {"/sbin/x", false},
      {"/lib", false},
      {"/lib64/x", false},
      {"/libx32", false},
      {"/boot/grub", false},
      {"/dev/shm/h", false},
      {"/proc/self/cwd", false},
      {"/sys/fs", false},
      {"/run", false},
      {"/run/user/1000/h", false},
      {"/home/alice/history", false},
      {"/root/history", false},
      {"/var", false},
      {"/var/lib", false},
      {"/var/lib/", false},
      {"/var/log", false},
      {"/tmp", false},
      {"/srv", false},
      {"/srv/../etc/cron.d", false},
      {"/var/lib/veltris", true},
      {"/var/lib/veltris/VELTRIS History/", true},
      {"/var/log/veltris", true},
      {"/srv/veltris/history", true},
      {"/data/veltris", true},
      {"/tmp/veltris-history", true},
      {"/opt/veltris/history", true},
      {"/etcetera/history", true},
      {"/library", false},  // every /lib* is refused
  };
  for (const Case& c : cases) {
    const std::string why = historyFolderRefusal(c.folder);
    EXPECT_EQ(why.empty(), c.accepted) << c.folder << ": " << why;
  }
}

TEST(HistoryFolderRules, TextThatCannotBeAFolderNameIsRefused) {
  EXPECT_FALSE(historyFolderRefusal("").empty());
  EXPECT_FALSE(historyFolderRefusal("/srv/a\nb").empty()) << "a newline would split the drop-in";
  EXPECT_FALSE(historyFolderRefusal("/srv/" + std::string(300, 'x')).empty());
  EXPECT_TRUE(historyFolderRefusal("/srv/" + std::string(200, 'x')).empty());
}

class HistoryFolderRoot : public ::testing::Test {
 protected:
  HistoryFolderRoot() {
    char pattern[] = "/tmp/veltris-history-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    root_ = dir_ / "root";
    fs::create_directories(root_ / "var/lib/veltris");
    fs::create_directories(dir_ / "bin");
    std::ofstream script(dir_ / "bin/systemctl");
    script << "#!/bin/sh\necho \"$*\" >> '" << (dir_ / "calls").string() << "'\n"
           << "[ -e '" << (dir_ / "fail").string() << "' ] && { echo 'Access denied' >&2; exit 1; }\nexit 0\n";
    script.close();
    fs::permissions(dir_ / "bin/systemctl", fs::perms::owner_all);
    oldPath_ = std::getenv("PATH");
    ::setenv("PATH", ((dir_ / "bin").string() + ":" + oldPath_).c_str(), 1);
    ::setenv("VELTRIS_ROOT", root_.c_str(), 1);
  }
  ~HistoryFolderRoot() override {
    ::setenv("PATH", oldPath_.c_str(), 1);
    ::unsetenv("VELTRIS_ROOT");
    fs::remove_all(dir_);
  }
  void installUnit() {
    fs::create_directories(root_ / "etc/systemd/system");
    std::ofstream(root_ / "etc/systemd/system/TapsorSv.service") << "[Service]\n";
  }
  std::string calls() { return readFile(dir_ / "calls"); }

  fs::path dir_, root_;
  std::string oldPath_;
};

TEST_F(HistoryFolderRoot, LinksAreJudgedWhereTheyLead) {
  fs::create_symlink("/etc", dir_ / "to-etc");
  fs::create_symlink("/home", dir_ / "to-home");
  EXPECT_NE(historyFolderRefusal((dir_ / "to-etc").string()).find("/etc"), std::string::npos);
  EXPECT_FALSE(historyFolderRefusal((dir_ / "to-etc/cron.d/new").string()).empty());
  EXPECT_FALSE(historyFolderRefusal((dir_ / "to-home/alice").string()).empty());
  EXPECT_TRUE(historyFolderRefusal((dir_ / "plain/new").string()).empty());
}

TEST_F(HistoryFolderRoot, CreatesMissingParentsAndTheFolderItself) {
  const fs::path folder = root_ / "var/lib/veltris/VELTRIS History";
  fs::remove_all(root_ / "var");
  std::string error;
  ASSERT_TRUE(createHistoryFolder(folder.string() + "/", error)) << error;
  EXPECT_TRUE(fs::is_directory(folder));
  struct stat status {};
  ASSERT_EQ(::stat(folder.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0750u);
  ASSERT_EQ(::stat((root_ / "var/lib").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0755u);
  EXPECT_TRUE(createHistoryFolder(folder.string(), error)) << "an existing folder is fine: " << error;

  const fs::path deep = dir_ / "one/two";
  EXPECT_TRUE(createHistoryFolder(deep.string(), error)) << error;
  EXPECT_TRUE(fs::is_directory(deep));
}

TEST_F(HistoryFolderRoot, CreationRefusesSystemFoldersAndFilesInTheWay) {
  std::string error;
  EXPECT_FALSE(createHistoryFolder("/etc/veltris-history-test", error));
  EXPECT_NE(error.find("system folder"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists("/etc/veltris-history-test"));
  EXPECT_FALSE(createHistoryFolder("history", error));
  std::ofstream(dir_ / "file") << "x";
  EXPECT_FALSE(createHistoryFolder((dir_ / "file/below").string(), error));
  EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
}

TEST_F(HistoryFolderRoot, DropInOpensAFolderOutsideTheStateDirectoryAndGoesWhenItIsBack) {
  const fs::path dropIn = root_ / "etc/systemd/system/TapsorSv.service.d/history-folder.conf";
  ASSERT_EQ(historyDropInPath(), dropIn);
  const fs::path folder = dir_ / "100% \"history\"";
  fs::create_directories(folder);

  DropInResult result = updateHistoryDropIn(folder.string() + "/");
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.change, DropInChange::Written);
  const std::string expected = "ReadWritePaths=-\"" + dir_.string() + "/100%% \\\"history\\\"\"\n";
  EXPECT_NE(readFile(dropIn).find("[Service]\n" + expected), std::string::npos) << readFile(dropIn);
  EXPECT_EQ(updateHistoryDropIn(folder.string()).change, DropInChange::Unchanged);

  // A link is opened where it leads: that is what systemd mounts.
  fs::create_symlink(folder, dir_ / "link");
  ASSERT_TRUE(updateHistoryDropIn((dir_ / "link").string()).ok);
  EXPECT_NE(readFile(dropIn).find(expected), std::string::npos) << readFile(dropIn);

  result = updateHistoryDropIn("/etc/history");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(readFile(dropIn).find(expected), std::string::npos) << "a refused folder leaves the drop-in as it was";

  EXPECT_EQ(updateHistoryDropIn((root_ / "var/lib/veltris/VELTRIS History/").string()).change, DropInChange::Removed);
  EXPECT_FALSE(fs::exists(dropIn));
  EXPECT_EQ(updateHistoryDropIn("").change, DropInChange::Unchanged);
}

TEST_F(HistoryFolderRoot, ReloadAndRestartOnlyWhereTheAgentIsInstalled) {
  ReloadResult result = reloadAgentUnit(true);
  EXPECT_FALSE(result.reloaded);
  EXPECT_EQ(calls(), "") << "no unit in this root: the running systemd is left alone";

  installUnit();
  result = reloadAgentUnit(false);
  EXPECT_TRUE(result.reloaded);
  EXPECT_FALSE(result.restarted);
  EXPECT_EQ(calls(), "daemon-reload\n");

  result = reloadAgentUnit(true);
  EXPECT_TRUE(result.restarted) << result.error;
  EXPECT_EQ(calls(), "daemon-reload\ndaemon-reload\ntry-restart TapsorSv.service\n");

  std::ofstream(dir_ / "fail") << "";
  result = reloadAgentUnit(true);
  EXPECT_FALSE(result.reloaded);
  EXPECT_EQ(result.error, "systemctl daemon-reload: Access denied");
}

}  // namespace
}  // namespace veltris::service
