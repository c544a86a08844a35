#pragma once
// The agent's clock while it replays capture files: time follows the frames'
// own time stamps ("network time"). Frames of several files are filed in
// time-stamp order, a history period ends when the capture passes it (the
// frames wait while the history loop writes), a gap of more than a period
// skips the empty periods, and after the last frame of the last file the
// clock goes on from there at real pace.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>

#include "agent/core/runtime.h"
#include "agent/core/state.h"

namespace veltris::agent {

class ReplayClock final : public Clock {
 public:
  // `start`: the time stamp of the earliest first frame; `firstPeriod`: the
  // history loop's first wait, so frames flow before the loop has started.
  ReplayClock(uint32_t start, std::chrono::seconds firstPeriod);

  uint32_t now() override;
  bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) override;
  PeriodEnd endPeriod(const Event& stop, std::chrono::milliseconds period) override;
  void sleep(std::chrono::milliseconds duration) override;
  void addAdapter(int adapter) override;
  // A window of one frame, whose time goes to `time`.
  bool stampFrame(int adapter, const capture::FrameRead& read, const Event& stop, uint32_t& time) override;
  // Files are merged window by window: the windows of all files wait here, and
  // whichever thread finds the next frames known files them in time order, its
  // own and the other files' alike, and reads the next window of a file whose
  // window is used up, until a frame reaches the period's end or a file has no
  // frame now (its thread takes over). Equal stamps go in file (adapter) order.
  bool fileWindow(int adapter, const FrameWindow& window, const Event& stop) override;
  size_t readAhead() const override { return kReadAhead; }
  static constexpr size_t kReadAhead = 256;
  void adapterDone(int adapter) override;

 private:
  // Reading: the file's next frame is not known (its thread reads, or its
  // window is being read on); Waiting: its window waits here to be filed.
  enum class Slot : uint8_t { Unused, Reading, Waiting, Done };
  using Steady = std::chrono::steady_clock;

  // A frame chosen to be filed next, with its time.
  struct Planned {
    const FrameWindow* window;
    uint32_t index;
    uint32_t time;
  };

  uint32_t nowLocked() const;
  size_t planRun();
  void fileRun(std::unique_lock<std::mutex>& lock, int adapter, size_t planned);
  void startRealPaceIfAllDone();

  mutable std::mutex mutex_;
  std::condition_variable framesChanged_;   // NetMonitor threads wait here with their windows
  std::condition_variable historyChanged_;  // the history loop waits here
  std::array<Slot, kMaxAdapters> slots_{};
  std::array<const FrameWindow*, kMaxAdapters> windows_{};  // of the threads waiting in fileWindow
  std::array<std::span<const capture::FrameRead>, kMaxAdapters> reads_{};  // the frames of their windows now
  std::array<size_t, kMaxAdapters> next_{};                 // the first frame not yet planned
  std::array<bool, kMaxAdapters> handBack_{};               // the window's thread reads on itself
  std::array<Planned, kMaxAdapters * kReadAhead> plan_{};   // the run being filed
  int usedUp_ = -1;                                         // the adapter whose window the run ends
  bool filing_ = false;                                     // a thread files a run outside the lock
  uint32_t current_;            // time of the last frame planned, or of the last period end
  uint32_t barrier_;            // frames at or after this time wait for the history loop
  uint32_t period_;             // seconds of the period that ends at the barrier
  uint32_t reachedBy_ = 0;      // stamp of the frame that reached the barrier
  uint32_t resumeAt_ = 0;       // after a jump: start of the period the next frame lies in
  int frameWaiters_ = 0;         // NetMonitor threads waiting on framesChanged_
  bool historyWaiting_ = false;
  bool firstWait_ = true;       // the barrier of the first period is set already
  bool barrierReached_ = false;
  bool realPace_ = false;       // every file is over
  Steady::time_point realPaceSince_{};
};

}  // namespace veltris::agent
