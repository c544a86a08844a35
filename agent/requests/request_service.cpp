#include "agent/requests/request_service.h"

#include "agent/requests/listen_addresses.h"
#include "platform/service/service_manager.h"

namespace veltris::agent {

std::string TraceBudget::admit(const std::string& line, uint32_t now) {
  std::lock_guard lock(mutex_);
  if (now != second_) {
    second_ = now;
    used_ = 0;
  }
  if (used_ >= kLinesPerSecond) {
    ++dropped_;
    return {};
  }
  ++used_;
  if (dropped_ == 0) return line;
  std::string text = line + " (" + std::to_string(dropped_) + " more not shown)";
  dropped_ = 0;
  return text;
}

void RequestService::start(AgentRuntime& rt) {
  handler_ = std::make_unique<RequestHandler>(rt);
  // A key changed in the registry file takes effect without a restart.
  if (AccessParameterWatch* watch = handler_->accessWatch()) watch->start();
  RpcServerHooks hooks;
  hooks.request = handler_->hook();
  hooks.messageBox = rt.messageBox;
  hooks.startTaskbar = [this, &rt] { taskbar_.start(rt); };
  // In the foreground on the console, as a service in the event log; a flood
  // of bad connections is summed up rather than flooding the log.
  hooks.trace = [&rt, budget = std::make_shared<TraceBudget>()](const std::string& line) {
    std::string text = budget->admit(line, rt.clock->now());
    if (text.empty()) return;
    if (rt.debug)
      consolePrint("%s\n", text.c_str());
    else
      veltris::service::logEvent("TapsorSv", veltris::service::EventType::Warning, text);
  };
  ListenChoice listen = configuredListenAddresses();
  if (!listen.note.empty()) consolePrint("%s\n", listen.note.c_str());
  hooks.tcpAddresses = std::move(listen.addresses);
  {
    std::lock_guard lock(rt.hookMutex);
    rt.closeWindows = [this] { taskbar_.close(); };
    rt.stopServer = [this] { server_.stop(); };
  }
  server_.start(std::move(hooks));
  announcer_ = std::thread([this] {
    if (server_.waitUntilListening(std::chrono::seconds(30))) dnsSd_.publish(server_.endpointMapperPort());
  });
}

void RequestService::stop() {
  taskbar_.close();
  server_.stop();
  if (announcer_.joinable()) announcer_.join();
  dnsSd_.withdraw();
  if (handler_ && handler_->accessWatch()) handler_->accessWatch()->stop();
}

}  // namespace veltris::agent
