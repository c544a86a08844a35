#include "agent/diagnostics/external_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "agent/core/runtime.h"
#include "agent/diagnostics/command_table.h"

extern char** environ;

namespace veltris::agent {
namespace {

namespace fs = std::filesystem;

constexpr size_t kReadBufferSize = 4096;
constexpr const char* kRunnerName = "TapsorCC";

bool isRunnerFile(const fs::path& file) {
  std::error_code ec;
  return fs::is_regular_file(file, ec) && ::access(file.c_str(), X_OK) == 0;
}

fs::path foundOnPath() {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "";
  while (!dirs.empty()) {
    const size_t colon = std::min(dirs.find(':'), dirs.size());
    const fs::path candidate = fs::path(dirs.substr(0, colon).empty() ? "." : dirs.substr(0, colon)) / kRunnerName;
    if (isRunnerFile(candidate)) return candidate;
    dirs.remove_prefix(std::min(colon + 1, dirs.size()));
  }
  return {};
}

// The two ends of a pipe, closed when it goes.
class Pipe {
 public:
  Pipe() { ok_ = ::pipe2(ends_, O_CLOEXEC) == 0; }
  ~Pipe() {
    close(0);
    close(1);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return ok_; }
  int readEnd() const { return ends_[0]; }
  int writeEnd() const { return ends_[1]; }
  void close(int end) {
    if (ends_[end] >= 0) ::close(ends_[end]);
    ends_[end] = -1;
  }

 private:
  int ends_[2] = {-1, -1};
  bool ok_ = false;
};

// TapsorCC with standard input from `input` and output and error into `output`;
// no other descriptor of the agent goes with it.
bool startRunner(const fs::path& runner, const std::vector<std::string>& program, const Pipe& input,
                 const Pipe& output, pid_t& pid) {
  std::vector<char*> argv{const_cast<char*>(runner.c_str())};
  for (const std::string& word : program) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input.readEnd(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.writeEnd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.writeEnd(), STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);  // not the mask of the serving thread
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int failed = ::posix_spawn(&pid, runner.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0;
}

// Until the pipe closes: TapsorCC and the command have ended.
void readToEnd(int fd, char* buffer, CommandOutputText& text) {
  for (;;) {
    std::memset(buffer, 0, kReadBufferSize);
    const ssize_t got = ::read(fd, buffer, kReadBufferSize);
    if (got > 0) text.addRead(buffer, static_cast<size_t>(got));
    else if (got == 0 || errno != EINTR) return;
  }
}

void waitForEnd(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

void severeError(AgentRuntime* rt) {
  if (rt == nullptr) {
    consolePrint("TapsorSv SEVERE ERROR: GlobalAlloc FAILED\n");
    return;
  }
  if (rt->messageBox) rt->messageBox("TapsorSv SEVERE ERROR", "GlobalAlloc FAILED");
  if (rt->shutdown) rt->shutdown();
}

size_t copyRefusal(const std::string& text, char* area, size_t capacity) {
  if (capacity == 0) return 0;
  std::memset(area, 0, capacity);
  const size_t length = std::min(text.size(), capacity - 1);
  std::memcpy(area, text.data(), length);
  return length;
}

}  // namespace

// ---- Output text ---------------------------------------------------------------------

CommandOutputText::CommandOutputText(char* area, size_t capacity) : area_(area), capacity_(capacity) {
  if (capacity_ > 0) std::memset(area_, 0, capacity_);
}

void CommandOutputText::addRead(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) put('\r');
    put(bytes[i]);
  }
}

void CommandOutputText::put(char c) {
  if (length_ + 1 >= capacity_) return;  // read and dropped: the text stays terminated
  area_[length_++] = c;
  area_[length_] = '\0';
}

// ---- Running ---------------------------------------------------------------------------

fs::path commandRunnerPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const fs::path& candidate : {self.parent_path() / kRunnerName, self.parent_path() / "../runner" / kRunnerName}) {
      if (isRunnerFile(candidate)) return candidate.lexically_normal();
    }
  }
  return foundOnPath();
}

size_t runThroughCommandRunner(const std::vector<std::string>& program, char* area, size_t capacity, AgentRuntime* rt) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBufferSize]);
  if (!buffer) {
    severeError(rt);
    return 0;
  }
  CommandOutputText text(area, capacity);
  Pipe output, input;  // the agent reads `output` and writes nothing into `input`
  const fs::path runner = commandRunnerPath();
  pid_t pid = 0;
  if (!output.ok() || !input.ok() || runner.empty() || !startRunner(runner, program, input, output, pid)) return 0;
  output.close(1);
  input.close(0);
  readToEnd(output.readEnd(), buffer.get(), text);
  waitForEnd(pid);
  return text.length();
}

size_t runExternalCommand(const char* commandText, char* area, size_t capacity, AgentRuntime* rt) {
  const std::string_view text = commandText != nullptr ? commandText : "";
  const CommandTranslation translation = translateCommand(text);
  if (!translation.permitted) return copyRefusal(refusalText(text, translation.refusal), area, capacity);
  return runThroughCommandRunner(translation.program, area, capacity, rt);
}

size_t runExternalCommand(const char* commandText, char* area, size_t capacity) {
  return runExternalCommand(commandText, area, capacity, nullptr);
}

bool isPermittedCommand(const char* commandText) {
  return translateCommand(commandText != nullptr ? commandText : "").permitted;
}

}  // namespace veltris::agent
