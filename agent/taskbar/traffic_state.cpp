#include "agent/taskbar/traffic_state.h"

#include <cstdio>

namespace veltris::agent {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint32_t kSilenceSeconds = 62;  // one tick late is still "within a minute"

struct StateRow {
  uint32_t code;
  const char* text;
  TrafficPicture picture;
};

constexpr StateRow kErrorSent{1, "Error detected", TrafficPicture::Error};
constexpr StateRow kErrorReceived{2, "Error detected", TrafficPicture::Error};
constexpr StateRow kBroadcastSent{3, "Broadcast traffic sent", TrafficPicture::BroadcastSent};
constexpr StateRow kSessionReceived{4, "Session traffic", TrafficPicture::Session};
constexpr StateRow kSessionSent{5, "Session traffic", TrafficPicture::Session};
constexpr StateRow kSessionSinceBroadcast{6, "Session traffic since last broadcast", TrafficPicture::Session};
constexpr StateRow kBroadcastReceived{7, "Broadcast traffic received", TrafficPicture::BroadcastReceived};
constexpr StateRow kIdle{8, "No traffic sent or received", TrafficPicture::Idle};
constexpr StateRow kNeverReceived{9, "NO traffic received since PC started", TrafficPicture::NotReceiving};
constexpr StateRow kNotReceiving{10, "No traffic received in over %d seconds", TrafficPicture::NotReceiving};

CounterSnapshot currentCounters(const LiveTotals& t) {
  CounterSnapshot c;
  c.framesSent = t.framesSent.load(kRelaxed);
  c.broadcastsSent = t.broadcastsSent.load(kRelaxed);
  c.errorsSent = t.errorsSent.load(kRelaxed);
  c.framesReceived = t.framesReceived.load(kRelaxed);
  c.broadcastsReceived = t.broadcastsReceived.load(kRelaxed);
  c.errorsReceived = t.errorsReceived.load(kRelaxed);
  return c;
}

// The first row whose condition holds, in the order of the state table.
const StateRow& chooseRow(const LiveTotals& t, const CounterSnapshot& now, const CounterSnapshot& before,
                          TrafficPicture shown, uint32_t clock) {
  if (now.errorsSent > before.errorsSent) return kErrorSent;
  if (now.errorsReceived > before.errorsReceived) return kErrorReceived;
  if (now.broadcastsSent > before.broadcastsSent) return kBroadcastSent;
  if (now.framesReceived > before.framesReceived) return kSessionReceived;
  if (now.framesSent > before.framesSent) return kSessionSent;
  if (shown == TrafficPicture::BroadcastSent) {
    const auto broadcastSent = static_cast<int32_t>(t.lastBroadcastSent.load(kRelaxed));
    if (static_cast<int32_t>(t.lastSessionReceived.load(kRelaxed)) >= broadcastSent ||
        static_cast<int32_t>(t.lastSessionSent.load(kRelaxed)) >= broadcastSent)
      return kSessionSinceBroadcast;
  }
  if (now.broadcastsReceived > before.broadcastsReceived) return kBroadcastReceived;
  const uint32_t lastReceived = t.lastReceived.load(kRelaxed);
  if (lastReceived == 0) return kNeverReceived;
  // A clock set back behind the last frame is not silence.
  if (clock > lastReceived && clock - lastReceived > kSilenceSeconds) return kNotReceiving;
  return kIdle;
}

}  // namespace

bool TrafficIndicator::evaluate(uint32_t now) {
  const LiveTotals& totals = global_.totals;
  const StateRow& row = chooseRow(totals, currentCounters(totals), snapshot_, picture_, now);
  const uint32_t before = global_.trafficState.exchange(row.code, kRelaxed);
  picture_ = row.picture;
  std::snprintf(statusText_.data(), statusText_.size(), row.text, 60);
  return row.code != before || row.code == kNeverReceived.code || row.code == kNotReceiving.code;
}

void TrafficIndicator::initialise(uint32_t now) {
  picture_ = TrafficPicture::None;
  evaluate(now);
  snapshot_ = CounterSnapshot{};
}

bool TrafficIndicator::tick(uint32_t now) {
  const bool changed = evaluate(now);
  snapshot_ = currentCounters(global_.totals);
  return changed;
}

void TaskbarThread::start(AgentRuntime& rt) {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || closing_.isSet()) return;
  indicator_ = std::make_unique<TrafficIndicator>(rt.global);
  thread_ = std::thread(&TaskbarThread::run, this, std::ref(rt));
}

void TaskbarThread::run(AgentRuntime& rt) {
  indicator_->initialise(rt.clock->now());
  while (!closing_.waitFor(std::chrono::milliseconds(1000))) indicator_->tick(rt.clock->now());
}

void TaskbarThread::close() {
  closing_.set();
  std::lock_guard lock(mutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace veltris::agent
