#pragma once
// The agent's body once the service host runs it: start-up, the history
// timer loop, and the shutdown routine every stop path ends in.
#include <chrono>
#include <string>
#include <vector>

#include "agent/core/access_parameters.h"
#include "agent/core/runtime.h"
#include "common/registry_names.h"

namespace veltris::agent {

constexpr size_t kExportListBytes = 1020;

struct AgentOptions {
  std::vector<std::string> adapters;  // replace the Export list when not empty (-debug params)
  std::chrono::milliseconds historyPeriod = std::chrono::minutes(10);
  std::chrono::milliseconds serverDelay = std::chrono::seconds(2);
  // Starts the request server thread (empty: none).
  std::function<void(AgentRuntime&)> startServer;
};

// Runs start-up and the history timer loop on the calling thread; returns when
// the agent has stopped and its NetMonitor threads have ended.
void agentMain(AgentRuntime& rt, const AgentOptions& options);

// The device names to monitor: the Export list, or the host's interfaces.
std::vector<std::string> exportList();

// The shutdown routine. Any thread; a second call finds the stop event set and waits again.
void shutdownRoutine(AgentRuntime& rt);

}  // namespace veltris::agent
