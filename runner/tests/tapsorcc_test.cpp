// TapsorCC as a program: what reaches the command and what it adds to the output.
#include <gtest/gtest.h>

#include "runner/program_packages.h"
#include "tests/support/process_watch.h"

namespace veltris::runner {
namespace {

using testing::runCaptured;

std::string tapsorcc(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), TAPSORCC_PATH);
  return runCaptured(args, input);
}

TEST(TapsorccTest, OutputOfTheCommandPassesThroughUnchanged) {
  EXPECT_EQ(tapsorcc({"printf", "one\\ntwo\\r\\nthree"}), "one\ntwo\r\nthree");
  EXPECT_EQ(tapsorcc({"echo", "hello"}), "hello\n");
  // Standard error and standard input are the ones TapsorCC was given.
  EXPECT_EQ(tapsorcc({"ls", "/veltris-no-such-file"}).find("veltris-no-such-file") != std::string::npos, true);
  EXPECT_EQ(tapsorcc({"cat"}, "typed\n"), "typed\n");
}

TEST(TapsorccTest, QuotedArgumentArrivesAsSeparateWords) {
  EXPECT_EQ(tapsorcc({"printf", "[%s]", "two words", "x"}), "[two][words][x]");
  EXPECT_EQ(tapsorcc({"printf", "[%s]", "  spaced   out  "}), "[spaced][out]");
}

TEST(TapsorccTest, CommandLineIsCutTo255Characters) {
  const std::string output = tapsorcc({"printf", "[%s]", std::string(300, 'a')});
  EXPECT_EQ(output, "[" + std::string(255 - 12, 'a') + "]");  // "printf [%s] " takes 12
}

TEST(TapsorccTest, CommandThatCannotStartGivesTheCreateProcessNote) {
  EXPECT_EQ(tapsorcc({}), "NOTE: CreateProcess FAILED for ''\n");
  EXPECT_EQ(tapsorcc({"veltris-no-such-program", "-x", "quoted arg"}),
            "NOTE: CreateProcess FAILED for 'veltris-no-such-program -x quoted arg'\n");
}

// A program of the agent's command table that is not installed: the note names its package.
TEST(TapsorccTest, AMissingCommandNamesThePackageItComesWith) {
  const std::string output =
      runCaptured({"/usr/bin/env", "PATH=/veltris-no-such-folder", TAPSORCC_PATH, "nmblookup", "-A", "192.0.2.1"});
  EXPECT_EQ(output,
            "NOTE: CreateProcess FAILED for 'nmblookup -A 192.0.2.1'\n"
            "NOTE: nmblookup is not installed; it comes with the package samba-common-bin "
            "(apt install samba-common-bin)\n");
  EXPECT_EQ(missingProgramNote("smbclient", "/veltris-no-such-folder"),
            "NOTE: smbclient is not installed; it comes with the package smbclient (apt install smbclient)\n");
  EXPECT_EQ(missingProgramNote("sh", "/usr/bin:/bin"), "") << "installed";
  EXPECT_EQ(missingProgramNote("veltris-no-such-program", "/veltris-no-such-folder"), "") << "no known package";
}

// Runs for about 20 seconds: the one test of the real limit.
TEST(TapsorccTest, CommandRunningPastTwentySecondsIsEndedWithItsChildren) {
  testing::ScratchDir dir;  // the background sleep keeps no handle on the output: only the group kill ends it
  const std::string script =
      dir.file("slow.sh", "#!/bin/sh\nsleep 25 >/dev/null 2>&1 &\necho $! > \"$1\"\necho started\nsleep 25\necho finished\n");
  const std::string pidFile = dir.path() + "/pid";
  const std::string output = tapsorcc({script, pidFile});
  EXPECT_EQ(output, "started\n\nNOTE: Command '" + script + " " + pidFile +
                        "' was terminated since it did not complete within 20 seconds\n");
  const pid_t child = testing::readPid(pidFile);
  ASSERT_GT(child, 0);
  testing::waitUntilGone(child);
  EXPECT_FALSE(testing::isRunning(child));
}

}  // namespace
}  // namespace veltris::runner
