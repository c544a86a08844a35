#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "agent/service/service_host.h"
#include "agent/service/service_status.h"
#include "common/records.h"
#include "common/version.h"
#include "platform/capture/device.h"
#include "platform/system_root.h"

namespace veltris::agent::service {

void printManagerMessage(veltris::service::ServiceManager& m);

namespace {

using veltris::service::systemErrorText;

// The package that ships the unit in /usr/lib/systemd/system.
constexpr char kAgentPackage[] = "veltris-agent";

void printUsage() {
  const char* name = kServiceName;
  consolePrint("%s -install        to install   the service\n", name);
  consolePrint("%s -remove         to remove    the service\n", name);
  consolePrint("%s -start          to start     the service\n", name);
  consolePrint("%s -stop           to stop      the service\n", name);
  consolePrint("%s -debug <params> to run as a console app for debugging\n", name);
  consolePrint("\nStartServiceCtrlDispatcher being called.\n");
  consolePrint("This may take several seconds.  Please wait.\n");
}

// The usage a Linux user expects from --help; the lines above stay for every other case.
void printHelp() {
  const std::string registry = platform::registryFile().string();
  const std::string history = (platform::windowsDirectory() / "VELTRIS History").string();
  char text[4096];
  int n = std::snprintf(text, sizeof text,
      "Usage: TapsorSv -debug [ADAPTER...]    run the agent in the foreground\n"
      "       TapsorSv -prom [ADAPTER...]     ... and count frames between other stations too\n"
      "       TapsorSv -install | -remove     install or remove the systemd service (root)\n"
      "       TapsorSv -start | -stop         start or stop the service\n"
      "       TapsorSv -list                  list the interfaces to capture on\n"
      "       TapsorSv --help (-h) | --version (-V)\n"
      "Without a switch TapsorSv runs as the service \"%s\" (started by systemd).\n"
      "A service the package veltris-agent installed is started and stopped here;\n"
      "-install and -remove leave it alone (apt remove veltris-agent removes it).\n"
      "Switches begin with '-' or '/' and ignore case (/INSTALL is -install).\n"
      "\n"
      "ADAPTER, at most four:\n"
      "  an interface name            eth0, enp3s0, wlan0, ppp0, wg0 (\"TapsorSv -list\" shows them)\n"
      "  a capture file               trace.pcap, trace.pcapng: Ethernet, Token Ring, Linux cooked,\n"
      "                               raw IP, PPP; the file's own time stamps drive the agent's clock\n"
      "  FILE@MAC                     a capture file with this station's address, 02:00:00:00:00:05\n"
      "                               (otherwise: the most frequent source of its first 1000 frames)\n"
      "Without ADAPTERs: the Export list of the registry, else the first four interfaces that are up.\n"
      "Live capture needs root or CAP_NET_RAW. Ctrl-C stops a foreground agent.\n"
      "\n"
      "Files (VELTRIS_ROOT, default /, moves them all):\n"
      "  registry file  %s\n"
      "                 \"OpenKey\" access key, \"DataPath\" history folder, \"AutoIpName\",\n"
      "                 \"ListenAddress\", \"MetricsAddress\" (veltris-registry(5))\n"
      "                 (sample: %s)\n"
      "  history        %s unless \"DataPath\" names another folder\n"
      "  local sockets  %s\n"
      "\n"
      "Exit status: 0 done; 1 when a switch failed (the service could not be installed,\n"
      "removed, started or stopped) or when in the foreground no adapter could be opened.\n",
      kServiceName, registry.c_str(), kSampleRegistryPath, history.c_str(), platform::rpcSocketDirectory().c_str());
  if (n > 0) consoleWrite(std::string_view(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1)));
}

void printVersion() {
  consolePrint("TapsorSv (VELTRIS agent) version %s, version stamp %s\n", kProgramVersion, kVersionStamp);
}

// The interfaces and the names to give on the command line.
void listInterfaces() {
  const std::vector<capture::InterfaceSummary> interfaces = capture::captureInterfaces();
  if (interfaces.empty()) {
    consolePrint("No network interface to capture on (loopback aside).\n");
    return;
  }
  consolePrint("Interfaces TapsorSv can capture on (give the name after -debug or -prom):\n");
  int defaults = 0;
  for (const capture::InterfaceSummary& i : interfaces) {
    const bool monitored = i.up && defaults < kMaxAdapters;
    if (monitored) ++defaults;
    consolePrint("  %-16s %-5s %-9s %-17s%s\n", i.name.c_str(), i.up ? "up" : "down",
                i.ethernet ? "Ethernet" : "WAN link", i.address.c_str(),
                monitored ? "  monitored when none is named" : "");
  }
  auto up = std::find_if(interfaces.begin(), interfaces.end(), [](const capture::InterfaceSummary& i) { return i.up; });
  consolePrint("Example: TapsorSv -debug %s    (a capture file works too: TapsorSv -debug trace.pcap)\n",
              (up != interfaces.end() ? *up : interfaces.front()).name.c_str());
}

bool isWord(const char* argument, const char* longName, const char* shortName) {
  return std::strcmp(argument, longName) == 0 || std::strcmp(argument, shortName) == 0;
}

std::string ownPath() {
  char path[512];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  return path;
}

bool stopOne(HostEnvironment& env, const char* name) {
  veltris::service::ServiceManager& m = *env.manager;
  if (long rc = m.openService(name); rc != 0) {
    consolePrint("Could not open %s - code %ld\n", name, rc);
    return false;
  }
  long rc = m.stopService(name);
  if (rc == 0) consolePrint("%s stopped\n", name);
  else if (rc == veltris::service::kErrorServiceNotActive) consolePrint("%s is already stopped\n", name);
  else {
    consolePrint("%s failed to stop - code %ld\n", name, rc);
    printManagerMessage(m);
    return false;
  }
  return true;
}

}  // namespace

// systemctl's own words beside the Win32 text, when it said something.
void printManagerMessage(veltris::service::ServiceManager& m) {
  const std::string message = m.lastMessage();
  if (!message.empty()) consolePrint("%s\n", message.c_str());
}

bool installService(HostEnvironment& env) {
  std::string path = ownPath();
  if (std::string packaged = env.manager->packagedUnit(kServiceName); !packaged.empty()) {
    consolePrint("%s is already installed by the package %s (%s); nothing changed.\n", kDisplayName, kAgentPackage,
                 packaged.c_str());
    return true;
  }
  if (path.empty()) {
    consolePrint("Unable to install %s - %s\n", kDisplayName, systemErrorText(veltris::service::kErrorFileNotFound).c_str());
    return false;
  }
  if (long rc = env.manager->connect(); rc != 0) {
    consolePrint("OpenSCManager failed - %s\n", systemErrorText(rc).c_str());
    printManagerMessage(*env.manager);
    return false;
  }
  veltris::service::ServiceConfig config{kServiceName, kDisplayName, path,
                                         {kServiceDependencies.begin(), kServiceDependencies.end()}};
  if (long rc = env.manager->createService(config); rc != 0) {
    consolePrint("CreateService failed - %s\n", systemErrorText(rc).c_str());
    printManagerMessage(*env.manager);
    return false;
  }
  consolePrint("%s installed.\n", kDisplayName);
  return true;
}

bool refusePackagedRemoval(HostEnvironment& env) {
  std::string packaged = env.manager->packagedUnit(kServiceName);
  if (packaged.empty()) return false;
  consolePrint("%s (%s) is installed by the package %s: use apt remove %s\n", kDisplayName, packaged.c_str(),
               kAgentPackage, kAgentPackage);
  return true;
}

bool removeService(HostEnvironment& env) {
  veltris::service::ServiceManager& m = *env.manager;
  if (refusePackagedRemoval(env)) return false;
  if (long rc = m.connect(); rc != 0) {
    consolePrint("OpenSCManager failed - %s\n", systemErrorText(rc).c_str());
    printManagerMessage(m);
    return false;
  }
  if (long rc = m.openService(kServiceName); rc != 0) {
    consolePrint("OpenService failed - %s\n", systemErrorText(rc).c_str());
    return false;
  }
  if (m.stopService(kServiceName) == 0) {
    consolePrint("Stopping %s.", kDisplayName);
    env.sleep(std::chrono::milliseconds(1000));
    uint32_t state = kStopPending;
    while (m.queryState(kServiceName, state) == 0 && state == kStopPending) {
      consolePrint(".");
      env.sleep(std::chrono::milliseconds(1000));
    }
    if (state == kStopped) consolePrint("\n%s stopped.\n", kDisplayName);
    else consolePrint("\n%s failed to stop.\n", kDisplayName);
  }
  if (long rc = m.deleteService(kServiceName); rc != 0) {
    consolePrint("DeleteService failed - %s\n", systemErrorText(rc).c_str());
    printManagerMessage(m);
    return false;
  }
  consolePrint("%s removed.\n", kDisplayName);
  printManagerMessage(m);  // a disable that failed after all
  return true;
}

bool startService(HostEnvironment& env) {
  veltris::service::ServiceManager& m = *env.manager;
  if (m.connect() != 0) {
    env.messageBox("VELTRIS ERROR", "Could not open Service Control Manager");
    return false;
  }
  if (long rc = m.openService(kServiceName); rc != 0) {
    consolePrint("Could not open TapsorSv - code %ld\n", rc);
    return false;
  }
  long rc = m.startService(kServiceName);
  if (rc == 0) consolePrint("TapsorSv started\n");
  else if (rc == veltris::service::kErrorServiceAlreadyRunning) consolePrint("TapsorSv is already running\n");
  else {
    consolePrint("TapsorSv failed to start - code %ld\n", rc);
    printManagerMessage(m);
    return false;
  }
  return true;
}

bool stopServices(HostEnvironment& env) {
  if (env.manager->connect() != 0) {
    env.messageBox("VELTRIS ERROR", "Could not open Service Control Manager");
    return false;
  }
  bool agentStopped = stopOne(env, kServiceName);
  bool driverStopped = stopOne(env, kDriverServiceName);
  return agentStopped && driverStopped;
}

int tapsorMain(int argc, char** argv, HostEnvironment& env) {
  if (argc > 1 && isWord(argv[1], "--help", "-h")) {
    printHelp();
    return 0;
  }
  if (argc > 1 && isWord(argv[1], "--version", "-V")) {
    printVersion();
    return 0;
  }
  if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
    const char* word = argv[1] + 1;
    std::vector<std::string> params(argv + 2, argv + argc);
    if (strcasecmp(word, "install") == 0) {
      if (env.manager->packagedUnit(kServiceName).empty()) {
        stopServices(env);
        removeService(env);  // there may be none yet
      }
      return installService(env) ? 0 : 1;
    }
    if (strcasecmp(word, "remove") == 0) {
      if (refusePackagedRemoval(env)) return 1;
      stopServices(env);
      return removeService(env) ? 0 : 1;
    }
    if (strcasecmp(word, "start") == 0) return startService(env) ? 0 : 1;
    if (strcasecmp(word, "stop") == 0) return stopServices(env) ? 0 : 1;
    if (strcasecmp(word, "list") == 0) {
      listInterfaces();
      return 0;
    }
    if (strcasecmp(word, "debug") == 0) return runForeground(env, false, params);
    if (strcasecmp(word, "prom") == 0) return runForeground(env, true, params);
  }
  // Started by systemd the usage would only land in the journal.
  if (veltris::service::startedByServiceManager()) return runService(env);
  printUsage();
  ServiceStatus status(false);
  status.logError("StartServiceCtrlDispatcher failed.", veltris::service::kErrorFailedServiceControllerConnect);
  return 1;
}

}  // namespace veltris::agent::service
