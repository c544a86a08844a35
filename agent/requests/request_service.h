#pragma once
// The agent's request service: the request handler behind the ServerRPC thread.
#include <memory>
#include <thread>

#include "agent/core/runtime.h"
#include "agent/requests/dns_sd_announcement.h"
#include "agent/requests/request_handler.h"
#include "agent/requests/rpc_server.h"

namespace veltris::agent {

class RequestService {
 public:
  // Starts the ServerRPC thread; the runtime's stopServer hook then stops its listening.
  ~RequestService() { stop(); }
  void start(AgentRuntime& rt);
  void stop();

 private:
  std::unique_ptr<RequestHandler> handler_;
  RpcServerThread server_;
  DnsSdAnnouncement dnsSd_;
  std::thread announcer_;  // waits for listening, then announces
};

}  // namespace veltris::agent
