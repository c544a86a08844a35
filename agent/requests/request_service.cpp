#include "agent/requests/request_service.h"

namespace veltris::agent {

void RequestService::start(AgentRuntime& rt) {
  handler_ = std::make_unique<RequestHandler>(rt);
  RpcServerHooks hooks;
  hooks.request = handler_->hook();
  hooks.messageBox = rt.messageBox;
  rt.stopServer = [this] { server_.stop(); };
  server_.start(std::move(hooks));
  announcer_ = std::thread([this] {
    if (server_.waitUntilListening(std::chrono::seconds(30))) dnsSd_.publish(server_.endpointMapperPort());
  });
}

void RequestService::stop() {
  server_.stop();
  if (announcer_.joinable()) announcer_.join();
  dnsSd_.withdraw();
}

}  // namespace veltris::agent
