#pragma once
// The ServerRPC thread: registers the agent interface (PingRpc, RequestRpc),
// listens on "ncalrpc", "ncacn_ip_tcp", "ncacn_nb_nb" and "ncacn_spx", publishes
// its endpoints through the endpoint mapper that this process hosts, starts the
// taskbar and serves calls until the agent stops it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/rpc/endpoint_mapper.h"
#include "platform/rpc/server.h"

namespace veltris::agent {

struct RpcServerHooks {
  // The request handler: 0 with a reply, or -2 with nullReply set (key mismatch).
  // Runs on RPC call threads, several at once.
  std::function<int32_t(const uint8_t key[16], const uint8_t request[256],
                        std::vector<uint8_t>& reply, bool& nullReply)>
      request;
  std::function<void()> startTaskbar;
  std::function<void(const char* caption, const char* text)> messageBox;
  // A connection the RPC runtime ended, in one line (empty: not told).
  std::function<void(const std::string& line)> trace;
  // Where the TCP endpoints listen; empty: every address.
  std::vector<rpc::ListenAddress> tcpAddresses;
};

class RpcServerThread {
 public:
  RpcServerThread() = default;
  ~RpcServerThread();
  RpcServerThread(const RpcServerThread&) = delete;
  RpcServerThread& operator=(const RpcServerThread&) = delete;

  void start(RpcServerHooks hooks);
  // RpcMgmtStopServerListening: returns once listening has ended and the thread
  // has removed its endpoints. Safe from a request handler (its own reply still
  // goes out) and from several threads.
  void stop();

  // For the agent's tests and tools: true once calls are served, false when
  // start-up failed or the time ran out.
  bool waitUntilListening(std::chrono::milliseconds timeout);
  std::vector<std::string> bindings() const;  // string bindings of the agent interface
  uint16_t endpointMapperPort() const;        // 0 when the mapper has no TCP port

 private:
  enum class Phase { Idle, Starting, Listening, Ended };

  void run();
  void fail(const char* text);
  void startEndpointMapper();
  void setPhase(Phase phase);

  RpcServerHooks hooks_;
  rpc::EndpointMapper mapper_;  // outlives server_, which hosts it
  std::unique_ptr<rpc::Server> server_;
  std::thread thread_;
  std::mutex joinMutex_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Phase phase_ = Phase::Idle;
  bool stopRequested_ = false;
  std::vector<rpc::Binding> bindings_;
  uint16_t mapperPort_ = 0;
};

// The message box text for a failed endpoint registration.
std::string endpointRegisterFailureText(uint32_t status);

}  // namespace veltris::agent
