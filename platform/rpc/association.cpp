#include "platform/rpc/association.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>

#include "platform/rpc/status.h"

namespace veltris::rpc {
namespace {

std::atomic<uint32_t> nextAssociationGroup{0x00005a01};
thread_local const CallContext* callInProgress = nullptr;
thread_local std::vector<std::function<void()>>* afterReply = nullptr;

// A proposed fragment size as far as we accept it: never below what every
// peer must handle, never above our own limit.
uint16_t negotiatedFragment(uint16_t proposed, uint16_t ours) {
  return std::min(std::max(proposed, kMinFragment), ours);
}

bool offersNdr(const ContextElement& element) {
  const auto& offered = element.transferSyntaxes;
  return std::find(offered.begin(), offered.end(), ndrTransferSyntax()) != offered.end();
}

}  // namespace

const CallContext* currentCallContext() { return callInProgress; }

bool whenReplySent(std::function<void()> done) {
  if (afterReply == nullptr) return false;
  afterReply->push_back(std::move(done));
  return true;
}

Association::Association(InterfaceLookup lookup, const Limits& limits, CallContext context,
                         CallGate* gate)
    : lookup_(std::move(lookup)), limits_(limits), context_(std::move(context)), gate_(gate) {}

size_t Association::maxIncomingFragment() const {
  return bound_ ? maxRecv_ : std::min(limits_.maxFragment, limits_.maxReceiveFragment);
}

Verdict Association::closing(std::string reason) {
  closeReason_ = {currentPdu_, std::move(reason)};
  return Verdict::Close;
}

Verdict Association::receive(std::span<const uint8_t> pdu, PduSink& sink) {
  auto header = decodeHeader(pdu);
  currentPdu_ = header ? pduName(header->type) : "PDU";
  if (!header || header->fragLength != pdu.size()) return closing("header unreadable or length not the PDU's");
  if (!header->supportedVersion()) {
    if (header->type != static_cast<uint8_t>(PduType::Bind)) return closing("protocol version not supported");
    return sendBindNak(sink, header->callId, reject_reason::kProtocolVersionNotSupported);
  }
  if (!header->littleEndian()) return onForeignRepresentation(*header, sink);
  if (header->authLength != 0) {  // no security provider is registered
    if (header->type == static_cast<uint8_t>(PduType::Bind)) {
      return sendBindNak(sink, header->callId, reject_reason::kAuthenticationTypeNotRecognized);
    }
    return sendFault(sink, header->callId, 0, fault::kProtocolError, true, Verdict::Close);
  }
  switch (PduType{header->type}) {
    case PduType::Bind:
      return onBind(*header, pdu, sink);
    case PduType::AlterContext:
      return onAlterContext(*header, pdu, sink);
    case PduType::Request:
      return onRequest(*header, pdu, sink);
    case PduType::Orphaned:
      if (pending_.active && pending_.callId == header->callId) pending_ = PendingCall{};
      return Verdict::Continue;
    case PduType::CoCancel:  // calls run to completion; there is nothing to cancel
    case PduType::Shutdown:
      return Verdict::Continue;
    default:
      return closing("not a PDU a client sends");
  }
}

bool Association::isBrief(std::span<const uint8_t> pdu) const {
  auto header = decodeHeader(pdu);
  if (!header || header->type != static_cast<uint8_t>(PduType::Request)) return true;
  if (!header->littleEndian() || header->authLength != 0 || !bound_) return true;  // refused at once
  const bool first = header->flags & pfc::kFirstFrag, last = header->flags & pfc::kLastFrag;
  if (!last) return true;    // kept until the call is whole
  if (!first) return false;  // completes a call of several fragments
  auto request = decodeRequest(pdu);
  if (!request) return true;
  auto context = contexts_.find(request->contextId);
  if (context == contexts_.end()) return true;
  const Operation* op = context->second->find(request->opnum);
  if (op == nullptr || !op->handler) return true;
  return op->brief && op->brief(request->stub);
}

// Only little-endian data is understood: say so, then end the connection.
Verdict Association::onForeignRepresentation(const PduHeader& header, PduSink& sink) {
  switch (PduType{header.type}) {
    case PduType::Bind:
      return sendBindNak(sink, header.callId, reject_reason::kUserDataNotReadable);
    case PduType::AlterContext:
    case PduType::Request:
      return sendFault(sink, header.callId, 0, fault::kUnsupportedType, true, Verdict::Close);
    default:
      return closing("data representation not little-endian");
  }
}

std::vector<ContextResult> Association::negotiate(const std::vector<ContextElement>& contexts) {
  std::vector<ContextResult> results;
  for (const ContextElement& element : contexts) {
    ContextResult result;
    result.result = context_result::kProviderRejection;
    auto iface = lookup_(element.abstractSyntax);
    if (!iface) {
      result.reason = provider_reason::kAbstractSyntaxNotSupported;
    } else if (!offersNdr(element)) {
      result.reason = provider_reason::kTransferSyntaxesNotSupported;
    } else if (contexts_.size() >= limits_.maxContexts && !contexts_.count(element.contextId)) {
      result.reason = provider_reason::kLocalLimitExceeded;
    } else {
      result = {context_result::kAcceptance, provider_reason::kNotSpecified, ndrTransferSyntax()};
      contexts_[element.contextId] = std::move(iface);
    }
    results.push_back(result);
  }
  return results;
}

Verdict Association::onBind(const PduHeader& header, std::span<const uint8_t> pdu,
                            PduSink& sink) {
  auto bind = decodeBind(pdu);
  if (bound_ || !bind) return sendBindNak(sink, header.callId, reject_reason::kNotSpecified);
  maxXmit_ = negotiatedFragment(bind->maxRecvFrag, limits_.maxFragment);
  maxRecv_ = negotiatedFragment(bind->maxXmitFrag, std::min(limits_.maxFragment, limits_.maxReceiveFragment));
  BindAckPdu ack;
  ack.maxXmitFrag = maxXmit_;
  ack.maxRecvFrag = maxRecv_;
  ack.assocGroupId = bind->assocGroupId != 0 ? bind->assocGroupId : nextAssociationGroup++;
  ack.secondaryAddress = context_.endpoint;
  ack.results = negotiate(bind->contexts);
  bound_ = true;
  scratch_.clear();
  encodeBindAck(scratch_, PduType::BindAck, header.callId, ack);
  return sent(sink.send(scratch_));
}

Verdict Association::onAlterContext(const PduHeader& header, std::span<const uint8_t> pdu,
                                    PduSink& sink) {
  auto alter = decodeBind(pdu);
  if (!bound_ || pending_.active || !alter) {
    return sendFault(sink, header.callId, 0, fault::kProtocolError, true, Verdict::Close);
  }
  BindAckPdu response;
  response.maxXmitFrag = maxXmit_;
  response.maxRecvFrag = maxRecv_;
  response.assocGroupId = alter->assocGroupId;
  response.results = negotiate(alter->contexts);
  scratch_.clear();
  encodeBindAck(scratch_, PduType::AlterContextResp, header.callId, response);
  return sent(sink.send(scratch_));
}

Verdict Association::onRequest(const PduHeader& header, std::span<const uint8_t> pdu,
                               PduSink& sink) {
  auto request = decodeRequest(pdu);
  if (!bound_ || !request) {
    return sendFault(sink, header.callId, 0, fault::kProtocolError, true, Verdict::Close);
  }
  if (header.flags & pfc::kFirstFrag) {
    if (pending_.active) return closing("a call is still being received");  // calls do not overlap
    pending_ = PendingCall{true, header.callId, request->contextId, request->opnum, 0, {}};
    pending_.stub.reserve(std::min<size_t>(request->allocHint, limits_.maxRequestStub));
  } else if (!pending_.active || pending_.callId != header.callId ||
             pending_.contextId != request->contextId) {
    return closing("fragment of no call in progress");
  }
  ++pending_.fragments;
  if (pending_.stub.size() + request->stub.size() > limits_.maxRequestStub ||
      pending_.fragments > limits_.maxRequestFragments) {
    PendingCall refused = std::move(pending_);
    pending_ = PendingCall{};
    return sendFault(sink, refused.callId, refused.contextId, fault::kRemoteNoMemory, true,
                     Verdict::Close);
  }
  pending_.stub.insert(pending_.stub.end(), request->stub.begin(), request->stub.end());
  if (!(header.flags & pfc::kLastFrag)) return Verdict::Continue;
  return dispatch(sink);
}

Verdict Association::dispatch(PduSink& sink) {
  PendingCall call = std::move(pending_);
  pending_ = PendingCall{};
  auto context = contexts_.find(call.contextId);
  if (context == contexts_.end()) {
    return sendFault(sink, call.callId, call.contextId, fault::kUnknownInterface, true,
                     Verdict::Continue);
  }
  const Operation* op = context->second->find(call.opnum);
  if (op == nullptr || !op->handler) {
    return sendFault(sink, call.callId, call.contextId, fault::kOpRangeError, true,
                     Verdict::Continue);
  }
  Admission admission = gate_ ? gate_->enter() : Admission::Admitted;
  if (admission == Admission::Closing) return closing("server stopping");
  if (admission == Admission::Busy) {
    return sendFault(sink, call.callId, call.contextId, fault::kServerTooBusy, true,
                     Verdict::Continue);
  }
  std::vector<uint8_t> out;
  std::vector<std::function<void()>> whenSent;
  afterReply = &whenSent;
  uint32_t status = runHandler(*op, std::move(call.stub), out);
  afterReply = nullptr;
  if (gate_) gate_->leave();  // the handler's slot is free; the reply still goes out
  Verdict verdict = finishCall(status, out, call.callId, call.contextId, sink);
  for (auto& done : whenSent) done();
  return verdict;
}

uint32_t Association::runHandler(const Operation& op, std::vector<uint8_t> stub,
                                 std::vector<uint8_t>& out) {
  struct CallScope {
    explicit CallScope(const CallContext& context) { callInProgress = &context; }
    ~CallScope() { callInProgress = nullptr; }
  } scope(context_);
  try {
    return op.handler(context_, stub, out);
  } catch (const std::bad_alloc&) {
    return fault::kRemoteNoMemory;
  } catch (...) {
    return fault::kUnspecified;
  }
}

Verdict Association::finishCall(uint32_t status, std::span<const uint8_t> out, uint32_t callId,
                                uint16_t contextId, PduSink& sink) {
  if (status != 0) return sendFault(sink, callId, contextId, status, false, Verdict::Continue);
  if (out.size() > limits_.maxReplyStub) {
    return sendFault(sink, callId, contextId, fault::kOutArgsTooBig, false, Verdict::Continue);
  }
  return sendReply(out, callId, contextId, sink);
}

Verdict Association::sendReply(std::span<const uint8_t> stub, uint32_t callId,
                               uint16_t contextId, PduSink& sink) {
  CallFragment fragment{PduType::Response, callId, 0, 0, contextId, 0};
  bool delivered = sendInFragments(fragment, stub, maxXmit_, scratch_,
                                   [&](std::span<const uint8_t> pdu) { return sink.send(pdu); });
  return sent(delivered);
}

Verdict Association::sendFault(PduSink& sink, uint32_t callId, uint16_t contextId,
                               uint32_t status, bool didNotExecute, Verdict after) {
  scratch_.clear();
  encodeFault(scratch_, callId, contextId, status, didNotExecute);
  if (!sink.send(scratch_)) return closing("peer gone while sending");
  if (after == Verdict::Close) {
    char reason[48];
    std::snprintf(reason, sizeof reason, "fault 0x%08x sent", static_cast<unsigned>(status));
    return closing(reason);
  }
  return after;
}

Verdict Association::sendBindNak(PduSink& sink, uint32_t callId, uint16_t reason) {
  scratch_.clear();
  encodeBindNak(scratch_, callId, BindNakPdu{reason, {{kRpcVersion, 0}}});
  sink.send(scratch_);
  return closing("bind_nak sent, reason " + std::to_string(reason));
}

}  // namespace veltris::rpc
