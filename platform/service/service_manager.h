#pragma once
// The service manager and event log of the platform: systemd units driven by
// systemctl, the notify protocol for status reports, syslog for the event log.
// Results are Win32 error codes so callers print what they always printed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::service {

constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorServiceAlreadyRunning = 1056;
constexpr long kErrorServiceDoesNotExist = 1060;
constexpr long kErrorServiceNotActive = 1062;
constexpr long kErrorFailedServiceControllerConnect = 1063;
constexpr long kErrorServiceSpecificError = 1066;
constexpr long kErrorServiceExists = 1073;
constexpr long kErrorRpcServerUnavailable = 1722;

// Service states as the status record carries them.
constexpr uint32_t kStopped = 1;
constexpr uint32_t kStartPending = 2;
constexpr uint32_t kStopPending = 3;
constexpr uint32_t kRunning = 4;

struct ServiceConfig {
  std::string name;
  std::string displayName;
  std::string programPath;
  std::vector<std::string> dependencies;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Each call answers 0 or a Win32 error code.
  virtual long connect() = 0;  // OpenSCManager
  virtual long createService(const ServiceConfig& config) = 0;
  virtual long openService(std::string_view name) = 0;
  virtual long startService(std::string_view name) = 0;
  virtual long stopService(std::string_view name) = 0;  // send the stop control, do not wait
  virtual long queryState(std::string_view name, uint32_t& state) = 0;
  virtual long deleteService(std::string_view name) = 0;
  // What the service manager itself said about the last failure, or empty.
  virtual std::string lastMessage() const { return {}; }
  // The unit file of the service when a package installed it (not -install), else empty.
  virtual std::string packagedUnit(std::string_view /*name*/) { return {}; }
};

// Where the service manager found a unit: "loaded" units have a fragment file.
struct UnitLocation {
  bool loaded = false;
  std::string fragmentPath;  // as the service manager names it (inside the system root)
};

// systemd: the unit "<name>.service" as systemd knows it (systemctl show: LoadState,
// FragmentPath); when no systemd answers, the unit files of the system root.
// -install writes its unit into platform::unitDirectory(); a unit elsewhere
// (/usr/lib/systemd/system) came with the package and install and remove leave it be.
// Under a system root other than "/", install and remove enable and disable the
// unit in that tree (systemctl --root) and leave the running systemd alone.
// The capture driver has no service of its own here: "Tapsor" exists and never runs.
class SystemdManager final : public ServiceManager {
 public:
  long connect() override;
  long createService(const ServiceConfig& config) override;
  long openService(std::string_view name) override;
  long startService(std::string_view name) override;
  long stopService(std::string_view name) override;
  long queryState(std::string_view name, uint32_t& state) override;
  long deleteService(std::string_view name) override;
  std::string lastMessage() const override { return lastMessage_; }
  std::string packagedUnit(std::string_view name) override;

  // Where the unit of a service is.
  static UnitLocation locateUnit(std::string_view name);

  // The unit file text for a service.
  static std::string unitText(const ServiceConfig& config);

 private:
  long failed(long code, const std::string& message);
  std::string lastMessage_;
};

// "%s (0x%x)" of the Win32 message for `code`, or empty when there is none
// or it does not fit into `capacity` with room to spare.
std::string systemErrorText(long code, size_t capacity = 256);

// The notify protocol (NOTIFY_SOCKET): true when the message was delivered.
bool notifyServiceManager(std::string_view message);
// True when this process was started by the service manager.
bool startedByServiceManager();

// The event log is syslog (LOG_DAEMON); every entry of the system goes through logEvent.
enum class EventType { Error, Warning };
// False when no syslog daemon listens (the entry would be lost).
bool logEvent(const char* source, EventType type, std::string_view text);
// One error entry "<source> error: <code>: <text>".
void writeEventLog(const char* source, long code, const char* text);

}  // namespace veltris::service
