#pragma once
#include <string>
#include <vector>

namespace veltris::service {

struct CommandResult {
  int exitCode = -1;  // -1 when the program could not be started
  std::string output;  // standard output, at most 64 KiB
  std::string errors;  // standard error (systemctl's own messages), at most 64 KiB
};

// Runs `systemctl args...` (found through PATH) and collects its output.
CommandResult runSystemctl(const std::vector<std::string>& args);

}  // namespace veltris::service
