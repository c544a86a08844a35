#include "agent/service/agent_main.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "agent/capture/net_monitor.h"
#include "agent/core/history.h"
#include "agent/core/history_folder.h"
#include "agent/core/replay_clock.h"
#include "agent/diagnostics/role_labels.h"
#include "agent/service/service_status.h"
#include "common/text_field.h"
#include "platform/capture/capture_names.h"
#include "platform/registry/registry.h"
#include "platform/service/service_manager.h"
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

// The access key is the agent's only gate: say so when other users can read it.
void warnIfKeyIsReadable() {
  reg::Registry registry = reg::Registry::system();
  std::vector<uint8_t> stored;
  if (registry.queryBinary(kParametersKey, "OpenKey", stored) != reg::kSuccess) return;
  struct stat status {};
  if (::stat(registry.file().c_str(), &status) != 0 || (status.st_mode & S_IROTH) == 0) return;
  const std::string file = registry.file().string();
  consolePrint("WARNING - %s holds the access key \"OpenKey\" and every user can read it: chmod o-r %s\n",
               file.c_str(), file.c_str());
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
  std::string problem;
  if (!enterHistoryFolder(dataPath, problem)) {
    // Nothing is written here instead: history waits until the folder can be made.
    const std::string text = "The history folder " + problem + "; no history is written until it can be made";
    consolePrint("ERROR - %s\n", text.c_str());
    veltris::service::logEvent("TapsorSv", veltris::service::EventType::Error, text);
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

// Title, driver text and driver file time of each adapter's card. A capture
// file has no driver of its own, so no driver time to age.
void describeAdapters(AgentRuntime& rt) {
  netconfig::ConfigSource& source = configSource(rt);
  for (int i = 0; i < rt.global.adapterCount; ++i) {
    NicArea& nic = *rt.global.nics[i];
    const char* adapter = nic.deviceName + kDevicePrefixLength;
    netconfig::CardInfo card = source.card(adapter);
    copyText(nic.title, sizeof nic.title, card.title.c_str());
    copyText(nic.driverText, sizeof nic.driverText, netconfig::driverText(card).c_str());
    nic.driverFileTime = capture::isCaptureFileName(adapter) ? 0 : card.driverTime;
  }
}

// The devices to monitor; capture files named on the command line are taken
// relative to where the agent started, before it changes into the history folder.
std::vector<std::string> devicesToMonitor(const AgentOptions& options) {
  if (options.adapters.empty()) return exportList();
  std::vector<std::string> devices;
  for (const std::string& name : options.adapters) devices.push_back(kDevicePrefix + capture::absoluteCaptureFileName(name));
  return devices;
}

// When every adapter replays a capture file (a regular file), agent time
// follows the frames; true then.
bool chooseReplayClock(AgentRuntime& rt, const std::vector<std::string>& devices, std::chrono::milliseconds period) {
  if (!rt.hasSystemClock() || devices.empty()) return false;
  bool found = false;
  uint32_t start = 0;
  const size_t monitored = std::min<size_t>(devices.size(), kMaxAdapters);
  for (size_t i = 0; i < monitored; ++i) {
    const std::string_view adapter = std::string_view(devices[i]).substr(std::min(devices[i].size(), kDevicePrefixLength));
    if (!capture::isCaptureFileName(adapter)) return false;
    capture::CaptureFileName file;
    std::string error;
    std::error_code ec;
    if (!capture::parseCaptureFileName(adapter, file, error) || !std::filesystem::is_regular_file(file.path, ec))
      return false;  // a capture fed through a pipe comes at its own pace, as live frames do
    uint32_t first = 0;
    if (!capture::firstFrameTime(adapter, first)) continue;
    start = found ? std::min(start, first) : first;
    found = true;
  }
  if (!found) return false;
  rt.useClock(std::make_unique<ReplayClock>(start, std::chrono::ceil<std::chrono::seconds>(period)));
  consolePrint("Replaying capture files: agent time follows the frames' time stamps\n");
  return true;
}

// After the start-up pause: true when at least one adapter opened. Waits a
// little longer for NetMonitor threads that are still opening theirs.
bool anyAdapterOpened(AgentRuntime& rt) {
  constexpr auto kOpenWait = std::chrono::seconds(10);
  const auto deadline = std::chrono::steady_clock::now() + kOpenWait;
  for (;;) {
    bool trying = false;
    for (int i = 0; i < rt.global.adapterCount; ++i) {
      NicArea::Opening state = rt.global.nics[i]->opening.load();
      if (state == NicArea::Opening::Opened) return true;
      trying = trying || state == NicArea::Opening::Trying;
    }
    if (!trying || rt.stopEvent.isSet() || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// In the foreground the agent ends as capture tools do; the service goes on
// answering requests (diagnostics work without capture) and says so.
bool goOnWithoutAdapters(AgentRuntime& rt) {
  const char* what = rt.global.adapterCount == 0 ? "no adapter was found to monitor"
                                                 : "none of the adapters could be opened";
  if (rt.debug) {
    consolePrint("TapsorSv: %s (see above); \"TapsorSv -list\" shows the interface names to use\n", what);
    return false;
  }
  consolePrint("TapsorSv: %s; the service keeps running and answers requests without capture\n", what);
  return true;
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
  warnIfKeyIsReadable();
  const std::vector<std::string> devices = devicesToMonitor(options);
  const bool replay = chooseReplayClock(rt, devices, options.historyPeriod);
  enterHistoryDirectory(readDataPath());

  uint32_t now = rt.clock->now();
  purgeHistory(now);
  appendStartMarker(now);

  std::vector<std::thread> monitors;
  for (const std::string& device : devices) {
    if (global.adapterCount >= kMaxAdapters) {
      consolePrint("Adapter limit of %d reached: %s is not monitored\n", kMaxAdapters,
                   device.c_str() + std::min(device.size(), kDevicePrefixLength));
      continue;
    }
    if (device.size() >= sizeof(NicArea::deviceName)) {
      consolePrint("ERROR - device name too long, adapter skipped: '%s'\n", device.c_str());
      continue;
    }
    NicArea& nic = addAdapter(global, device);
    printDeviceLine(device);
    rt.clock->addAdapter(nic.index);
  }
  // Every adapter is known to the clock before the first frame is filed.
  for (int i = 0; i < global.adapterCount; ++i) {
    NicArea& nic = *global.nics[i];
    monitors.emplace_back([&rt, &nic] {
      raiseThreadPriority();
      runNetMonitor(rt, nic);
    });
  }
  describeAdapters(rt);
  // A replay's periods end when the frames reach them: its history loop runs
  // from now on, so no frame waits for the rest of the start-up.
  std::thread history;
  if (replay) history = std::thread([&rt, &options] { runHistoryLoop(rt, options.historyPeriod); });

  if (!rt.stopEvent.isSet()) rt.clock->sleep(options.serverDelay);
  if (!rt.stopEvent.isSet() && !anyAdapterOpened(rt) && !goOnWithoutAdapters(rt)) {
    rt.exitCode = 1;
    rt.stopEvent.set();
    if (history.joinable()) history.join();
    rt.stoppedEvent.set();
    for (std::thread& t : monitors) t.join();
    return;
  }
  if (options.startServer && !rt.stopEvent.isSet()) {
    consolePrint("Creating ServerRPC Thread \n");
    options.startServer(rt);
    // A stop that came while the server started may have found nothing to close yet.
    if (rt.stopEvent.isSet()) {
      rt.runHook(&AgentRuntime::closeWindows);
      rt.runHook(&AgentRuntime::stopServer);
    }
  }
  if (history.joinable())
    history.join();
  else
    runHistoryLoop(rt, options.historyPeriod);
  for (std::thread& t : monitors) t.join();
}

void shutdownRoutine(AgentRuntime& rt) {
  auto report = [&rt](uint32_t state, uint32_t waitHint) {
    if (rt.reportStatus) rt.reportStatus(state, 0, waitHint);
  };
  consolePrint("TapsorSv shutdown in progress.\n");
  report(service::kStopPending, 3000);
  rt.runHook(&AgentRuntime::closeWindows);
  rt.stopEvent.set();
  report(service::kStopPending, 3000);
  rt.runHook(&AgentRuntime::stopServer);
  report(service::kStopPending, 3000);
  rt.stoppedEvent.waitFor(std::chrono::milliseconds(2500));
  report(service::kStopped, 0);
}

}  // namespace veltris::agent
