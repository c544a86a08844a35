#pragma once
// Compiled into each whole-program test, whose target defines TAPSORSV_PATH.
// Whole-program test helpers: a private system root, the real TapsorSv
// replaying a capture file, and programs run to their end with their output.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltris::cli::testing {

namespace fs = std::filesystem;

struct ProgramResult {
  int exitCode = -1;  // -1: killed or not started
  std::string out;
  std::string err;
};

// Runs argv[0] with extra "NAME=value" environment entries; killed after `limit`.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         std::chrono::seconds limit = std::chrono::seconds(60));

// A fresh temporary system root, removed with everything in it.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const fs::path& path() const { return path_; }
  // Writes "OpenKey" into the root's registry.
  void setOpenKey(const std::string& key) const;

 private:
  fs::path path_;
};

// TapsorSv -debug on capture files, its output going to a file in the root.
class AgentProcess {
 public:
  AgentProcess() = default;
  ~AgentProcess() { stop(); }
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  bool start(const fs::path& root, const std::vector<std::string>& adapters,
             const std::vector<std::string>& environment);
  // True once the output holds `text`; false when the agent ended or time ran out.
  bool waitForOutput(const std::string& text, std::chrono::seconds limit);
  std::string output() const;
  bool running();
  // Ctrl-C, then its exit status (-1 when it had to be killed or never ran).
  int stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  fs::path outputFile_;
};

// A TCP port that was free a moment ago, for the endpoint mapper.
uint16_t freeTcpPort();

// Evaluates a Python expression over `docs`, the JSON documents in `text`
// (python3's own json module), and returns what it prints.
std::string evalJson(const std::string& text, const std::string& expression);
bool havePython();

}  // namespace veltris::cli::testing
