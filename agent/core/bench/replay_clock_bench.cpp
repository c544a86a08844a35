// What the replay clock adds to each frame of a replay: one adapter, and two
// files merged in time-stamp order, frame by frame and in windows read ahead,
// with the history loop waiting on a period longer than the run.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <span>
#include <thread>

#include "agent/core/replay_clock.h"

namespace veltris::agent {
namespace {

// The first period outlasts every run: no frame waits for the history loop.
constexpr std::chrono::seconds kNoPeriodEnd = std::chrono::hours(24 * 365 * 10);

capture::FrameRead stamped(uint32_t seconds) {
  capture::FrameRead read;
  read.stamped = true;
  read.seconds = seconds;
  return read;
}

void BM_StampFrameOneFile(benchmark::State& state) {
  ReplayClock clock(1000, kNoPeriodEnd);
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
  ReplayClock clock(1000, kNoPeriodEnd);
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

// A NetMonitor thread's window of frames read ahead, `perSecond` frames to a
// second of capture time.
struct Window {
  explicit Window(uint32_t perSecond) : perSecond(perSecond) {}
  size_t offer(ReplayClock& clock, int adapter, const Event& stop) {
    if (next == reads.size()) {
      for (size_t i = 0; i < reads.size(); ++i) reads[i] = stamped(1000 + static_cast<uint32_t>((frame + i) / perSecond));
      next = 0;
    }
    const size_t run = clock.stampFrames(adapter, std::span(reads).subspan(next), stop, times.data() + next);
    next += run;
    frame += run;
    return run;
  }
  uint32_t perSecond;
  std::array<capture::FrameRead, ReplayClock::kReadAhead> reads{};
  std::array<uint32_t, ReplayClock::kReadAhead> times{};
  size_t next = ReplayClock::kReadAhead;
  uint64_t frame = 0;
};

// Two files at the same rate, their stamps alternating second by second: the
// frames of one second go file by file, one hand-over per second and file.
// Items are the frames of both files; the argument is frames per second of
// capture time in each file (1: the files alternate frame by frame).
void BM_MergeTwoFilesInWindows(benchmark::State& state) {
  const auto perSecond = static_cast<uint32_t>(state.range(0));
  ReplayClock clock(1000, kNoPeriodEnd);
  Event stop;
  clock.addAdapter(0);
  clock.addAdapter(1);
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(24 * 365)); });
  std::atomic<uint64_t> otherFrames{0};
  std::thread other([&] {
    Window window(perSecond);
    while (size_t run = window.offer(clock, 1, stop)) otherFrames.fetch_add(run, std::memory_order_relaxed);
  });
  Window window(perSecond);
  uint64_t frames = 0;
  for (auto _ : state) frames += window.offer(clock, 0, stop);
  const uint64_t both = frames + otherFrames.load();
  clock.adapterDone(0);
  stop.set();
  other.join();
  history.join();
  state.SetItemsProcessed(static_cast<int64_t>(both));
  state.counters["frames_per_handover"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MergeTwoFilesInWindows)->Arg(1000)->Arg(1)->UseRealTime();

}  // namespace
}  // namespace veltris::agent
BENCHMARK_MAIN();
