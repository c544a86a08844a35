#include "agent/core/replay_clock.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace veltris::agent {
namespace {

using namespace std::chrono_literals;

capture::FrameRead stamped(uint32_t seconds) {
  capture::FrameRead read;
  read.stamped = true;
  read.seconds = seconds;
  return read;
}

// Two files whose stamps interleave are filed in time order, whichever thread is faster.
TEST(ReplayClock, FramesOfSeveralFilesAreFiledInTimeStampOrder) {
  const std::vector<std::vector<uint32_t>> files = {{100, 103, 103, 110, 250}, {101, 102, 103, 300}};
  ReplayClock clock(100, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  clock.addAdapter(1);
  std::mutex mutex;
  std::vector<std::pair<uint32_t, int>> filed;
  std::thread history([&] {  // a period longer than the capture: only stop ends it
    clock.waitForStop(stop, std::chrono::hours(1));
  });
  std::vector<std::thread> monitors;
  for (int adapter = 0; adapter < 2; ++adapter) {
    monitors.emplace_back([&, adapter] {
      for (uint32_t seconds : files[adapter]) {
        if (adapter == 1) std::this_thread::sleep_for(1ms);  // the slower reader
        uint32_t time = 0;
        ASSERT_TRUE(clock.stampFrame(adapter, stamped(seconds), stop, time));
        EXPECT_EQ(time, seconds);
        std::lock_guard lock(mutex);
        filed.emplace_back(time, adapter);
      }
      clock.adapterDone(adapter);
    });
  }
  for (std::thread& t : monitors) t.join();
  stop.set();
  history.join();
  const std::vector<std::pair<uint32_t, int>> expected = {{100, 0}, {101, 1}, {102, 1}, {103, 0}, {103, 0},
                                                          {103, 1}, {110, 0}, {250, 0}, {300, 1}};
  EXPECT_EQ(filed, expected);
  EXPECT_GE(clock.now(), 300u) << "after the last frame the clock goes on from there";
  EXPECT_LE(clock.now(), 302u);
}

// The history loop sees each period end at the capture's time, and no frame of
// the next period is filed before it has written. A gap of more than a period
// closes the current period once and leaps over the empty ones.
TEST(ReplayClock, PeriodsEndWhenTheCaptureReachesThemAndFramesWaitForTheWrite) {
  const uint32_t start = 1000;
  const std::vector<uint32_t> frames = {1000, 1200, 1599, 1600, 1601, 3000, 3100};
  ReplayClock clock(start, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  std::mutex mutex;
  std::vector<std::string> events;
  auto note = [&](std::string text) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(text));
  };
  std::thread monitor([&] {
    for (uint32_t seconds : frames) {
      uint32_t time = 0;
      if (!clock.stampFrame(0, stamped(seconds), stop, time)) return;
      note("frame " + std::to_string(time));
    }
    clock.adapterDone(0);
  });
  std::vector<PeriodEnd> ends;
  for (int period = 0; period < 2; ++period) {
    ends.push_back(clock.endPeriod(stop, 10min));
    ASSERT_FALSE(ends.back().stopped);
    note("period " + std::to_string(ends.back().closedAt));
  }
  note("loop waits");
  std::thread closer([&] {
    std::this_thread::sleep_for(200ms);
    stop.set();
  });
  EXPECT_TRUE(clock.waitForStop(stop, 10min));
  closer.join();
  monitor.join();
  const std::vector<std::string> expected = {"frame 1000", "frame 1200", "frame 1599", "period 1600", "frame 1600",
                                             "frame 1601", "period 2200", "loop waits", "frame 3000", "frame 3100"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(ends[0].jumpedTo, 0u);
  EXPECT_EQ(ends[1].jumpedTo, 3000u) << "3000 lies past the period after 2200";
  EXPECT_EQ(ends[1].lastBeforeJump, 1601u);
  EXPECT_GE(clock.now(), 3100u);
}

// Days apart, the first frame of the new day is filed only after the history
// loop has asked for the next period, which holds that frame.
TEST(ReplayClock, AGapOfDaysLeapsToThePeriodOfTheNextFrame) {
  const uint32_t start = 86400 * 10000;
  const uint32_t later = start + 3 * 86400 + 1234;
  ReplayClock clock(start, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  std::atomic<int> filed{0};
  std::thread monitor([&] {
    for (uint32_t seconds : {start, start + 60, later, later + 30}) {
      uint32_t time = 0;
      if (!clock.stampFrame(0, stamped(seconds), stop, time)) return;
      EXPECT_EQ(time, seconds);
      ++filed;
    }
  });
  const PeriodEnd leap = clock.endPeriod(stop, 10min);
  EXPECT_EQ(leap.closedAt, start + 600);
  EXPECT_EQ(leap.jumpedTo, later);
  EXPECT_EQ(leap.lastBeforeJump, start + 60);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(filed.load(), 2) << "the later frames wait for the history loop";
  std::thread closer([&] {
    while (filed.load() < 4) std::this_thread::sleep_for(1ms);
    stop.set();
  });
  const PeriodEnd last = clock.endPeriod(stop, 10min);
  EXPECT_TRUE(last.stopped);
  EXPECT_EQ(last.jumpedTo, 0u);
  EXPECT_EQ(last.closedAt, later + 30);
  closer.join();
  monitor.join();
}

// A frame as filed: its time, its file and its place in the file.
struct Filed {
  uint32_t time;
  int adapter;
  size_t index;
  bool operator==(const Filed&) const = default;
};

// Every frame of `files` in the order the clock must file them: stamp order,
// equal stamps in file order.
std::vector<Filed> mergedOrder(const std::vector<std::vector<uint32_t>>& files) {
  std::vector<Filed> expected;
  for (int adapter = 0; adapter < static_cast<int>(files.size()); ++adapter)
    for (size_t i = 0; i < files[adapter].size(); ++i) expected.push_back({files[adapter][i], adapter, i});
  std::stable_sort(expected.begin(), expected.end(), [](const Filed& a, const Filed& b) {
    return a.time != b.time ? a.time < b.time : a.adapter < b.adapter;
  });
  return expected;
}

// NetMonitor threads that offer their files in windows of `window` frames,
// the next window read by the clock (`refill`) or offered again by the thread;
// the frames are noted as they are filed, on whichever thread files them.
class WindowedFiles {
 public:
  WindowedFiles(ReplayClock& clock, const Event& stop, std::vector<std::vector<uint32_t>> files, size_t window,
                bool refill)
      : clock_(clock), stop_(stop), files_(std::move(files)), window_(window), refill_(refill) {}

  void start() {
    for (int adapter = 0; adapter < static_cast<int>(files_.size()); ++adapter) clock_.addAdapter(adapter);
    for (int adapter = 0; adapter < static_cast<int>(files_.size()); ++adapter)
      threads_.emplace_back([this, adapter] { offer(adapter); });
  }
  void join() {
    for (std::thread& t : threads_) t.join();
  }
  std::vector<Filed> filed() {
    std::lock_guard lock(mutex_);
    return filed_;
  }
  size_t filedCount() {
    std::lock_guard lock(mutex_);
    return filed_.size();
  }
  // Windows whose thread went on before every frame of theirs was filed.
  int unfinishedWindows() const { return unfinishedWindows_.load(); }

 private:
  struct Owner {
    WindowedFiles* files;
    int adapter;
    size_t first = 0;  // place in the file of the window's first frame
    std::vector<capture::FrameRead> reads;
    size_t offered = 0;
    size_t filed = 0;

    std::span<const capture::FrameRead> read(size_t from) {
      const std::vector<uint32_t>& stamps = files->files_[adapter];
      first = from;
      reads.clear();
      for (size_t i = from; i < std::min(stamps.size(), from + files->window_); ++i)
        reads.push_back(stamped(stamps[i]));
      offered += reads.size();
      return reads;
    }
  };
  static void note(void* owner, size_t index, uint32_t time) {
    auto& o = *static_cast<Owner*>(owner);
    std::lock_guard lock(o.files->mutex_);
    o.files->filed_.push_back({time, o.adapter, o.first + index});
    ++o.filed;
  }
  static std::span<const capture::FrameRead> readOn(void* owner) {
    auto& o = *static_cast<Owner*>(owner);
    return o.read(o.first + o.reads.size());
  }
  void offer(int adapter) {
    Owner owner{this, adapter};
    for (std::span<const capture::FrameRead> reads = owner.read(0); !reads.empty();
         reads = owner.read(owner.first + owner.reads.size())) {
      if (!clock_.fileWindow(adapter, FrameWindow{reads, &note, refill_ ? &readOn : nullptr, &owner}, stop_)) return;
      std::lock_guard lock(mutex_);
      if (owner.filed != owner.offered) ++unfinishedWindows_;
    }
    clock_.adapterDone(adapter);
  }

  ReplayClock& clock_;
  const Event& stop_;
  std::vector<std::vector<uint32_t>> files_;
  size_t window_;
  bool refill_;
  std::mutex mutex_;
  std::vector<Filed> filed_;
  std::atomic<int> unfinishedWindows_{0};
  std::vector<std::thread> threads_;
};

void expectFiledInMergedOrder(const std::vector<Filed>& filed, const std::vector<std::vector<uint32_t>>& files) {
  const std::vector<Filed> expected = mergedOrder(files);
  ASSERT_EQ(filed.size(), expected.size());
  for (size_t i = 0; i < filed.size(); ++i)
    ASSERT_TRUE(filed[i] == expected[i]) << "at " << i << ": " << filed[i].time << "/" << filed[i].adapter << " #"
                                         << filed[i].index << ", expected " << expected[i].time << "/"
                                         << expected[i].adapter << " #" << expected[i].index;
}

// Each thread offers windows of frames read ahead, the clock files them: every
// frame of both files once, in stamp order, equal stamps in file order, and
// each window whole before its thread goes on.
TEST(ReplayClock, WindowsOfTwoInterleavedFilesAreFiledInStampOrderTiesInFileOrder) {
  const std::vector<std::vector<uint32_t>> files = {{10, 10, 11, 12, 12, 12, 15, 18, 18, 30},
                                                    {10, 11, 11, 12, 13, 18, 18, 19, 30, 31}};
  for (bool refill : {false, true}) {
    SCOPED_TRACE(refill ? "read on by the clock" : "offered by the threads");
    ReplayClock clock(10, std::chrono::minutes(10));
    Event stop;
    std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(1)); });
    WindowedFiles monitors(clock, stop, files, 3, refill);
    monitors.start();
    monitors.join();
    stop.set();
    history.join();
    expectFiledInMergedOrder(monitors.filed(), files);
    EXPECT_EQ(monitors.unfinishedWindows(), 0);
  }
}

// Files whose stamps alternate frame by frame (with ties now and then), in
// windows of several sizes, offered by their threads or read on by the clock,
// across ten history periods: every frame is filed
// once in merged order, and when a period ends exactly the frames before its
// end are filed.
TEST(ReplayClock, AlternatingFilesAreMergedAcrossPeriodEnds) {
  const uint32_t start = 1'000'000;
  std::vector<std::vector<uint32_t>> files(2);
  for (uint32_t i = 0; i < 3000; ++i) {
    files[0].push_back(start + 2 * i);
    files[1].push_back(start + 2 * i + (i % 7 == 0 ? 0 : 1));  // every seventh stamp equals the other file's
  }
  for (auto& file : files) file.push_back(start + 6005);  // reaches the tenth period's end
  const size_t most = ReplayClock::kReadAhead;
  for (const auto& [window, refill] : std::vector<std::pair<size_t, bool>>{
           {1, false}, {5, false}, {most, false}, {1, true}, {5, true}, {most, true}}) {
    SCOPED_TRACE("window of " + std::to_string(window) + (refill ? ", read on by the clock" : ""));
    ReplayClock clock(start, std::chrono::minutes(10));
    Event stop;
    WindowedFiles monitors(clock, stop, files, window, refill);
    std::vector<std::pair<uint32_t, size_t>> periods;  // period end, frames filed by then
    std::thread history([&] {
      for (PeriodEnd end; !(end = clock.endPeriod(stop, std::chrono::minutes(10))).stopped;)
        periods.emplace_back(end.closedAt, monitors.filedCount());
    });
    monitors.start();
    monitors.join();
    stop.set();
    history.join();
    expectFiledInMergedOrder(monitors.filed(), files);
    EXPECT_EQ(monitors.unfinishedWindows(), 0);
    ASSERT_EQ(periods.size(), 10u);
    for (size_t i = 0; i < periods.size(); ++i) {
      EXPECT_EQ(periods[i].first, start + 600 * (i + 1));
      EXPECT_EQ(periods[i].second, 600 * (i + 1)) << "frames filed when the period ends at " << periods[i].first;
    }
  }
}

TEST(ReplayClock, StopEndsAFrameThatWaitsForAnotherFile) {
  ReplayClock clock(0, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  clock.addAdapter(1);  // never reads: frames of adapter 0 wait for it
  std::thread history([&] { clock.waitForStop(stop, 10min); });
  std::thread closer([&] {
    std::this_thread::sleep_for(100ms);
    stop.set();
  });
  uint32_t time = 0;
  EXPECT_FALSE(clock.stampFrame(0, stamped(5), stop, time));
  closer.join();
  history.join();
}

// Two endless files the clock reads on: stop ends both threads, the one that
// files for both and the one that waits.
TEST(ReplayClock, StopEndsThreadsWhoseFilesTheClockReadsOnWithoutEnd) {
  ReplayClock clock(0, std::chrono::hours(24 * 365));
  Event stop;
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(1)); });
  struct Endless {
    std::array<capture::FrameRead, 4> reads;
    uint32_t frame = 0;  // eight frames to a second
    std::atomic<uint64_t> filed{0};
    std::span<const capture::FrameRead> read() {
      for (capture::FrameRead& r : reads) r = stamped(frame++ / 8);
      return reads;
    }
  };
  std::array<Endless, 2> files;
  std::array<std::atomic<int>, 2> answers{-1, -1};
  std::vector<std::thread> monitors;
  for (int adapter = 0; adapter < 2; ++adapter) clock.addAdapter(adapter);
  for (int adapter = 0; adapter < 2; ++adapter) {
    monitors.emplace_back([&, adapter] {
      Endless& file = files[adapter];
      auto count = [](void* owner, size_t, uint32_t) { ++static_cast<Endless*>(owner)->filed; };
      auto readOn = [](void* owner) { return static_cast<Endless*>(owner)->read(); };
      const FrameWindow window{file.read(), count, readOn, &file};
      answers[adapter] = clock.fileWindow(adapter, window, stop) ? 1 : 0;
    });
  }
  while (files[0].filed.load() < 10000 || files[1].filed.load() < 10000) std::this_thread::sleep_for(1ms);
  stop.set();
  for (std::thread& t : monitors) t.join();
  history.join();
  EXPECT_EQ(answers[0].load(), 0);
  EXPECT_EQ(answers[1].load(), 0);
}

TEST(ReplayClock, LiveFramesAndBackwardStampsTakeTheClocksTime) {
  ReplayClock clock(500, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  std::thread history([&] { clock.waitForStop(stop, 10min); });
  uint32_t time = 0;
  ASSERT_TRUE(clock.stampFrame(0, stamped(520), stop, time));
  ASSERT_TRUE(clock.stampFrame(0, stamped(510), stop, time));
  EXPECT_EQ(time, 520u) << "agent time never goes back";
  ASSERT_TRUE(clock.stampFrame(0, capture::FrameRead{}, stop, time));
  EXPECT_EQ(time, 520u);
  stop.set();
  history.join();
}

}  // namespace
}  // namespace veltris::agent
