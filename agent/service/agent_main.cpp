#include "agent/service/agent_main.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "agent/capture/net_monitor.h"
#include "agent/core/history.h"
#include "agent/diagnostics/role_labels.h"
#include "agent/service/service_status.h"
#include "common/text_field.h"
#include "platform/registry/registry.h"
#include "platform/system_root.h"

namespace veltris::agent {
namespace {

constexpr char kProductNotice[] = "VELTRIS Agent - traffic monitor for this PC's network adapters";

void readHostName(GlobalArea& global) {
  std::memset(global.hostName, 0, sizeof global.hostName);
  char name[32] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return;
  for (size_t i = 0; i < sizeof name && name[i] != '\0'; ++i)
    global.hostName[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
}

std::string readDataPath() {
  reg::Registry registry = reg::Registry::system();
  std::string path;
  long rc = registry.queryString(kParametersKey, "DataPath", path);
  if (rc != reg::kSuccess && rc != reg::kFileNotFound) reportRegistryError(registry);
  if (rc != reg::kSuccess || path.size() >= 260) path.clear();
  if (path.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(platform::windowsDirectory(), ec);
    path = (platform::windowsDirectory() / "VELTRIS History").string();
  }
  return path;
}

void enterHistoryDirectory(const std::string& dataPath) {
  if (::chdir(dataPath.c_str()) != 0) {
    std::error_code ec;
    std::filesystem::create_directory(dataPath, ec);
    if (::chdir(dataPath.c_str()) != 0) {
      // Not reported: the history files then go to the directory we are in.
    }
  }
  char cwd[4096] = {};
  if (::getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
  consolePrint("Current Directory is '%s'\n", cwd);
}

void raiseThreadPriority() {
  // The nearest thing to a time-critical thread without real-time scheduling.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -20);
}

NicArea& addAdapter(GlobalArea& global, const std::string& deviceName) {
  int index = global.adapterCount;
  global.nics[index] = std::make_unique<NicArea>();
  NicArea& nic = *global.nics[index];
  nic.index = index;
  global.adapterCount = index + 1;
  std::strncpy(nic.adapterName, deviceName.c_str() + std::min(deviceName.size(), kDevicePrefixLength),
               sizeof nic.adapterName - 1);
  std::strncpy(nic.deviceName, deviceName.c_str(), sizeof nic.deviceName - 1);
  return nic;
}

void printDeviceLine(const std::string& deviceName) {
  std::string line = "Creating NetMonitor Thread for Adapter " + deviceName + "\n";
  consolePrint("%s", line.c_str());
}

// Title, driver text and driver file time of each adapter's card.
void describeAdapters(AgentRuntime& rt) {
  netconfig::ConfigSource& source = configSource(rt);
  for (int i = 0; i < rt.global.adapterCount; ++i) {
    NicArea& nic = *rt.global.nics[i];
    netconfig::CardInfo card = source.card(nic.deviceName + kDevicePrefixLength);
    copyText(nic.title, sizeof nic.title, card.title.c_str());
    copyText(nic.driverText, sizeof nic.driverText, netconfig::driverText(card).c_str());
    nic.driverFileTime = card.driverTime;
  }
}

}  // namespace

std::vector<std::string> exportList() {
  reg::Registry registry = reg::Registry::system();
  std::vector<std::string> names;
  long rc = registry.queryMultiString(kLinkageKey, "Export", names);
  if (rc != reg::kSuccess) {
    if (rc != reg::kFileNotFound) reportRegistryError(registry);
    names.clear();
    for (const std::string& name : capture::hostInterfaces()) names.push_back(kDevicePrefix + name);
  }
  // The list is read into 1020 bytes of wide characters, ending with an empty string.
  std::vector<std::string> fitting;
  size_t used = 2;
  for (const std::string& name : names) {
    if (name.size() < 2) break;
    used += 2 * (name.size() + 1);
    if (used > kExportListBytes) break;
    fitting.push_back(name);
  }
  return fitting;
}

void agentMain(AgentRuntime& rt, const AgentOptions& options) {
  consolePrint("TapsorSv Started - Version '%s' \n%s\n", kVersionStamp, kProductNotice);
  GlobalArea& global = rt.global;
  if (!rt.refreshRoleLabels) installDiagnostics(rt);
  global.startTime = rt.clock->now();
  readHostName(global);
  readAccessParameters(global);
  enterHistoryDirectory(readDataPath());

  uint32_t now = rt.clock->now();
  purgeHistory(now);
  appendStartMarker(now);

  std::vector<std::string> devices;
  if (options.adapters.empty()) devices = exportList();
  for (const std::string& name : options.adapters) devices.push_back(kDevicePrefix + name);

  std::vector<std::thread> monitors;
  for (const std::string& device : devices) {
    if (global.adapterCount >= kMaxAdapters) break;
    if (device.size() >= sizeof(NicArea::deviceName)) {
      consolePrint("ERROR - device name too long, adapter skipped: '%s'\n", device.c_str());
      continue;
    }
    NicArea& nic = addAdapter(global, device);
    printDeviceLine(device);
    monitors.emplace_back([&rt, &nic] {
      raiseThreadPriority();
      runNetMonitor(rt, nic);
    });
  }
  describeAdapters(rt);

  if (!rt.stopEvent.isSet()) rt.clock->sleep(options.serverDelay);
  if (options.startServer) {
    consolePrint("Creating ServerRPC Thread \n");
    options.startServer(rt);
  }
  runHistoryLoop(rt, options.historyPeriod);
  for (std::thread& t : monitors) t.join();
}

void shutdownRoutine(AgentRuntime& rt) {
  auto report = [&rt](uint32_t state, uint32_t waitHint) {
    if (rt.reportStatus) rt.reportStatus(state, 0, waitHint);
  };
  consolePrint("TapsorSv shutdown in progress.\n");
  report(service::kStopPending, 3000);
  if (rt.closeWindows) rt.closeWindows();
  rt.stopEvent.set();
  report(service::kStopPending, 3000);
  if (rt.stopServer) rt.stopServer();
  report(service::kStopPending, 3000);
  rt.stoppedEvent.waitFor(std::chrono::milliseconds(2500));
  report(service::kStopped, 0);
}

}  // namespace veltris::agent
