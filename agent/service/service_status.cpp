#include "agent/service/service_status.h"

#include <cerrno>
#include <string>

namespace veltris::agent::service {
namespace {

std::string statusMessage(uint32_t state, uint32_t exitCode, uint32_t waitHint) {
  std::string extend = "\nEXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{waitHint} * 1000);
  switch (state) {
    case kStartPending: return "STATUS=Starting" + extend;
    case kRunning: return "READY=1\nSTATUS=Running";
    case kStopPending: return "STOPPING=1\nSTATUS=Stopping" + extend;
    case kStopped:
      return exitCode == 0 ? "STATUS=Stopped" : "STATUS=Stopped\nERRNO=" + std::to_string(exitCode);
    default: return "STATUS=State " + std::to_string(state);
  }
}

}  // namespace

ServiceStatus::ServiceStatus(bool debug) : notifier(veltris::service::notifyServiceManager), debug_(debug) {}

bool ServiceStatus::report(uint32_t state, uint32_t exitCode, uint32_t waitHint) {
  if (debug_) return true;
  std::string message;
  {
    std::lock_guard lock(mutex_);
    record_.controlsAccepted = state == kStartPending ? 0 : kAcceptStop;
    record_.currentState = state;
    record_.win32ExitCode = exitCode;
    record_.waitHint = waitHint;
    record_.checkPoint = (state == kRunning || state == kStopped) ? 0 : checkPointCounter_++;
    message = statusMessage(state, exitCode, waitHint);
  }
  bool ok = notifier(message);
  if (!ok) logError("SetServiceStatus", errno);
  return ok;
}

bool ServiceStatus::reportCurrent() {
  StatusRecord r = record();
  return report(r.currentState, 0, 0);
}

void ServiceStatus::logError(const char* text, long code) {
  if (debug_) return;
  {
    std::lock_guard lock(mutex_);
    savedError_ = code;
  }
  veltris::service::writeEventLog("TapsorSv", code, text);
}

StatusRecord ServiceStatus::record() const {
  std::lock_guard lock(mutex_);
  return record_;
}

}  // namespace veltris::agent::service
