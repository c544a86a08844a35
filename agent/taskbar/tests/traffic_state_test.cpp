// The one-second evaluation, tick by tick, with the clock and counters set by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/taskbar/traffic_state.h"

namespace veltris::agent {
namespace {

constexpr uint32_t kStart = 945000000;

// What happens on the wire during one second, then the tick at its end.
struct Second {
  uint32_t errorsSent = 0, errorsReceived = 0, broadcastsSent = 0, framesReceived = 0, framesSent = 0,
           broadcastsReceived = 0;
  int advance = 1;  // seconds since the previous tick
  // Expected after the tick.
  uint32_t code;
  const char* text;
  TrafficPicture picture;
  bool changed;
};

class Evaluation : public ::testing::Test {
 protected:
  // Frames in the second before `now`: counters and last-activity times as the capture threads set them.
  void traffic(const Second& s, uint32_t at) {
    LiveTotals& t = global.totals;
    t.errorsSent += s.errorsSent;
    t.errorsReceived += s.errorsReceived;
    t.broadcastsSent += s.broadcastsSent;
    t.framesReceived += s.framesReceived;
    t.framesSent += s.framesSent;
    t.broadcastsReceived += s.broadcastsReceived;
    if (s.errorsSent || s.broadcastsSent || s.framesSent) t.lastSent = at;
    if (s.errorsReceived || s.framesReceived || s.broadcastsReceived) t.lastReceived = at;
    if (s.broadcastsSent) t.lastBroadcastSent = at;
    if (s.framesReceived) t.lastSessionReceived = at;
    if (s.framesSent) t.lastSessionSent = at;
  }

  void run(const std::vector<Second>& seconds) {
    indicator.initialise(now);
    for (size_t i = 0; i < seconds.size(); ++i) {
      const Second& s = seconds[i];
      now += s.advance;
      traffic(s, now);
      bool changed = indicator.tick(now);
      SCOPED_TRACE("tick " + std::to_string(i + 1));
      EXPECT_EQ(indicator.code(), s.code);
      EXPECT_STREQ(indicator.statusText(), s.text);
      EXPECT_EQ(indicator.picture(), s.picture);
      EXPECT_EQ(changed, s.changed);
      EXPECT_EQ(global.trafficState.load(), s.code);
    }
  }

  GlobalArea global;
  TrafficIndicator indicator{global};
  uint32_t now = kStart;
};

using P = TrafficPicture;
constexpr const char* kIdleText = "No traffic sent or received";
constexpr const char* kSilent = "No traffic received in over 60 seconds";

TEST_F(Evaluation, NoFrameSinceStartIsNineAndResentEverySecond) {
  indicator.initialise(now);
  EXPECT_EQ(indicator.code(), 9u);
  run({{.code = 9, .text = "NO traffic received since PC started", .picture = P::NotReceiving, .changed = true},
       {.code = 9, .text = "NO traffic received since PC started", .picture = P::NotReceiving, .changed = true},
       // Sending alone does not end "nothing received".
       {.framesSent = 2, .code = 5, .text = "Session traffic", .picture = P::Session, .changed = true},
       {.code = 9, .text = "NO traffic received since PC started", .picture = P::NotReceiving, .changed = true}});
}

TEST_F(Evaluation, SixtyTwoSecondsIsIdleSixtyThreeIsSilence) {
  run({{.broadcastsReceived = 1, .code = 7, .text = "Broadcast traffic received", .picture = P::BroadcastReceived,
        .changed = true},
       {.advance = 61, .code = 8, .text = kIdleText, .picture = P::Idle, .changed = true},
       {.advance = 1, .code = 8, .text = kIdleText, .picture = P::Idle, .changed = false},  // 62 s
       {.advance = 1, .code = 10, .text = kSilent, .picture = P::NotReceiving, .changed = true},  // 63 s
       {.code = 10, .text = kSilent, .picture = P::NotReceiving, .changed = true},
       {.framesReceived = 1, .code = 4, .text = "Session traffic", .picture = P::Session, .changed = true}});
}

TEST_F(Evaluation, OrderOfConditionsDecidesWithinOneSecond) {
  run({{.errorsSent = 1, .broadcastsSent = 1, .code = 1, .text = "Error detected", .picture = P::Error,
        .changed = true},
       {.errorsReceived = 1, .framesReceived = 3, .code = 2, .text = "Error detected", .picture = P::Error,
        .changed = true},
       {.errorsReceived = 1, .code = 2, .text = "Error detected", .picture = P::Error, .changed = false},
       {.framesReceived = 1, .framesSent = 1, .broadcastsReceived = 1, .code = 4, .text = "Session traffic",
        .picture = P::Session, .changed = true},
       {.framesSent = 1, .broadcastsReceived = 1, .code = 5, .text = "Session traffic", .picture = P::Session,
        .changed = true},
       {.broadcastsReceived = 4, .code = 7, .text = "Broadcast traffic received",
        .picture = P::BroadcastReceived, .changed = true},
       {.code = 8, .text = kIdleText, .picture = P::Idle, .changed = true}});
}

TEST_F(Evaluation, BroadcastWithSessionTrafficThenSessionSinceBroadcastThenIdle) {
  run({{.broadcastsSent = 1, .framesReceived = 1, .code = 3, .text = "Broadcast traffic sent",
        .picture = P::BroadcastSent, .changed = true},
       {.code = 6, .text = "Session traffic since last broadcast", .picture = P::Session, .changed = true},
       {.code = 8, .text = kIdleText, .picture = P::Idle, .changed = true}});
}

TEST_F(Evaluation, BroadcastAloneKeepsNoSessionPictureAfterwards) {
  run({{.framesReceived = 1, .code = 4, .text = "Session traffic", .picture = P::Session, .changed = true},
       {.broadcastsSent = 1, .code = 3, .text = "Broadcast traffic sent", .picture = P::BroadcastSent,
        .changed = true},
       // The last session frame is older than the broadcast: straight to idle.
       {.code = 8, .text = kIdleText, .picture = P::Idle, .changed = true}});
}

TEST_F(Evaluation, CountersThatWrapAreNotGrowth) {
  global.totals.framesReceived = 0xFFFFFFFF;
  global.totals.lastReceived = now;
  indicator.initialise(now);
  EXPECT_EQ(indicator.code(), 4u);  // the snapshot starts at zero
  indicator.tick(++now);
  global.totals.framesReceived = 2;  // wrapped
  indicator.tick(++now);
  EXPECT_EQ(indicator.code(), 8u);
}

TEST_F(Evaluation, ClockSetBackBehindTheLastFrameIsNotSilence) {
  global.totals.lastReceived = now;
  indicator.initialise(now);
  indicator.tick(now - 3600);
  EXPECT_EQ(indicator.code(), 8u);
}

TEST_F(Evaluation, SnapshotHoldsTheCountersOfThePreviousTick) {
  indicator.initialise(now);
  global.totals.framesSent = 5;
  global.totals.errorsReceived = 2;
  EXPECT_EQ(indicator.snapshot().framesSent, 0u);
  indicator.tick(++now);
  EXPECT_EQ(indicator.snapshot().framesSent, 5u);
  EXPECT_EQ(indicator.snapshot().errorsReceived, 2u);
}

// The thread ticks on the injected clock and ends on the close message.
class FixedClock final : public Clock {
 public:
  uint32_t now() override { return value.load(); }
  bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) override { return stop.waitFor(timeout); }
  void sleep(std::chrono::milliseconds) override {}
  std::atomic<uint32_t> value{kStart};
};

TEST(TaskbarThreadRun, SetsTheCodeAndEndsOnClose) {
  AgentRuntime rt;
  FixedClock clock;
  rt.clock = &clock;
  rt.global.totals.lastReceived = kStart - 100;
  TaskbarThread thread;
  thread.start(rt);
  for (int i = 0; i < 100 && rt.global.trafficState.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(rt.global.trafficState.load(), 10u);
  thread.close();
  thread.close();
  rt.global.trafficState = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(rt.global.trafficState.load(), 0u);  // no tick after close
}

}  // namespace
}  // namespace veltris::agent
