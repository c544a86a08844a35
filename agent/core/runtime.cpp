#include "agent/core/runtime.h"

#include <algorithm>
#include <atomic>
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

namespace {

std::atomic<bool> consoleWindowShown{true};

void printLine(const char* format, va_list args) {
  char line[1024];
  int n = std::vsnprintf(line, sizeof line, format, args);
  if (n < 0) return;
  std::lock_guard lock(sinkMutex);
  consoleSink(std::string_view(line, std::min<size_t>(static_cast<size_t>(n), sizeof line - 1)));
}

}  // namespace

void consolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printLine(format, args);
  va_end(args);
}

void foregroundPrint(const char* format, ...) {
  if (!consoleWindowShown.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, format);
  printLine(format, args);
  va_end(args);
}

bool setConsoleWindow(bool shown) { return consoleWindowShown.exchange(shown); }

}  // namespace veltris::agent
