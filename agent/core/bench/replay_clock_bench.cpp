// What the replay clock adds to each frame of a replay: one file, and two
// files merged in time-stamp order, frame by frame and in windows the clock
// files and reads on, with the history loop waiting on a period longer than
// the run.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <ctime>
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
// second of capture time, and a frame's filing: `work` rounds of a small
// computation stand in for what the agent does with a frame. The clock reads
// on, kWindowsPerCall windows per call.
struct Window {
  static constexpr int kWindowsPerCall = 16;
  Window(uint32_t perSecond, int work) : perSecond(perSecond), work(work) {}
  bool offer(ReplayClock& clock, int adapter, const Event& stop) {
    windowsLeft = kWindowsPerCall;
    return clock.fileWindow(adapter, FrameWindow{read(), &fileOne, &readOn, this}, stop);
  }
  std::span<const capture::FrameRead> read() {
    if (windowsLeft-- == 0) return {};
    for (size_t i = 0; i < reads.size(); ++i) reads[i] = stamped(1000 + static_cast<uint32_t>((frame + i) / perSecond));
    frame += reads.size();
    return reads;
  }
  static std::span<const capture::FrameRead> readOn(void* owner) { return static_cast<Window*>(owner)->read(); }
  static void fileOne(void* owner, size_t index, uint32_t time) {
    auto& window = *static_cast<Window*>(owner);
    uint64_t x = time + index;
    for (int i = 0; i < window.work; ++i) x = x * 6364136223846793005u + 1442695040888963407u;
    window.sum += x;
  }
  uint32_t perSecond;
  int work;
  std::array<capture::FrameRead, ReplayClock::kReadAhead> reads{};
  int windowsLeft = 0;
  uint64_t frame = 0;  // frames read
  uint64_t sum = 0;
};

// Process CPU time: both files' threads.
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Two files at the same rate and on the same seconds: the frames of one second
// go file by file (equal stamps in file order). Items are the frames of both
// files; the argument is frames per second of capture time in each file (1:
// the files alternate frame by frame).
void mergeTwoFiles(benchmark::State& state, int work) {
  const auto perSecond = static_cast<uint32_t>(state.range(0));
  ReplayClock clock(1000, kNoPeriodEnd);
  Event stop;
  clock.addAdapter(0);
  clock.addAdapter(1);
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(24 * 365)); });
  std::atomic<uint64_t> otherFrames{0};
  std::thread other([&] {
    Window window(perSecond, work);
    while (window.offer(clock, 1, stop) && !stop.isSet()) otherFrames.store(window.frame, std::memory_order_relaxed);
  });
  Window window(perSecond, work);
  const uint64_t otherBefore = otherFrames.load();
  const double cpuBefore = processCpuSeconds();
  for (auto _ : state) window.offer(clock, 0, stop);
  const double cpu = processCpuSeconds() - cpuBefore;
  const uint64_t both = window.frame + otherFrames.load() - otherBefore;
  clock.adapterDone(0);
  stop.set();
  other.join();
  history.join();
  benchmark::DoNotOptimize(window.sum);
  state.SetItemsProcessed(static_cast<int64_t>(both));
  // An iteration is one call of the first file's thread: times per iteration over this are per frame.
  state.counters["frames_per_iteration"] = static_cast<double>(window.frame) / static_cast<double>(state.iterations());
  state.counters["process_cpu_ns_per_frame"] = both > 0 ? cpu * 1e9 / static_cast<double>(both) : 0;
}

// One file as the agent replays it: windows the clock files and reads on.
void BM_FileWindowsOneFile(benchmark::State& state) {
  ReplayClock clock(1000, kNoPeriodEnd);
  Event stop;
  clock.addAdapter(0);
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(24 * 365)); });
  Window window(8, 0);
  for (auto _ : state) window.offer(clock, 0, stop);
  stop.set();
  history.join();
  state.SetItemsProcessed(static_cast<int64_t>(window.frame));
  state.counters["frames_per_iteration"] = static_cast<double>(window.frame) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FileWindowsOneFile);

// The clock alone.
void BM_MergeTwoFilesInWindows(benchmark::State& state) { mergeTwoFiles(state, 0); }
BENCHMARK(BM_MergeTwoFilesInWindows)->Arg(1000)->Arg(1)->UseRealTime();

// With some work for each frame filed, on whichever thread files it.
void BM_MergeTwoFilesInWindowsFiling(benchmark::State& state) { mergeTwoFiles(state, 40); }
BENCHMARK(BM_MergeTwoFilesInWindowsFiling)->Arg(1000)->Arg(1)->UseRealTime();

}  // namespace
}  // namespace veltris::agent
BENCHMARK_MAIN();
