#pragma once
// TapsorSv's command line and service host.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "agent/core/runtime.h"
#include "agent/service/agent_main.h"
#include "common/agent_service.h"
#include "platform/service/service_manager.h"

namespace veltris::agent::service {

struct HostEnvironment {
  veltris::service::ServiceManager* manager = nullptr;
  std::function<void(std::chrono::milliseconds)> sleep;
  MessageBox messageBox;
  // Starts the request server once the agent runs (empty: none).
  std::function<void(AgentRuntime&)> startServer;
};

// The program: switches, usage, and the service or foreground run. Answers the exit code.
int tapsorMain(int argc, char** argv, HostEnvironment& env);

// Service control from the command line; each answers whether it succeeded.
// A unit the package installed is started and stopped, never replaced or removed.
bool installService(HostEnvironment& env);
bool removeService(HostEnvironment& env);
bool startService(HostEnvironment& env);
bool stopServices(HostEnvironment& env);

// Runs the agent in the foreground ("debug", "prom") or as the service.
int runForeground(HostEnvironment& env, bool promiscuous, const std::vector<std::string>& adapters);
int runService(HostEnvironment& env);

// Message boxes without a display: a line on standard error and in syslog.
void headlessMessageBox(const char* caption, const char* text);

}  // namespace veltris::agent::service
