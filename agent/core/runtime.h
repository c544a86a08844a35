#pragma once
// What every part of the running agent shares: the GLOBAL area, the stop and
// stopped events, the switches of the command line, the clock, and the hooks
// that tests replace (device opening, message boxes).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool set_ = false;
};

// Time as the agent sees it. Tests replace it to run days in milliseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t now() = 0;  // seconds since 1970-01-01 UTC
  // Waits for `stop` at most `timeout`; true when stop was set.
  virtual bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) = 0;
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
  virtual void adapterDone(int /*adapter*/) {}
};

class SystemClock final : public Clock {
 public:
  uint32_t now() override;
  bool waitForStop(const Event& stop, std::chrono::milliseconds timeout) override;
  void sleep(std::chrono::milliseconds duration) override;
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
