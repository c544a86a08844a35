#include "agent/core/replay_clock.h"

#include <algorithm>
#include <thread>

namespace veltris::agent {
namespace {

// How often a waiting thread looks at the stop event.
constexpr std::chrono::milliseconds kStopLook{50};

}  // namespace

ReplayClock::ReplayClock(uint32_t start, std::chrono::seconds firstPeriod)
    : current_(start),
      barrier_(start + static_cast<uint32_t>(std::max<int64_t>(1, firstPeriod.count()))),
      period_(barrier_ - start) {}

uint32_t ReplayClock::nowLocked() const {
  if (!realPace_) return current_;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - realPaceSince_);
  return current_ + static_cast<uint32_t>(elapsed.count());
}

uint32_t ReplayClock::now() {
  std::lock_guard lock(mutex_);
  return nowLocked();
}

bool ReplayClock::waitForStop(const Event& stop, std::chrono::milliseconds timeout) {
  return endPeriod(stop, timeout).stopped;
}

// The period ends when a frame reaches its end, or at real pace once the files
// are over. A frame more than a period past the end leaps: the clock moves to
// the period that frame lies in, without stopping at the empty ones.
PeriodEnd ReplayClock::endPeriod(const Event& stop, std::chrono::milliseconds period) {
  std::unique_lock lock(mutex_);
  const auto seconds = static_cast<uint32_t>(std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(period).count()));
  if (resumeAt_ != 0) current_ = std::max(current_, resumeAt_);
  resumeAt_ = 0;
  if (!firstWait_) {
    barrier_ = nowLocked() + seconds;
    period_ = seconds;
  }
  firstWait_ = false;
  historyWaiting_ = true;
  barrierReached_ = false;
  framesChanged_.notify_all();
  for (;;) {
    if (stop.isSet()) break;
    if (barrierReached_) break;
    if (realPace_ && nowLocked() >= barrier_) break;
    historyChanged_.wait_for(lock, kStopLook);
  }
  historyWaiting_ = false;
  PeriodEnd end;
  end.stopped = stop.isSet();
  if (barrierReached_) {
    const uint32_t lastFrame = current_;
    current_ = std::max(current_, barrier_);
    if (reachedBy_ - barrier_ >= period_) {
      end.jumpedTo = reachedBy_;
      end.lastBeforeJump = lastFrame;
      resumeAt_ = barrier_ + (reachedBy_ - barrier_) / period_ * period_;
    }
  }
  end.closedAt = nowLocked();
  return end;
}

void ReplayClock::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void ReplayClock::addAdapter(int adapter) {
  std::lock_guard lock(mutex_);
  if (adapter >= 0 && adapter < kMaxAdapters) slots_[adapter] = Slot::Reading;
}

// A frame goes first when no other file has an earlier one waiting or may still
// read one; on equal stamps the lower adapter goes first.
bool ReplayClock::firstInLine(int adapter, uint32_t time) const {
  for (int other = 0; other < kMaxAdapters; ++other) {
    if (other == adapter) continue;
    if (slots_[other] == Slot::Reading) return false;
    if (slots_[other] == Slot::Waiting &&
        (pending_[other] < time || (pending_[other] == time && other < adapter)))
      return false;
  }
  return true;
}

void ReplayClock::wakeFrames() {
  if (frameWaiters_ > 0) framesChanged_.notify_all();
}

bool ReplayClock::stampFrame(int adapter, const capture::FrameRead& read, const Event& stop, uint32_t& time) {
  return stampFrames(adapter, std::span(&read, 1), stop, &time) == 1;
}

size_t ReplayClock::stampFrames(int adapter, std::span<const capture::FrameRead> reads, const Event& stop,
                                uint32_t* times) {
  std::unique_lock lock(mutex_);
  const capture::FrameRead& first = reads.front();
  if (!first.stamped || adapter < 0 || adapter >= kMaxAdapters) {
    times[0] = nowLocked();
    return 1;
  }
  // The first frame is this file's next: the others may go on when it is later than theirs.
  slots_[adapter] = Slot::Waiting;
  pending_[adapter] = first.seconds;
  wakeFrames();
  for (;;) {
    if (stop.isSet()) return 0;
    if (firstInLine(adapter, first.seconds)) {
      if (first.seconds < barrier_ || realPace_) break;
      if (historyWaiting_ && !barrierReached_) {
        barrierReached_ = true;  // the history loop closes the period first
        reachedBy_ = first.seconds;
        historyChanged_.notify_all();
      }
    }
    ++frameWaiters_;
    framesChanged_.wait_for(lock, kStopLook);
    --frameWaiters_;
  }
  // The run that goes before every other file's next frame and the period's end.
  // The slot keeps the run's first stamp until the thread comes back: the
  // others wait behind the run while it is filed.
  size_t run = 0;
  while (run < reads.size() && reads[run].stamped && (realPace_ || reads[run].seconds < barrier_) &&
         firstInLine(adapter, reads[run].seconds)) {
    // Agent time never goes back: a stamp earlier than the clock (a file whose
    // stamps go backwards) is filed at the clock's time.
    current_ = std::max(current_, reads[run].seconds);
    times[run++] = current_;
  }
  return run;
}

void ReplayClock::adapterDone(int adapter) {
  std::lock_guard lock(mutex_);
  if (adapter < 0 || adapter >= kMaxAdapters || slots_[adapter] == Slot::Unused) return;
  slots_[adapter] = Slot::Done;
  startRealPaceIfAllDone();
  framesChanged_.notify_all();
  historyChanged_.notify_all();
}

void ReplayClock::startRealPaceIfAllDone() {
  if (realPace_) return;
  for (Slot slot : slots_)
    if (slot == Slot::Reading || slot == Slot::Waiting) return;
  realPace_ = true;
  realPaceSince_ = Steady::now();
}

}  // namespace veltris::agent
