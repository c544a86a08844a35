#pragma once
// Service status reports and the event log of the agent.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

#include "platform/service/service_manager.h"

namespace veltris::agent::service {

using veltris::service::kRunning;
using veltris::service::kStartPending;
using veltris::service::kStopPending;
using veltris::service::kStopped;

constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kAcceptStop = 0x1;

// The SERVICE_STATUS record as last reported.
struct StatusRecord {
  uint32_t serviceType = kServiceWin32OwnProcess;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

class ServiceStatus {
 public:
  explicit ServiceStatus(bool debug);

  // Report status: a no-op answering true in debug mode; otherwise updates the
  // record and tells the service manager. A failed report goes to the event log.
  bool report(uint32_t state, uint32_t exitCode, uint32_t waitHint);
  // Re-reports the current state (controls other than stop).
  bool reportCurrent();

  // Event-log reporter: "TapsorSv error: %d" and `text`; nothing in debug mode.
  void logError(const char* text, long code);
  long savedError() const { return savedError_; }

  StatusRecord record() const;
  bool debug() const { return debug_; }

  // Delivers a status message; the notify protocol unless a test replaces it.
  std::function<bool(std::string_view)> notifier;

 private:
  const bool debug_;
  mutable std::mutex mutex_;
  StatusRecord record_;
  uint32_t checkPointCounter_ = 1;
  long savedError_ = 0;
};

}  // namespace veltris::agent::service
