#include "agent/core/runtime.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
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

uint32_t SystemClock::now() { return static_cast<uint32_t>(std::time(nullptr)); }

bool SystemClock::waitForStop(const Event& stop, std::chrono::milliseconds timeout) {
  return stop.waitFor(timeout);
}

void SystemClock::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

AgentRuntime::AgentRuntime() : clock(&systemClock_), openDevice(capture::openDevice) {
  messageBox = [](const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
  };
}

void AgentRuntime::useClock(std::unique_ptr<Clock> own) {
  ownClock_ = std::move(own);
  clock = ownClock_ ? ownClock_.get() : &systemClock_;
}

void consolePrint(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  std::fwrite(line, 1, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1), stdout);
  std::fflush(stdout);
}

}  // namespace veltris::agent
