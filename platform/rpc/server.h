#pragma once
// An RPC server: registered interfaces, listening endpoints, one thread per
// connection. Mirrors the NT calls RpcServerRegisterIf, RpcServerUseProtseq(Ep),
// RpcServerInqBindings, RpcServerListen and RpcMgmtStopServerListening.
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/rpc/binding.h"
#include "platform/rpc/interface.h"
#include "platform/rpc/socket.h"

namespace veltris::rpc {

class Server {
 public:
  explicit Server(Limits limits = {});
  ~Server();  // stops listening; must not run on one of the server's own call threads
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Status 0 or kTypeAlreadyRegistered.
  uint32_t registerInterface(Interface iface);

  // Listens on a protocol sequence; an empty endpoint asks for a dynamic one.
  // `maxCalls` sizes the connection backlog, as NT does for ncacn_ip_tcp.
  ListenerResult openEndpoint(std::string_view protseq, std::string_view endpoint,
                              unsigned maxCalls);
  uint32_t useProtseq(std::string_view protseq, unsigned maxCalls) {
    return openEndpoint(protseq, {}, maxCalls).status;
  }
  std::vector<Binding> bindings() const;

  // Where TCP endpoints opened from now on listen: empty (the default) for
  // every address of the host, IPv6 and IPv4.
  void setTcpAddresses(std::vector<ListenAddress> addresses);
  std::vector<ListenAddress> tcpAddresses() const;

  // Starts serving without blocking; at most maxConcurrentCalls handlers run at
  // once (further calls get a "server too busy" fault).
  uint32_t listen(unsigned maxConcurrentCalls);
  // Blocks until stopListening() has finished.
  void waitForStop();
  // Stops accepting, ends idle connections at once (with a shutdown PDU), lets
  // running calls send their replies, closes the endpoints and returns when
  // every connection has ended. Called from a handler, it returns without
  // waiting for that call.
  uint32_t stopListening();

  bool isListening() const;
  size_t connectionCount() const;

  // Told each time the server ends a connection on its own: the peer, the PDU
  // that ended it (empty when none did) and why. Runs on the connection's
  // thread; set it before listen().
  using Trace = std::function<void(std::string_view peer, std::string_view pdu, std::string_view reason)>;
  void setTrace(Trace trace);

  struct State;  // shared with the connection threads

 private:
  std::shared_ptr<State> state_;
};

}  // namespace veltris::rpc
