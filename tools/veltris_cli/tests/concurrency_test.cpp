// Sixteen clients polling "STATS_PRO" and "DETAILS" at once while the agent
// replays a capture file: no call may fail and every reply must keep its
// request's rules. The file comes through a named pipe at a steady rate, so
// that the replay runs all the time the clients poll.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/veltris_cli/load/capture_feed.h"
#include "tools/veltris_cli/load/poll_clients.h"
#include "tests/support/agent_harness.h"

namespace veltris::cli::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kKey[] = "Poll-Key";

// feedCapture in a child process; its frame count comes back through a pipe.
class FeederProcess {
 public:
  bool start(const FeedPlan& plan) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      FeedResult result = feedCapture(plan);
      const uint64_t frames = result.ok ? result.frames : 0;
      [[maybe_unused]] ssize_t n = ::write(fds[1], &frames, sizeof frames);
      ::_exit(result.ok ? 0 : 1);
    }
    ::close(fds[1]);
    resultFd_ = fds[0];
    return pid_ > 0;
  }
  // Frames fed, 0 when the feed failed.
  uint64_t finish() {
    uint64_t frames = 0;
    if (resultFd_ >= 0 && ::read(resultFd_, &frames, sizeof frames) != sizeof frames) frames = 0;
    reap();
    return frames;
  }
  ~FeederProcess() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    reap();
  }

 private:
  void reap() {
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    if (resultFd_ >= 0) ::close(resultFd_);
    pid_ = -1;
    resultFd_ = -1;
  }
  pid_t pid_ = -1;
  int resultFd_ = -1;
};

std::string joined(const std::vector<std::string>& errors) {
  std::string text;
  for (const std::string& e : errors) text += e + "\n";
  return text;
}

TEST(ConcurrentClients, SixteenPollWhileTheAgentReplays) {
  TempRoot root;
  root.setOpenKey(kKey);
  const std::string trace = (root.path() / "trace.pcap").string();
  ASSERT_EQ(runProgram({MAKE_TRACE_PATH, trace, "100000", "500"}, {}).exitCode, 0);
  const std::string pipe = (root.path() / "feed.pcap").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

  FeederProcess feeder;
  FeedPlan feed{pipe, trace, 20000, 12s, 30s};
  ASSERT_TRUE(feeder.start(feed));
  AgentProcess agent;
  ASSERT_TRUE(agent.start(root.path(), {pipe + "@02:00:00:00:00:01"}, {"VELTRIS_EPM_PORT=0"}));
  ASSERT_TRUE(agent.waitForOutput("To Terminate", 30s)) << agent.output();

  PollPlan plan;
  plan.clients = 16;
  plan.requests = {"STATS_PRO", "DETAILS", "STATS_PRO 0", "DETAILS 0"};
  plan.interval = 50ms;
  plan.duration = 4s;
  plan.key = kKey;
  ::setenv("VELTRIS_ROOT", root.path().c_str(), 1);
  PollSummary summary = runPollClients(plan);
  ::unsetenv("VELTRIS_ROOT");
  EXPECT_FALSE(agent.waitForOutput("replayed", 0s)) << "the replay ended before the clients did";

  EXPECT_EQ(summary.failures, 0u) << joined(summary.errors);
  EXPECT_EQ(summary.calls, 16u * 80u);
  EXPECT_EQ(summary.latenciesUs.size(), summary.calls);
  EXPECT_GT(summary.records, 0u);

  const uint64_t fed = feeder.finish();
  ASSERT_GT(fed, 0u);
  EXPECT_TRUE(agent.waitForOutput("replayed: " + std::to_string(fed) + " frames", 30s)) << agent.output();
  EXPECT_EQ(agent.stop(), 0) << agent.output();
}

}  // namespace
}  // namespace veltris::cli::testing
