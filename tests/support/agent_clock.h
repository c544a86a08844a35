#pragma once
// Shared by the core tests: a clock that runs days in microseconds, a private
// system root, and a temporary current directory.
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "agent/core/runtime.h"

namespace veltris::agent::testing {

// Time moves only when the code under test waits or sleeps.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(uint32_t start) : time(start) {}
  uint32_t now() override { return time; }
  bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) override {
    if (stop.isSet()) return true;
    uint32_t wakeUp = time + static_cast<uint32_t>(timeout.count() / 1000);
    if (stopAt != 0 && stopAt <= wakeUp) {
      time = stopAt;
      if (stopEvent) stopEvent->set();
      return true;
    }
    time = wakeUp;
    if (onWake) onWake(time);
    return stop.isSet();
  }
  void sleep(std::chrono::milliseconds duration) override { time += static_cast<uint32_t>(duration.count() / 1000); }

  uint32_t time;
  uint32_t stopAt = 0;         // the stop event is set when a wait reaches this time
  Event* stopEvent = nullptr;  // which event to set then
  std::function<void(uint32_t)> onWake;
};

// Seconds since 1970 of a local date and time (tests run with TZ=UTC).
inline uint32_t localTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
  struct tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return static_cast<uint32_t>(mktime(&t));
}

// A fresh directory that is the system root and the current directory for one test.
class ScratchRoot {
 public:
  ScratchRoot() {
    setenv("TZ", "UTC", 1);
    tzset();
    char pattern[] = "/tmp/veltris-test-XXXXXX";
    path_ = mkdtemp(pattern);
    setenv("VELTRIS_ROOT", path_.c_str(), 1);
    char cwd[4096];
    previous_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (chdir(path_.c_str()) != 0) std::abort();
  }
  ~ScratchRoot() {
    if (chdir(previous_.c_str()) != 0) std::abort();
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
    unsetenv("VELTRIS_ROOT");
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::string previous_;
};

}  // namespace veltris::agent::testing
