#pragma once
// Runs one command with this process's standard handles and a time limit.
#include <chrono>
#include <string>
#include <vector>

namespace veltris::runner {

enum class RunOutcome {
  NotStarted,  // no words, program not found or not startable
  Completed,
  TimedOut,  // the command and its process group were killed
};

// Starts words[0] (found on PATH) with the remaining words as its arguments,
// in a process group of its own, and waits at most `limit`. Whatever is left of
// that group when the command ends, or when the limit is reached, is killed, so
// no process of the command keeps the output open behind it.
RunOutcome runWithTimeLimit(const std::vector<std::string>& words, std::chrono::milliseconds limit);

}  // namespace veltris::runner
