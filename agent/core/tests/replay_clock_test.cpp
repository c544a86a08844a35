#include "agent/core/replay_clock.h"

#include <gtest/gtest.h>

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

// Each thread offers windows of frames read ahead and files the runs the clock
// gives it: every frame of both files is filed in stamp order, equal stamps in
// file order, and a thread files several frames per hand-over where it can.
TEST(ReplayClock, WindowsOfTwoInterleavedFilesAreFiledInStampOrderTiesInFileOrder) {
  const std::vector<std::vector<uint32_t>> files = {{10, 10, 11, 12, 12, 12, 15, 18, 18, 30},
                                                    {10, 11, 11, 12, 13, 18, 18, 19, 30, 31}};
  ReplayClock clock(10, std::chrono::minutes(10));
  Event stop;
  clock.addAdapter(0);
  clock.addAdapter(1);
  std::thread history([&] { clock.waitForStop(stop, std::chrono::hours(1)); });
  std::mutex mutex;
  struct Filed {
    uint32_t time;
    int adapter;
    size_t index;
    bool operator==(const Filed&) const = default;
  };
  std::vector<Filed> filed;
  std::vector<size_t> runs;
  std::vector<std::thread> monitors;
  for (int adapter = 0; adapter < 2; ++adapter) {
    monitors.emplace_back([&, adapter] {
      const std::vector<uint32_t>& stamps = files[adapter];
      for (size_t next = 0; next < stamps.size();) {
        const size_t window = std::min<size_t>(3, stamps.size() - next);
        std::vector<capture::FrameRead> reads;
        for (size_t i = 0; i < window; ++i) reads.push_back(stamped(stamps[next + i]));
        uint32_t times[3] = {};
        const size_t run = clock.stampFrames(adapter, reads, stop, times);
        ASSERT_GE(run, 1u);
        std::lock_guard lock(mutex);  // before the next call: nobody else files meanwhile
        for (size_t i = 0; i < run; ++i) filed.push_back({times[i], adapter, next + i});
        runs.push_back(run);
        next += run;
      }
      clock.adapterDone(adapter);
    });
  }
  for (std::thread& t : monitors) t.join();
  stop.set();
  history.join();
  std::vector<Filed> expected;
  for (int adapter = 0; adapter < 2; ++adapter)
    for (size_t i = 0; i < files[adapter].size(); ++i) expected.push_back({files[adapter][i], adapter, i});
  std::stable_sort(expected.begin(), expected.end(), [](const Filed& a, const Filed& b) {
    return a.time != b.time ? a.time < b.time : a.adapter < b.adapter;
  });
  ASSERT_EQ(filed.size(), expected.size());
  for (size_t i = 0; i < filed.size(); ++i)
    EXPECT_TRUE(filed[i] == expected[i]) << "at " << i << ": " << filed[i].time << "/" << filed[i].adapter;
  EXPECT_LT(runs.size(), filed.size()) << "some runs hold more than one frame";
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
