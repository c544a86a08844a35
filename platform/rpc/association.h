#pragma once
// The server side of one connection: negotiates presentation contexts,
// reassembles request fragments, runs the handler and fragments its reply.
// It sees whole PDUs and writes to a sink, so it runs the same over a socket,
// in tests and under the fuzzer.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/rpc/interface.h"
#include "platform/rpc/pdu.h"

namespace veltris::rpc {

class PduSink {
 public:
  virtual ~PduSink() = default;
  virtual bool send(std::span<const uint8_t> pdu) = 0;  // false: the connection is gone
};

enum class Admission { Admitted, Busy, Closing };

// Admits calls to the handlers (concurrency limit, shutdown); leave() follows
// the handler's return.
class CallGate {
 public:
  virtual ~CallGate() = default;
  virtual Admission enter() = 0;
  virtual void leave() = 0;
};

enum class Verdict { Continue, Close };

// Why receive() answered Close: the PDU that ended the connection and the reason.
struct CloseReason {
  const char* pdu = "";
  std::string reason;
};

class Association {
 public:
  using InterfaceLookup = std::function<std::shared_ptr<const Interface>(const SyntaxId&)>;

  Association(InterfaceLookup lookup, const Limits& limits, CallContext context,
              CallGate* gate = nullptr);

  // Largest fragment the peer may send now: the negotiated size once bound.
  size_t maxIncomingFragment() const;
  bool bound() const { return bound_; }
  bool callPending() const { return pending_.active; }  // fragments of a call still to come
  Verdict receive(std::span<const uint8_t> pdu, PduSink& sink);
  // True when receiving `pdu` is brief work: negotiation, a fragment kept for
  // later, a fault, or a single-fragment call of a brief operation.
  bool isBrief(std::span<const uint8_t> pdu) const;
  const CloseReason& closeReason() const { return closeReason_; }

 private:
  struct PendingCall {
    bool active = false;
    uint32_t callId = 0;
    uint16_t contextId = 0;
    uint16_t opnum = 0;
    size_t fragments = 0;
    std::vector<uint8_t> stub;
  };

  Verdict onForeignRepresentation(const PduHeader& header, PduSink& sink);
  Verdict onBind(const PduHeader& header, std::span<const uint8_t> pdu, PduSink& sink);
  Verdict onAlterContext(const PduHeader& header, std::span<const uint8_t> pdu, PduSink& sink);
  Verdict onRequest(const PduHeader& header, std::span<const uint8_t> pdu, PduSink& sink);
  Verdict dispatch(PduSink& sink);
  uint32_t runHandler(const Operation& op, std::vector<uint8_t> stub, std::vector<uint8_t>& out);
  Verdict finishCall(uint32_t status, std::span<const uint8_t> out, uint32_t callId,
                     uint16_t contextId, PduSink& sink);
  Verdict sendReply(std::span<const uint8_t> stub, uint32_t callId, uint16_t contextId,
                    PduSink& sink);
  Verdict sendFault(PduSink& sink, uint32_t callId, uint16_t contextId, uint32_t status,
                    bool didNotExecute, Verdict after);
  Verdict sendBindNak(PduSink& sink, uint32_t callId, uint16_t reason);
  std::vector<ContextResult> negotiate(const std::vector<ContextElement>& contexts);
  Verdict closing(std::string reason);  // records why, for the trace
  Verdict sent(bool delivered) { return delivered ? Verdict::Continue : closing("peer gone while sending"); }

  InterfaceLookup lookup_;
  Limits limits_;
  CallContext context_;
  CallGate* gate_;
  bool bound_ = false;
  uint16_t maxXmit_ = 0;  // we send at most this
  uint16_t maxRecv_ = 0;  // the peer sends at most this
  std::map<uint16_t, std::shared_ptr<const Interface>> contexts_;
  PendingCall pending_;
  std::vector<uint8_t> scratch_;
  const char* currentPdu_ = "";
  CloseReason closeReason_;
};

// Sends PDUs into a vector list; for tests and the fuzzer.
class CollectingSink : public PduSink {
 public:
  bool send(std::span<const uint8_t> pdu) override {
    pdus.emplace_back(pdu.begin(), pdu.end());
    return true;
  }
  std::vector<std::vector<uint8_t>> pdus;
};

}  // namespace veltris::rpc
