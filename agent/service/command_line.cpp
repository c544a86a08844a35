#include <strings.h>
#include <unistd.h>

#include <climits>
#include <thread>

#include "agent/service/service_host.h"
#include "agent/service/service_status.h"

namespace veltris::agent::service {
namespace {

using veltris::service::systemErrorText;

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

std::string ownPath() {
  char path[512];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  return path;
}

void stopOne(HostEnvironment& env, const char* name) {
  veltris::service::ServiceManager& m = *env.manager;
  if (long rc = m.openService(name); rc != 0) {
    consolePrint("Could not open %s - code %ld\n", name, rc);
    return;
  }
  long rc = m.stopService(name);
  if (rc == 0) consolePrint("%s stopped\n", name);
  else if (rc == veltris::service::kErrorServiceNotActive) consolePrint("%s is already stopped\n", name);
  else consolePrint("%s failed to stop - code %ld\n", name, rc);
}

}  // namespace

void installService(HostEnvironment& env) {
  std::string path = ownPath();
  if (path.empty()) {
    consolePrint("Unable to install %s - %s\n", kDisplayName, systemErrorText(veltris::service::kErrorFileNotFound).c_str());
    return;
  }
  if (long rc = env.manager->connect(); rc != 0) {
    consolePrint("OpenSCManager failed - %s\n", systemErrorText(rc).c_str());
    return;
  }
  veltris::service::ServiceConfig config{kServiceName, kDisplayName, path,
                                         {kServiceDependencies.begin(), kServiceDependencies.end()}};
  if (long rc = env.manager->createService(config); rc == 0) consolePrint("%s installed.\n", kDisplayName);
  else consolePrint("CreateService failed - %s\n", systemErrorText(rc).c_str());
}

void removeService(HostEnvironment& env) {
  veltris::service::ServiceManager& m = *env.manager;
  if (long rc = m.connect(); rc != 0) {
    consolePrint("OpenSCManager failed - %s\n", systemErrorText(rc).c_str());
    return;
  }
  if (long rc = m.openService(kServiceName); rc != 0) {
    consolePrint("OpenService failed - %s\n", systemErrorText(rc).c_str());
    return;
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
  if (long rc = m.deleteService(kServiceName); rc == 0) consolePrint("%s removed.\n", kDisplayName);
  else consolePrint("DeleteService failed - %s\n", systemErrorText(rc).c_str());
}

void startService(HostEnvironment& env) {
  veltris::service::ServiceManager& m = *env.manager;
  if (m.connect() != 0) {
    env.messageBox("VELTRIS ERROR", "Could not open Service Control Manager");
    return;
  }
  if (long rc = m.openService(kServiceName); rc != 0) {
    consolePrint("Could not open TapsorSv - code %ld\n", rc);
    return;
  }
  long rc = m.startService(kServiceName);
  if (rc == 0) consolePrint("TapsorSv started\n");
  else if (rc == veltris::service::kErrorServiceAlreadyRunning) consolePrint("TapsorSv is already running\n");
  else consolePrint("TapsorSv failed to start - code %ld\n", rc);
}

void stopServices(HostEnvironment& env) {
  if (env.manager->connect() != 0) {
    env.messageBox("VELTRIS ERROR", "Could not open Service Control Manager");
    return;
  }
  stopOne(env, kServiceName);
  stopOne(env, kDriverServiceName);
}

int tapsorMain(int argc, char** argv, HostEnvironment& env) {
  if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
    const char* word = argv[1] + 1;
    std::vector<std::string> params(argv + 2, argv + argc);
    if (strcasecmp(word, "install") == 0) {
      stopServices(env);
      removeService(env);
      installService(env);
      return 0;
    }
    if (strcasecmp(word, "remove") == 0) {
      stopServices(env);
      removeService(env);
      return 0;
    }
    if (strcasecmp(word, "start") == 0) {
      startService(env);
      return 0;
    }
    if (strcasecmp(word, "stop") == 0) {
      stopServices(env);
      return 0;
    }
    if (strcasecmp(word, "debug") == 0) return runForeground(env, false, params);
    if (strcasecmp(word, "prom") == 0) return runForeground(env, true, params);
  }
  printUsage();
  if (veltris::service::startedByServiceManager()) return runService(env);
  ServiceStatus status(false);
  status.logError("StartServiceCtrlDispatcher failed.", veltris::service::kErrorFailedServiceControllerConnect);
  return 1;
}

}  // namespace veltris::agent::service
