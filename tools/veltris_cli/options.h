#pragma once
// The client's command line:
//   veltris-cli [--computer NAME] [--key KEY] [-H] [--json] [--repeat N] [--interval MS]
//               [--follow] [--save FILE] [--snapshot FILE] [--raw] REQUEST...  (options anywhere, except after CMD)
//   veltris-cli export-pcap SNAPSHOT.VSN [PREFIX]
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltris::cli {

struct Options {
  std::string computer;            // empty: this PC
  std::optional<std::string> key;  // absent: "OpenKey" from the registry
  bool json = false;
  bool humanUnits = false;  // -H: byte counts in K, M, G
  std::string request;  // the request words joined with blanks
  uint32_t repeat = 1;  // 0: until interrupted
  std::chrono::milliseconds interval{1000};
  bool follow = false;   // each repeat asks only for what is newer
  std::string saveFile;  // where a snapshot reply goes
  std::string snapshotFile;  // answer from this snapshot instead of an agent
  bool raw = false;          // control characters reach a terminal as they are
};

struct ParsedCommandLine {
  enum class Action { Run, Help, Version, Error } action = Action::Run;
  Options options;
  std::string error;
};

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText(const std::string& program);

}  // namespace veltris::cli
