#include "runner/time_limited_run.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <ctime>

extern char** environ;

namespace veltris::runner {
namespace {

using Clock = std::chrono::steady_clock;

class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attr_);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attr_, 0);  // a group of its own, led by the command
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

bool spawnInOwnGroup(const std::vector<std::string>& words, pid_t& pid) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  SpawnAttributes attributes;
  return posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv.data(), environ) == 0;
}

// True once the command has ended; it stays a zombie (not reaped), so its
// process group id cannot be handed to another process meanwhile.
bool hasEnded(pid_t pid) {
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) return info.si_pid == pid;
    if (errno != EINTR) return true;  // not our child any more: nothing to wait for
  }
}

bool waitForEnd(pid_t pid, std::chrono::milliseconds limit, const sigset_t& childSignal) {
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    if (hasEnded(pid)) return true;
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    timespec timeout{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
    ::sigtimedwait(&childSignal, nullptr, &timeout);  // woken by SIGCHLD, the timeout or a signal
  }
}

void reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

RunOutcome runWithTimeLimit(const std::vector<std::string>& words, std::chrono::milliseconds limit) {
  if (words.empty()) return RunOutcome::NotStarted;
  sigset_t childSignal, previous;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  ::pthread_sigmask(SIG_BLOCK, &childSignal, &previous);  // SIGCHLD is taken by sigtimedwait
  pid_t pid = 0;
  RunOutcome outcome = RunOutcome::NotStarted;
  if (spawnInOwnGroup(words, pid)) {
    outcome = waitForEnd(pid, limit, childSignal) ? RunOutcome::Completed : RunOutcome::TimedOut;
    ::kill(-pid, SIGKILL);  // the command when late, and whatever it started
    reap(pid);
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return outcome;
}

}  // namespace veltris::runner
