#pragma once
// Test helpers: a scratch folder with scripts, programs run with their output
// captured, and a look at whether a process still runs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace veltris::runner::testing {

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/veltris-runner-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // An executable file with `text`; returns its path.
  std::string file(const std::string& name, const std::string& text) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << text;
    ::chmod(file.c_str(), 0755);
    return file;
  }

 private:
  std::string path_;
};

// Runs `argv` with standard output and error into one pipe, `input` on standard
// input; returns everything written.
inline std::string runCaptured(const std::vector<std::string>& argv, const std::string& input = {}) {
  int out[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return "<pipe failed>";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int failed = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(in[0]);
  if (!input.empty() && failed == 0) (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(out[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) text.append(buffer, static_cast<size_t>(got));
  }
  ::close(out[0]);
  int status = 0;
  if (failed == 0) ::waitpid(pid, &status, 0);
  return failed == 0 ? text : "<spawn failed>";
}

inline pid_t readPid(const std::string& file) {
  std::ifstream in(file);
  long pid = 0;
  in >> pid;
  return static_cast<pid_t>(pid);
}

// True while `pid` is a live process named `name` (a zombie counts as ended).
inline bool isRunning(pid_t pid, const std::string& name = "sleep") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t open = stat.find('(');
  const size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size()) return false;
  const char state = stat[close + 2];
  return stat.substr(open + 1, close - open - 1) == name && state != 'Z' && state != 'X';
}

// A killed process needs a moment to be torn down; waits at most 5 seconds.
inline void waitUntilGone(pid_t pid, const std::string& name = "sleep") {
  for (int i = 0; i < 500 && isRunning(pid, name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace veltris::runner::testing
