#pragma once
// What every part of the running agent shares: the GLOBAL area, the stop and
// stopped events, the switches of the command line, the clock, and the hooks
// that tests replace (device opening, message boxes).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "agent/core/state.h"
#include "platform/capture/device.h"

namespace veltris::netconfig {
class ConfigSource;
}

namespace veltris::agent {

// A manual-reset event: once set it stays set.
class Event {
 public:
  void set();
  bool isSet() const;
  // True when the event is set within `timeout`.
  bool waitFor(std::chrono::milliseconds timeout) const;
  // Waits for the event or for `also` (tested under the event's lock whenever
  // someone calls nudge()); true when the event is set.
  bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& also) const;
  void nudge() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool set_ = false;
};

// How a history period ended.
struct PeriodEnd {
  bool stopped = false;
  uint32_t closedAt = 0;  // time of the period's record
  // Non-zero when time leapt more than a period past the period's end: the
  // time that leapt (a frame's stamp, or the clock read at the wake-up). The
  // periods in between are skipped; frames after the leap wait until the
  // history loop asks for the next period.
  uint32_t jumpedTo = 0;
  uint32_t lastBeforeJump = 0;  // the last time known before the leap
};

// A window of frames an adapter's NetMonitor thread has read ahead, oldest
// first, how one of them is filed, and how the next window is read in its
// place once all are filed (none: the thread reads it itself). A clock that
// merges files may file and read on another adapter's thread while the owner
// waits in fileWindow.
struct FrameWindow {
  std::span<const capture::FrameRead> reads;
  void (*file)(void* owner, size_t index, uint32_t time) = nullptr;
  // The frames of the next window; none when the device has no frame now
  // (the owner then looks at what it said).
  std::span<const capture::FrameRead> (*refill)(void* owner) = nullptr;
  void* owner = nullptr;
};

// Time as the agent sees it. Tests replace it to run days in milliseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t now() = 0;  // seconds since 1970-01-01 UTC
  // Waits for `stop` at most `timeout`; true when stop was set.
  virtual bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) = 0;
  // The history loop's wait for the end of a period of `period`.
  virtual PeriodEnd endPeriod(const Event& stop, std::chrono::milliseconds period) {
    PeriodEnd end;
    end.stopped = waitForStop(stop, period);
    end.closedAt = now();
    return end;
  }
  // Pause of the start-up sequence.
  virtual void sleep(std::chrono::milliseconds duration) = 0;
  // The capture side: an adapter's NetMonitor thread is added before it starts
  // and done when it ends; stampFrame gives the time of a frame just read (the
  // clock's now, unless the clock follows the frames' own stamps) and answers
  // false when `stop` was set while it waited.
  virtual void addAdapter(int /*adapter*/) {}
  virtual bool stampFrame(int /*adapter*/, const capture::FrameRead& /*read*/, const Event& /*stop*/, uint32_t& time) {
    time = now();
    return true;
  }
  // How many frames a NetMonitor thread reads before it files them; above 1
  // the thread hands its windows to fileWindow.
  virtual size_t readAhead() const { return 1; }
  // Files every frame of `window` with its time, and of the windows its
  // refill reads after it, until a refill brings no frame; false when stop
  // was set first (frames may be left unfiled).
  virtual bool fileWindow(int adapter, const FrameWindow& window, const Event& stop) {
    for (std::span<const capture::FrameRead> reads = window.reads; !reads.empty();) {
      for (size_t i = 0; i < reads.size(); ++i) {
        uint32_t time = 0;
        if (!stampFrame(adapter, reads[i], stop, time)) return false;
        window.file(window.owner, i, time);
      }
      reads = window.refill ? window.refill(window.owner) : std::span<const capture::FrameRead>();
    }
    return true;
  }
  virtual void adapterDone(int /*adapter*/) {}
};

// The system's clock. A forward jump of more than a period (a clock set
// after a long suspend) ends the history period at once: the first frame
// stamped past it waits until the history loop has moved on.
class SystemClock final : public Clock {
 public:
  using TimeSource = std::function<uint32_t()>;
  SystemClock() = default;
  explicit SystemClock(TimeSource source) : source_(std::move(source)) {}

  uint32_t now() override { return source_ ? source_() : systemNow(); }
  bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) override;
  PeriodEnd endPeriod(const Event& stop, std::chrono::milliseconds period) override;
  void sleep(std::chrono::milliseconds duration) override;
  bool stampFrame(int, const capture::FrameRead& read, const Event& stop, uint32_t& time) override {
    // A live frame carries the kernel's arrival second: no clock read per frame.
    time = !read.stamped && read.seconds != 0 ? read.seconds : now();
    return time < jumpLine_.load(std::memory_order_relaxed) || waitOutJump(time, stop);
  }

 private:
  static uint32_t systemNow();
  bool waitOutJump(uint32_t time, const Event& stop);

  TimeSource source_;
  // Frames stamped at or after this time are a jump; none until the history loop runs.
  std::atomic<uint32_t> jumpLine_{UINT32_MAX};
  std::atomic<uint32_t> jumpSeen_{0};  // stamp of the first frame past the line
  std::mutex mutex_;
  std::condition_variable resumed_;
  uint32_t periodStart_ = 0;
  uint32_t periodEnd_ = 0;
};

using DeviceOpener = std::function<std::unique_ptr<capture::Device>(std::string_view adapterName, std::string& error)>;
using MessageBox = std::function<void(const char* caption, const char* text)>;

struct AgentRuntime {
  AgentRuntime();

  GlobalArea global;
  Event stopEvent;
  Event stoppedEvent;
  bool debug = false;        // running in the foreground
  bool promiscuous = false;  // switch "prom"
  int exitCode = 0;          // of a foreground run

  Clock* clock;  // never null; SystemClock unless a test or a replay sets its own
  // Makes `own` the agent's clock and keeps it alive with the runtime.
  void useClock(std::unique_ptr<Clock> own);
  bool hasSystemClock() const { return clock == &systemClock_; }
  DeviceOpener openDevice;
  MessageBox messageBox;
  // The shutdown routine; set by the agent main, callable from any thread.
  std::function<void()> shutdown;
  // Service status report (state, exit code, wait hint); a no-op in the foreground.
  std::function<bool(uint32_t state, uint32_t exitCode, uint32_t waitHint)> reportStatus;
  // Hooks the layers above fill: close the agent's windows, stop RPC
  // listening, refresh the partners' role labels.
  std::function<void()> closeWindows;
  // Logoff and shutdown of the session: close the consoles' windows, tell the taskbar.
  std::function<void()> closeConsoleWindows;
  std::function<void()> logoffNotice;
  std::function<void()> stopServer;
  // Guards closeWindows and stopServer: the request service sets them while a
  // stop may already be under way on another thread.
  std::mutex hookMutex;
  // Calls `hook` (closeWindows or stopServer) when set; its value is read under hookMutex.
  void runHook(std::function<void()> AgentRuntime::*hook);
  std::function<void()> refreshRoleLabels;
  // Where adapter configuration and card details come from (live or a fixture).
  std::shared_ptr<netconfig::ConfigSource> configSource;

 private:
  SystemClock systemClock_;
  std::unique_ptr<Clock> ownClock_;
};

// Prints a line on the agent's console, whole and at once.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes text of any length on the console, whole and at once.
void consoleWrite(std::string_view text);

// A line only a console window wants (a trace of calls, how to stop the
// program): printed in the foreground, dropped when the agent runs as the
// service, whose console lines go to the journal.
void foregroundPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether a console window shows the agent's lines (true until the service
// host says otherwise). Answers the previous setting.
bool setConsoleWindow(bool shown);

// Where the console's lines go: standard output unless replaced (tests collect
// them). Answers the sink it replaces; an empty sink restores standard output.
// The sink runs under a lock, one line at a time.
using ConsoleSink = std::function<void(std::string_view text)>;
ConsoleSink setConsoleSink(ConsoleSink sink);

}  // namespace veltris::agent
