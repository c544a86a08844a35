#include <thread>

#include "agent/metrics/metrics_server.h"
#include "agent/requests/request_service.h"
#include "agent/service/service_host.h"
#include "platform/service/service_manager.h"

int main(int argc, char** argv) {
  veltris::service::SystemdManager manager;
  veltris::agent::RequestService requests;
  veltris::agent::MetricsServer metrics;
  veltris::agent::service::HostEnvironment env;
  env.manager = &manager;
  env.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
  env.messageBox = veltris::agent::service::headlessMessageBox;
  env.startServer = [&requests, &metrics](veltris::agent::AgentRuntime& rt) {
    requests.start(rt);
    veltris::agent::startMetricsFromRegistry(rt.global, metrics);
  };
  int code = veltris::agent::service::tapsorMain(argc, argv, env);
  metrics.stop();
  requests.stop();
  return code;
}
