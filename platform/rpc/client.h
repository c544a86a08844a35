#pragma once
// An RPC client on one connection: open (connect and bind one interface), then
// calls with fragmentation both ways. A connection the server has closed while
// idle is opened again before the next call; a call in flight is never retried.
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rpc/binding.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/uuid.h"

namespace veltris::rpc {

struct ClientOptions {
  uint16_t maxXmitFrag = 65535;  // proposed in bind; the server may lower them
  uint16_t maxRecvFrag = 65535;
  size_t maxReplyStub = 64u << 20;
  std::chrono::milliseconds connectTimeout{std::chrono::seconds(10)};
};

class Client {
 public:
  explicit Client(ClientOptions options = {});
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Binding strings as in binding.h; without an endpoint the endpoint mapper
  // is asked. Status 0 or the reason (kServerUnavailable, kUnknownIf, ...).
  uint32_t open(std::string_view binding, const SyntaxId& iface);
  // Status 0 with the reply stub, a fault's status, or a transport failure
  // (kCallFailed, kProtocolError, kTimeout) after which the connection is closed.
  uint32_t call(uint16_t opnum, std::span<const uint8_t> stub, std::vector<uint8_t>& reply,
                std::chrono::milliseconds timeout);
  void close();

  bool isOpen() const { return socket_.valid(); }
  const Binding& binding() const { return binding_; }  // endpoint resolved
  uint16_t transmitFragment() const { return xmitFrag_; }
  uint16_t receiveFragment() const { return recvFrag_; }
  const std::string& lastError() const { return error_; }

 private:
  uint32_t resolveEndpoint(Deadline deadline);
  uint32_t connectAndBind(Deadline deadline);
  uint32_t bind(Deadline deadline);
  uint32_t sendRequest(uint32_t callId, uint16_t opnum, std::span<const uint8_t> stub,
                       Deadline deadline);
  uint32_t receiveReply(uint32_t callId, std::vector<uint8_t>& reply, Deadline deadline);
  uint32_t fail(uint32_t status, std::string error);

  ClientOptions options_;
  Binding binding_;
  SyntaxId iface_;
  Socket socket_;
  std::unique_ptr<PduReader> reader_;
  uint16_t xmitFrag_ = 0;
  uint16_t recvFrag_ = 0;
  uint32_t nextCallId_ = 1;
  bool resolveOnConnect_ = false;  // no endpoint given: ask the mapper on every connect
  std::string error_;
  std::vector<uint8_t> scratch_;
};

// Asks the endpoint mapper at `mapper` for iface's endpoint on `protseq`.
uint32_t lookupEndpoint(const Binding& mapper, const SyntaxId& iface, Protseq protseq,
                        std::chrono::milliseconds timeout, std::string& endpoint);

}  // namespace veltris::rpc
