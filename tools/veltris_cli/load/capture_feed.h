#pragma once
// Feeds the frames of a capture file into a named pipe that the agent replays
// as its capture file, at a steady rate and for a set time (looping over the
// file), so that a replay lasts as long as a test or benchmark needs.
#include <chrono>
#include <cstdint>
#include <string>

namespace veltris::cli {

struct FeedPlan {
  std::string pipePath;   // a FIFO the agent was started on
  std::string tracePath;  // a pcap file (any byte order, micro- or nanoseconds)
  uint32_t framesPerSecond = 10000;
  std::chrono::milliseconds duration{std::chrono::seconds(10)};
  std::chrono::milliseconds readerTimeout{std::chrono::seconds(20)};  // for the agent to open the pipe
};

struct FeedResult {
  bool ok = false;
  uint64_t frames = 0;
  std::string error;
};

// Blocks for the plan's duration.
FeedResult feedCapture(const FeedPlan& plan);

}  // namespace veltris::cli
