#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "agent/service/service_host.h"
#include "agent/service/service_status.h"

namespace veltris::agent::service {
namespace {

// Console control events, as the signals of a terminal and a session deliver them.
constexpr int kCtrlCEvent = 0;
constexpr int kCtrlBreakEvent = 1;
constexpr int kCtrlCloseEvent = 2;
constexpr int kCtrlLogoffEvent = 5;
constexpr int kCtrlShutdownEvent = 6;
constexpr int kEndSignal = SIGUSR2;  // ends the control thread once the agent has returned

int consoleEventOf(int signal) {
  switch (signal) {
    case SIGINT: return kCtrlCEvent;
    case SIGQUIT: return kCtrlBreakEvent;
    case SIGHUP: return kCtrlCloseEvent;
    case SIGUSR1: return kCtrlLogoffEvent;
    default: return kCtrlShutdownEvent;  // SIGTERM
  }
}

sigset_t controlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, kEndSignal}) sigaddset(&set, s);
  return set;
}

struct Host {
  Host(HostEnvironment& env, bool debug) : env(env), status(debug) {}
  HostEnvironment& env;
  AgentRuntime rt;
  ServiceStatus status;
};

// Asked first, in both modes: logoff keeps the agent running, shutdown stops it.
bool logoffHandler(Host& host, int event) {
  if (event != kCtrlLogoffEvent && event != kCtrlShutdownEvent) return false;
  if (host.rt.closeConsoleWindows) host.rt.closeConsoleWindows();
  if (event == kCtrlLogoffEvent) {
    if (host.rt.logoffNotice) host.rt.logoffNotice();
  } else {
    shutdownRoutine(host.rt);
  }
  return true;
}

void foregroundHandler(Host& host, int event) {
  if (logoffHandler(host, event)) return;
  consolePrint("Stopping %s.\n", kDisplayName);
  shutdownRoutine(host.rt);
}

void serviceControl(Host& host, int signal) {
  if (signal == SIGTERM) {
    shutdownRoutine(host.rt);  // the stop control
  } else if (!logoffHandler(host, consoleEventOf(signal))) {
    host.status.reportCurrent();
  }
}

void controlLoop(Host& host, sigset_t set) {
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (signal == kEndSignal) return;
    if (host.status.debug()) foregroundHandler(host, consoleEventOf(signal));
    else serviceControl(host, signal);
  }
}

int runAgent(Host& host, const AgentOptions& options) {
  AgentRuntime& rt = host.rt;
  rt.messageBox = host.env.messageBox;
  rt.reportStatus = [&host](uint32_t state, uint32_t exitCode, uint32_t waitHint) {
    return host.status.report(state, exitCode, waitHint);
  };
  rt.shutdown = [&rt] { shutdownRoutine(rt); };
  if (!host.status.report(kRunning, 0, 0)) return 0;

  sigset_t set = controlSignals();
  std::thread control(controlLoop, std::ref(host), set);
  agentMain(rt, options);
  pthread_kill(control.native_handle(), kEndSignal);
  control.join();
  return 0;
}

AgentOptions optionsFor(HostEnvironment& env, const std::vector<std::string>& adapters) {
  AgentOptions options;
  options.adapters = adapters;
  options.startServer = env.startServer;
  return options;
}

// A shell starts a background job with SIGINT and SIGQUIT ignored, and an
// ignored signal never reaches sigwait: Ctrl-C (kill -INT) must stop the agent
// wherever it was started from. SIGHUP keeps what nohup made of it.
void blockControlSignals() {
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGQUIT, SIG_DFL);
  sigset_t set = controlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

int runForeground(HostEnvironment& env, bool promiscuous, const std::vector<std::string>& adapters) {
  blockControlSignals();
  consolePrint("Debugging %s.\n", kDisplayName);
  Host host(env, true);
  host.rt.debug = true;
  host.rt.promiscuous = promiscuous;
  runAgent(host, optionsFor(env, adapters));
  return host.rt.exitCode;
}

int runService(HostEnvironment& env) {
  blockControlSignals();
  setConsoleWindow(false);  // standard output is the journal
  Host host(env, false);
  if (!host.status.report(kStartPending, 0, 3000)) {
    host.status.report(kStopped, static_cast<uint32_t>(host.status.savedError()), 0);
    return 0;
  }
  return runAgent(host, optionsFor(env, {}));
}

void headlessMessageBox(const char* caption, const char* text) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
  veltris::service::logEvent(kServiceName, veltris::service::EventType::Error, std::string(caption) + ": " + text);
}

}  // namespace veltris::agent::service
