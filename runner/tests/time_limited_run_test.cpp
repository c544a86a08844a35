#include "runner/time_limited_run.h"

#include <gtest/gtest.h>

#include "tests/support/process_watch.h"

namespace veltris::runner {
namespace {

TEST(TimeLimitedRunTest, OutcomeOfStartedAndUnstartableCommands) {
  EXPECT_EQ(runWithTimeLimit({"true"}, std::chrono::seconds(20)), RunOutcome::Completed);
  EXPECT_EQ(runWithTimeLimit({"false"}, std::chrono::seconds(20)), RunOutcome::Completed);  // status ignored
  EXPECT_EQ(runWithTimeLimit({}, std::chrono::seconds(20)), RunOutcome::NotStarted);
  EXPECT_EQ(runWithTimeLimit({"veltris-no-such-program"}, std::chrono::seconds(20)), RunOutcome::NotStarted);
  EXPECT_EQ(runWithTimeLimit({"/"}, std::chrono::seconds(20)), RunOutcome::NotStarted);
}

TEST(TimeLimitedRunTest, LateCommandIsEndedWithItsGroup) {
  EXPECT_EQ(runWithTimeLimit({"sleep", "30"}, std::chrono::milliseconds(100)), RunOutcome::TimedOut);
}

TEST(TimeLimitedRunTest, WhatACommandLeftRunningIsEndedWithIt) {
  testing::ScratchDir dir;  // the background sleep holds no handle of ours: only the kill ends it
  const std::string script = dir.file("leave.sh", "#!/bin/sh\nsleep 30 >/dev/null 2>&1 &\necho $! > \"$1\"\n");
  const std::string pidFile = dir.path() + "/pid";
  EXPECT_EQ(runWithTimeLimit({script, pidFile}, std::chrono::seconds(20)), RunOutcome::Completed);
  const pid_t left = testing::readPid(pidFile);
  ASSERT_GT(left, 0);
  testing::waitUntilGone(left);
  EXPECT_FALSE(testing::isRunning(left));
}

}  // namespace
}  // namespace veltris::runner
