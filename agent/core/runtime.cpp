#include "agent/core/runtime.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string_view>
#include <thread>

namespace veltris::agent {

void Event::set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  cv_.notify_all();
}

bool Event::isSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

bool Event::waitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [this] { return set_; });
}

bool Event::waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& also) const {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, timeout, [&] { return set_ || also(); });
  return set_;
}

void Event::nudge() const {
  { std::lock_guard lock(mutex_); }  // a waiter is either waiting or sees the change
  cv_.notify_all();
}

uint32_t SystemClock::systemNow() { return static_cast<uint32_t>(std::time(nullptr)); }

bool SystemClock::waitForStop(const Event& stop, std::chrono::milliseconds timeout) {
  return stop.waitFor(timeout);
}

PeriodEnd SystemClock::endPeriod(const Event& stop, std::chrono::milliseconds period) {
  const auto seconds = static_cast<uint32_t>(std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(period).count()));
  const auto began = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(mutex_);
    periodStart_ = now();
    periodEnd_ = periodStart_ + seconds;
    jumpSeen_.store(0);
    const uint64_t line = uint64_t{periodEnd_} + seconds;
    jumpLine_.store(line < UINT32_MAX ? static_cast<uint32_t>(line) : UINT32_MAX);
  }
  resumed_.notify_all();  // frames held at a jump go on
  PeriodEnd end;
  end.stopped = stop.waitFor(period, [this] { return jumpSeen_.load() != 0; });
  end.closedAt = now();
  if (end.stopped) return end;
  std::lock_guard lock(mutex_);
  uint32_t leapt = jumpSeen_.load();
  if (leapt == 0 && end.closedAt >= jumpLine_.load()) leapt = end.closedAt;  // no frame came since
  if (leapt == 0) return end;
  // The period ends where the steady clock says the old time had got to.
  const auto ran = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began).count();
  end.closedAt = std::min<uint32_t>(periodEnd_, periodStart_ + static_cast<uint32_t>(std::max<int64_t>(0, ran)));
  end.lastBeforeJump = end.closedAt;
  end.jumpedTo = leapt;
  return end;
}

bool SystemClock::waitOutJump(uint32_t time, const Event& stop) {
  {
    std::lock_guard lock(mutex_);
    if (time < jumpLine_.load()) return true;
    uint32_t none = 0;
    jumpSeen_.compare_exchange_strong(none, time);
  }
  stop.nudge();
  std::unique_lock lock(mutex_);
  while (time >= jumpLine_.load() && !stop.isSet()) resumed_.wait_for(lock, std::chrono::milliseconds(50));
  return !stop.isSet();
}

void SystemClock::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

AgentRuntime::AgentRuntime() : clock(&systemClock_), openDevice(capture::openDevice) {
  messageBox = [](const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
  };
}

void AgentRuntime::runHook(std::function<void()> AgentRuntime::*hook) {
  std::function<void()> call;
  {
    std::lock_guard lock(hookMutex);
    call = this->*hook;
  }
  if (call) call();
}

void AgentRuntime::useClock(std::unique_ptr<Clock> own) {
  ownClock_ = std::move(own);
  clock = ownClock_ ? ownClock_.get() : &systemClock_;
}

namespace {

void writeStandardOutput(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::mutex sinkMutex;
ConsoleSink consoleSink = writeStandardOutput;

}  // namespace

ConsoleSink setConsoleSink(ConsoleSink sink) {
  std::lock_guard lock(sinkMutex);
  ConsoleSink previous = std::move(consoleSink);
  consoleSink = sink ? std::move(sink) : writeStandardOutput;
  return previous;
}

void consoleWrite(std::string_view text) {
  std::lock_guard lock(sinkMutex);
  consoleSink(text);
}

void consolePrint(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  std::lock_guard lock(sinkMutex);
  consoleSink(std::string_view(line, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1)));
}

}  // namespace veltris::agent
