#pragma once
// The agent's request service: the request handler behind the ServerRPC thread.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "agent/core/runtime.h"
#include "agent/requests/dns_sd_announcement.h"
#include "agent/requests/request_handler.h"
#include "agent/requests/rpc_server.h"
#include "agent/taskbar/traffic_state.h"

namespace veltris::agent {

// Lines of the RPC runtime's trace: at most kLinesPerSecond a second; the
// first line after a quiet spell says how many were left out.
class TraceBudget {
 public:
  static constexpr int kLinesPerSecond = 20;
  // The line to write, or empty when this second's budget is spent.
  std::string admit(const std::string& line, uint32_t now);

 private:
  std::mutex mutex_;
  uint32_t second_ = 0;
  int used_ = 0;
  unsigned long dropped_ = 0;
};

class RequestService {
 public:
  // Starts the ServerRPC thread, which starts the taskbar thread; the runtime's
  // closeWindows hook then ends the taskbar and stopServer stops listening.
  ~RequestService() { stop(); }
  void start(AgentRuntime& rt);
  void stop();

 private:
  std::unique_ptr<RequestHandler> handler_;
  TaskbarThread taskbar_;
  RpcServerThread server_;
  DnsSdAnnouncement dnsSd_;
  std::thread announcer_;  // waits for listening, then announces
};

}  // namespace veltris::agent
