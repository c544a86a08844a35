#pragma once
// The agent's request service: the request handler behind the ServerRPC thread.
#include <memory>

#include "agent/core/runtime.h"
#include "agent/requests/request_handler.h"
#include "agent/requests/rpc_server.h"

namespace veltris::agent {

class RequestService {
 public:
  // Starts the ServerRPC thread; the runtime's stopServer hook then stops its listening.
  void start(AgentRuntime& rt);
  void stop();

 private:
  std::unique_ptr<RequestHandler> handler_;
  RpcServerThread server_;
};

}  // namespace veltris::agent
