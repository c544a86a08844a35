// The file groups: the check names the first missing file; a transfer
// replaces files by rename, so a program that runs keeps its old file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <QString>
#include <filesystem>
#include <fstream>

#include "setup/file_lists.h"

namespace veltris::setup {
namespace {

namespace fs = std::filesystem;

class FileGroups : public ::testing::Test {
 protected:
  FileGroups() {
    char pattern[] = "/tmp/veltris-files-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    fs::create_directories(dir_ / "from/help/pictures");
    fs::create_directories(dir_ / "to");
    std::ofstream(dir_ / "from/TapsorSv") << "new";
    std::ofstream(dir_ / "from/TapsorCC") << "runner";
    std::ofstream(dir_ / "from/help/index.html") << "index";
    std::ofstream(dir_ / "from/help/pictures/tray.svg") << "svg";
  }
  ~FileGroups() override { fs::remove_all(dir_); }
  QString at(const char* sub) const { return QString::fromStdString((dir_ / sub).string()); }
  fs::path dir_;
};

TEST_F(FileGroups, CheckNamesTheFirstMissingFileInListOrder) {
  EXPECT_EQ(firstMissing(agentFilesList(), at("from")), "");
  fs::remove(dir_ / "from/TapsorSv");
  fs::remove(dir_ / "from/TapsorCC");
  EXPECT_EQ(firstMissing(agentFilesList(), at("from")), "TapsorSv");
  EXPECT_EQ(firstMissing(advancedToolsList(), at("from")), "SetupCL");
  EXPECT_EQ(firstMissing(helpList(), at("from")), "");
}

TEST_F(FileGroups, MoveReplacesByRenameAndCopyKeepsTheSource) {
  std::ofstream(dir_ / "to/TapsorSv") << "old";
  const int running = ::open((dir_ / "to/TapsorSv").c_str(), O_RDONLY);  // as a running program holds it
  QString failure;
  ASSERT_TRUE(transferFiles(agentFilesList(), at("from"), at("to"), Transfer::Move, failure)) << failure.toStdString();
  char old[4] = {};
  EXPECT_EQ(::pread(running, old, 3, 0), 3);
  EXPECT_STREQ(old, "old") << "the running program's file is left whole";
  ::close(running);
  std::ifstream now(dir_ / "to/TapsorSv");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(now), {}), "new");
  EXPECT_FALSE(fs::exists(dir_ / "from/TapsorSv"));
  EXPECT_FALSE(fs::exists(dir_ / "to/TapsorSv.setup-new"));

  ASSERT_TRUE(transferFiles(helpList(), at("from"), at("to"), Transfer::Copy, failure));
  EXPECT_TRUE(fs::exists(dir_ / "to/help/pictures/tray.svg"));
  EXPECT_TRUE(fs::exists(dir_ / "from/help/index.html"));
}

TEST_F(FileGroups, FailureSaysWhatCouldNotBeWritten) {
  std::ofstream(dir_ / "blocker") << "a file where a folder should be";
  QString failure;
  EXPECT_FALSE(transferFiles(agentFilesList(), at("from"), at("blocker/sbin"), Transfer::Copy, failure));
  EXPECT_TRUE(failure.contains("blocker/sbin")) << failure.toStdString();
}

}  // namespace
}  // namespace veltris::setup
