#include "agent/core/replay_clock.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace veltris::agent {
namespace {

// How often a waiting thread looks at the stop event.
constexpr std::chrono::milliseconds kStopLook{50};
// How often a thread that files run after run looks at it.
constexpr unsigned kRunsPerStopLook = 16;

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

bool ReplayClock::stampFrame(int adapter, const capture::FrameRead& read, const Event& stop, uint32_t& time) {
  auto keepTime = [](void* owner, size_t, uint32_t t) { *static_cast<uint32_t*>(owner) = t; };
  const FrameWindow window{std::span(&read, 1), keepTime, nullptr, &time};
  return fileWindow(adapter, window, stop);
}

bool ReplayClock::fileWindow(int adapter, const FrameWindow& window, const Event& stop) {
  if (window.reads.empty()) return true;
  std::unique_lock lock(mutex_);
  if (adapter < 0 || adapter >= kMaxAdapters) {  // not one of the merged files: filed at the clock's time
    lock.unlock();
    for (auto reads = window.reads; !reads.empty();) {
      const uint32_t time = now();
      for (size_t i = 0; i < reads.size(); ++i) window.file(window.owner, i, time);
      reads = window.refill ? window.refill(window.owner) : reads.first(0);
    }
    return true;
  }
  windows_[adapter] = &window;
  reads_[adapter] = window.reads;
  next_[adapter] = 0;
  handBack_[adapter] = false;
  slots_[adapter] = Slot::Waiting;
  for (unsigned runs = 1;; ++runs) {
    if (handBack_[adapter]) break;
    if (!filing_) {
      // Stop is looked at before a wait, and every so many runs.
      if (runs % kRunsPerStopLook != 0 || !stop.isSet()) {
        if (const size_t planned = planRun()) {
          fileRun(lock, adapter, planned);
          continue;
        }
      }
      if (stop.isSet()) {  // nobody files from this window any more: the thread may leave with it
        if (slots_[adapter] == Slot::Waiting) slots_[adapter] = Slot::Reading;
        windows_[adapter] = nullptr;
        return false;
      }
    }
    ++frameWaiters_;
    framesChanged_.wait_for(lock, kStopLook);
    --frameWaiters_;
  }
  handBack_[adapter] = false;
  windows_[adapter] = nullptr;
  return true;
}

// The frames that may be filed now, in time order, into plan_: the run ends
// after the last frame of a window (usedUp_: the next one is read first),
// where a file's next frame is not known (its thread reads) and before a frame
// at or past the period's end. Agent time never goes back: a stamp earlier
// than the clock (a file whose stamps go backwards) is filed at the clock's
// time.
size_t ReplayClock::planRun() {
  size_t planned = 0;
  while (planned < plan_.size()) {
    int best = -1;
    uint32_t bestKey = 0;
    for (int other = 0; other < kMaxAdapters; ++other) {
      if (slots_[other] == Slot::Reading) return planned;
      if (slots_[other] != Slot::Waiting) continue;
      const capture::FrameRead& read = reads_[other][next_[other]];
      const uint32_t key = read.stamped ? read.seconds : nowLocked();
      if (best < 0 || key < bestKey) {  // on equal stamps the lower adapter goes first
        best = other;
        bestKey = key;
      }
    }
    if (best < 0) return planned;
    const capture::FrameRead& read = reads_[best][next_[best]];
    if (read.stamped && !realPace_ && read.seconds >= barrier_) {
      // The history loop closes the period once the frames before it are filed.
      if (planned == 0 && historyWaiting_ && !barrierReached_) {
        barrierReached_ = true;
        reachedBy_ = read.seconds;
        historyChanged_.notify_all();
      }
      return planned;
    }
    uint32_t time = bestKey;
    if (read.stamped) time = current_ = std::max(current_, read.seconds);
    plan_[planned++] = {windows_[best], static_cast<uint32_t>(next_[best]), time};
    if (++next_[best] == reads_[best].size()) {
      slots_[best] = Slot::Reading;
      usedUp_ = best;
    }
  }
  return planned;
}

// Files the planned run and reads the window used up, outside the lock; the
// windows stay put, as their threads wait in fileWindow until handed back.
void ReplayClock::fileRun(std::unique_lock<std::mutex>& lock, int adapter, size_t planned) {
  const int usedUp = std::exchange(usedUp_, -1);
  const FrameWindow* refill = usedUp >= 0 && windows_[usedUp]->refill ? windows_[usedUp] : nullptr;
  filing_ = true;
  lock.unlock();
  for (size_t i = 0; i < planned; ++i) plan_[i].window->file(plan_[i].window->owner, plan_[i].index, plan_[i].time);
  std::span<const capture::FrameRead> next;
  if (refill) next = refill->refill(refill->owner);
  lock.lock();
  filing_ = false;
  if (usedUp < 0) return;
  if (!next.empty()) {
    reads_[usedUp] = next;
    next_[usedUp] = 0;
    slots_[usedUp] = Slot::Waiting;
    return;
  }
  handBack_[usedUp] = true;
  if (usedUp != adapter && frameWaiters_ > 0) framesChanged_.notify_all();
}

void ReplayClock::adapterDone(int adapter) {
  std::lock_guard lock(mutex_);
  if (adapter < 0 || adapter >= kMaxAdapters || slots_[adapter] == Slot::Unused) return;
  slots_[adapter] = Slot::Done;
  windows_[adapter] = nullptr;
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
