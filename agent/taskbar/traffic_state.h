#pragma once
// The taskbar thread, headless: once a second it compares the traffic counters
// with the snapshot of the previous tick and sets the traffic state code that
// every reply header carries, with its status text and picture.
#include <array>
#include <cstdint>
#include <thread>

#include "agent/core/runtime.h"
#include "agent/core/state.h"

namespace veltris::agent {

// The six designs; the tray draws them, QuickLook shows them without "LAN".
enum class TrafficPicture { None, BroadcastReceived, Idle, Session, BroadcastSent, NotReceiving, Error };

// The six counters as the previous tick saw them.
struct CounterSnapshot {
  uint32_t framesSent = 0;
  uint32_t broadcastsSent = 0;
  uint32_t errorsSent = 0;
  uint32_t framesReceived = 0;
  uint32_t broadcastsReceived = 0;
  uint32_t errorsReceived = 0;
};

constexpr size_t kStatusTextSize = 64;

// What the taskbar state record keeps besides its windows.
class TrafficIndicator {
 public:
  explicit TrafficIndicator(GlobalArea& global) : global_(global) {}

  // Start of the thread: clear the picture, evaluate once, zero the snapshot.
  void initialise(uint32_t now);
  // One timer tick: evaluate, then renew the snapshot. True when the
  // evaluation reported a change (the icon is sent to the taskbar again).
  bool tick(uint32_t now);
  // The evaluation alone; true when it reports a change.
  bool evaluate(uint32_t now);

  uint32_t code() const { return global_.trafficState.load(std::memory_order_relaxed); }
  const char* statusText() const { return statusText_.data(); }
  TrafficPicture picture() const { return picture_; }
  const CounterSnapshot& snapshot() const { return snapshot_; }

 private:
  GlobalArea& global_;
  CounterSnapshot snapshot_;
  TrafficPicture picture_ = TrafficPicture::None;
  std::array<char, kStatusTextSize> statusText_{};
};

// The taskbar thread: started by the ServerRPC thread before it listens,
// ended by the shutdown routine's close message.
class TaskbarThread {
 public:
  TaskbarThread() = default;
  ~TaskbarThread() { close(); }
  TaskbarThread(const TaskbarThread&) = delete;
  TaskbarThread& operator=(const TaskbarThread&) = delete;

  void start(AgentRuntime& rt);
  // The close message: the thread ends after its current tick. Safe to call
  // more than once and before start.
  void close();

 private:
  void run(AgentRuntime& rt);

  std::unique_ptr<TrafficIndicator> indicator_;
  Event closing_;
  std::thread thread_;
  std::mutex mutex_;
};

}  // namespace veltris::agent
