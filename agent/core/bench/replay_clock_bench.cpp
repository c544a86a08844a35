// What the replay clock adds to each frame of a replay: one adapter, and two
// files merged in time-stamp order, with the history loop waiting on a period
// longer than the run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "agent/core/replay_clock.h"

namespace veltris::agent {
namespace {

capture::FrameRead stamped(uint32_t seconds) {
  capture::FrameRead read;
  read.stamped = true;
  read.seconds = seconds;
  return read;
}

void BM_StampFrameOneFile(benchmark::State& state) {
  ReplayClock clock(1000, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(24 * 365)); });
  uint32_t seconds = 1000, time = 0;
  for (auto _ : state) {
    clock.stampFrame(0, stamped(seconds), stop, time);
    seconds += (seconds & 7) == 0;
    benchmark::DoNotOptimize(time);
  }
  stop.set();
  history.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StampFrameOneFile);

// The second file's thread keeps pace on its own stamps; the measured thread
// waits whenever it runs ahead.
void BM_StampFrameTwoFilesMerged(benchmark::State& state) {
  ReplayClock clock(1000, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  clock.addAdapter(1);
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(24 * 365)); });
  std::thread other([&] {
    uint32_t seconds = 1000, time = 0;
    while (clock.stampFrame(1, stamped(seconds), stop, time)) seconds += 1;
  });
  uint32_t seconds = 1000, time = 0;
  for (auto _ : state) {
    clock.stampFrame(0, stamped(seconds), stop, time);
    seconds += 1;
  }
  clock.adapterDone(0);
  stop.set();
  other.join();
  history.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StampFrameTwoFilesMerged)->UseRealTime();

}  // namespace
}  // namespace veltris::agent
BENCHMARK_MAIN();
