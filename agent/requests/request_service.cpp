#include "agent/requests/request_service.h"

#include "agent/requests/listen_addresses.h"

namespace veltris::agent {

void RequestService::start(AgentRuntime& rt) {
  handler_ = std::make_unique<RequestHandler>(rt);
  // A key changed in the registry file takes effect without a restart.
  if (AccessParameterWatch* watch = handler_->accessWatch()) watch->start();
  RpcServerHooks hooks;
  hooks.request = handler_->hook();
  hooks.messageBox = rt.messageBox;
  hooks.startTaskbar = [this, &rt] { taskbar_.start(rt); };
  rt.closeWindows = [this] { taskbar_.close(); };
  ListenChoice listen = configuredListenAddresses();
  if (!listen.note.empty()) consolePrint("%s\n", listen.note.c_str());
  hooks.tcpAddresses = std::move(listen.addresses);
  rt.stopServer = [this] { server_.stop(); };
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
