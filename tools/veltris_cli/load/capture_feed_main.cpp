// veltris-capture-feed: feeds a capture file's frames into a named pipe that
// an agent replays, at a steady rate for a set time.
//   veltris-capture-feed PIPE TRACE FRAMES_PER_SECOND SECONDS
#include <cstdio>
#include <cstdlib>

#include "tools/veltris_cli/load/capture_feed.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s PIPE TRACE FRAMES_PER_SECOND SECONDS\n", argv[0]);
    return 2;
  }
  veltris::cli::FeedPlan plan;
  plan.pipePath = argv[1];
  plan.tracePath = argv[2];
  plan.framesPerSecond = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  plan.duration = std::chrono::seconds(std::strtoul(argv[4], nullptr, 10));
  veltris::cli::FeedResult result = veltris::cli::feedCapture(plan);
  if (!result.ok) {
    std::fprintf(stderr, "%s: %s (after %llu frames)\n", argv[0], result.error.c_str(),
                 static_cast<unsigned long long>(result.frames));
    return 1;
  }
  std::printf("fed %llu frames\n", static_cast<unsigned long long>(result.frames));
  return 0;
}
