#pragma once
// What a server offers: interfaces as tables of {opnum, name, handler}, and the
// limits that protect it from its clients.
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/rpc/binding.h"
#include "platform/rpc/uuid.h"

namespace veltris::rpc {

// Where a call came from and arrived.
struct CallContext {
  Protseq protseq = Protseq::Tcp;
  std::string endpoint;     // our endpoint: TCP port or local endpoint name
  uint32_t localIPv4 = 0;   // address the TCP connection arrived on (host order)
  std::string peer;         // peer address or "uid:N"
  std::string user;         // "uid:N" when the peer is a process on this machine
};

// Unmarshals `in`, does the work and marshals the reply into `out`; returns 0,
// or a fault code for the client (fault::kNdr for a malformed stub).
using Handler = std::function<uint32_t(const CallContext& context, std::span<const uint8_t> in,
                                       std::vector<uint8_t>& out)>;

// The context of the call that the current thread is handling, or nullptr
// outside a handler: for code that a handler calls without passing it along.
const CallContext* currentCallContext();

// Inside a handler: runs `done` once the call's reply has been sent (or has
// failed), so a handler can hold something for as long as its reply exists.
// False outside a handler, where nothing is kept and `done` is not run.
bool whenReplySent(std::function<void()> done);

struct Operation {
  uint16_t opnum = 0;
  const char* name = "";
  Handler handler;
  // True for a call (given its stub) whose handler works briefly from memory
  // and never waits: the connection's reader may answer it itself. Unset: every
  // call goes to a worker thread.
  std::function<bool(std::span<const uint8_t> stub)> brief;
};

struct Interface {
  SyntaxId id;
  std::string name;
  std::vector<Operation> operations;

  const Operation* find(uint16_t opnum) const {
    for (const Operation& op : operations) {
      if (op.opnum == opnum) return &op;
    }
    return nullptr;
  }
};

// Limits that end only the connection that exceeds them.
struct Limits {
  uint16_t maxFragment = 65535;              // largest PDU offered
  uint16_t maxReceiveFragment = 65535;       // largest PDU accepted (before bind too)
  size_t maxRequestStub = 1u << 20;          // inbound stub of one call
  size_t maxRequestFragments = 4096;         // inbound fragments of one call
  size_t maxReplyStub = 64u << 20;           // outbound stub of one call
  size_t maxContexts = 64;                   // presentation contexts per connection
  // Network connections; local ones have their own table, so no network peer
  // can keep this PC's own clients out. A full table makes room by closing the
  // oldest connection that has not bound, else the one idle longest.
  unsigned maxConnections = 256;
  unsigned maxLocalConnections = 64;
  unsigned maxConnectionsPerPeer = 64;
  unsigned maxConcurrentCalls = 256;
  std::chrono::milliseconds bindTimeout{std::chrono::seconds(5)};  // from accept to a bind
  std::chrono::milliseconds idleTimeout{std::chrono::minutes(15)};
  std::chrono::milliseconds receiveTimeout{std::chrono::seconds(30)};  // rest of a PDU; a send
};

}  // namespace veltris::rpc
