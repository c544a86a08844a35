#include "platform/rpc/client.h"

#include <algorithm>

#include "platform/rpc/epm_stubs.h"
#include "platform/rpc/pdu.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tower.h"

namespace veltris::rpc {
namespace {

constexpr size_t kMaxIncomingFragment = 65535;
constexpr uint16_t kSmallestUsableFragment = kCallHeaderSize + 8;
constexpr uint32_t kMapperTowersWanted = 4;

std::chrono::milliseconds timeLeft(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

uint32_t statusFromRejection(uint16_t reason) {
  switch (reason) {
    case provider_reason::kAbstractSyntaxNotSupported:
      return status::kUnknownIf;
    case provider_reason::kTransferSyntaxesNotSupported:
      return status::kUnsupportedTransferSyntax;
    default:
      return status::kCallFailedDne;
  }
}

uint32_t statusFromBindNak(uint16_t reason) {
  switch (reason) {
    case reject_reason::kTemporaryCongestion:
    case reject_reason::kLocalLimitExceeded:
      return status::kServerTooBusy;
    case reject_reason::kProtocolVersionNotSupported:
      return status::kProtocolError;
    default:
      return status::kCallFailedDne;
  }
}

// Faults after which our server ends the connection; closing first spares the
// next call a write into a connection that is going away.
bool faultEndsConnection(uint32_t code) {
  return code == fault::kProtocolError || code == fault::kRemoteNoMemory ||
         code == fault::kUnsupportedType;
}

uint32_t statusFromIo(IoResult result) {
  return result == IoResult::TimedOut ? status::kTimeout : status::kCallFailed;
}

}  // namespace

Client::Client(ClientOptions options) : options_(options) {}

Client::~Client() { close(); }

void Client::close() {
  reader_.reset();
  socket_.close();
}

uint32_t Client::fail(uint32_t status, std::string error) {
  close();
  error_ = std::move(error);
  return status;
}

uint32_t Client::open(std::string_view text, const SyntaxId& iface) {
  close();
  Binding parsed;
  if (uint32_t st = parseBinding(text, parsed); st != status::kOk) {
    return fail(st, "bad binding string: " + std::string(text));
  }
  binding_ = parsed;
  iface_ = iface;
  resolveOnConnect_ = binding_.endpoint.empty();
  return connectAndBind(Clock::now() + options_.connectTimeout);
}

uint32_t Client::resolveEndpoint(Deadline deadline) {
  Binding mapper{binding_.protseq, binding_.host, kLocalEndpointMapper};
  if (binding_.protseq == Protseq::Tcp) {
    uint16_t port = endpointMapperPort();
    if (port == 0) return fail(status::kServerUnavailable, "no endpoint mapper port configured");
    mapper.endpoint = std::to_string(port);
  }
  std::string endpoint;
  uint32_t st = lookupEndpoint(mapper, iface_, binding_.protseq, timeLeft(deadline), endpoint);
  if (st != status::kOk) {
    return fail(st, "endpoint mapper at " + toString(mapper) + " has no endpoint for " +
                        toString(iface_.uuid));
  }
  binding_.endpoint = endpoint;
  return status::kOk;
}

uint32_t Client::connectAndBind(Deadline deadline) {
  close();
  if (resolveOnConnect_) {
    if (uint32_t st = resolveEndpoint(deadline); st != status::kOk) return st;
  }
  uint32_t st = status::kOk;
  if (binding_.protseq == Protseq::Tcp) {
    uint16_t port = 0;
    parsePort(binding_.endpoint, port);
    st = connectTcp(binding_.host, port, deadline, socket_, error_);
  } else {
    st = connectLocal(binding_.endpoint, deadline, socket_, error_);
  }
  if (st != status::kOk) return fail(st, error_);
  reader_ = std::make_unique<PduReader>(socket_.fd());
  return bind(deadline);
}

uint32_t Client::bind(Deadline deadline) {
  BindPdu request{options_.maxXmitFrag, options_.maxRecvFrag, 0,
                  {ContextElement{0, iface_, {ndrTransferSyntax()}}}};
  uint32_t callId = nextCallId_++;
  scratch_.clear();
  encodeBind(scratch_, PduType::Bind, callId, request);
  if (IoResult r = writeAll(socket_.fd(), scratch_, deadline); r != IoResult::Ok) {
    return fail(statusFromIo(r), "bind could not be sent");
  }
  std::vector<uint8_t> pdu;
  IoResult r = reader_->next(pdu, kMaxIncomingFragment, deadline, timeLeft(deadline));
  if (r != IoResult::Ok) return fail(statusFromIo(r), "no answer to bind");
  if (auto nak = decodeBindNak(pdu)) {
    return fail(statusFromBindNak(nak->reason), "bind refused");
  }
  auto ack = decodeBindAck(pdu);
  if (!ack || ack->results.empty() || decodeHeader(pdu)->callId != callId) {
    return fail(status::kProtocolError, "bad answer to bind");
  }
  const ContextResult& result = ack->results.front();
  if (result.result != context_result::kAcceptance) {
    return fail(statusFromRejection(result.reason), "interface not offered by the server");
  }
  if (ack->maxRecvFrag < kSmallestUsableFragment) {
    return fail(status::kProtocolError, "server fragment size too small");
  }
  xmitFrag_ = std::min(ack->maxRecvFrag, options_.maxXmitFrag);
  recvFrag_ = ack->maxXmitFrag;
  return status::kOk;
}

uint32_t Client::call(uint16_t opnum, std::span<const uint8_t> stub, std::vector<uint8_t>& reply,
                      std::chrono::milliseconds timeout) {
  reply.clear();
  if (iface_.uuid.isNil()) return status::kInvalidBinding;  // never opened
  if (!socket_.valid() || reader_->hasBufferedBytes() || connectionUnusable(socket_.fd())) {
    if (uint32_t st = connectAndBind(Clock::now() + options_.connectTimeout); st != status::kOk) {
      return st;
    }
  }
  Deadline deadline = Clock::now() + timeout;
  uint32_t callId = nextCallId_++;
  if (uint32_t st = sendRequest(callId, opnum, stub, deadline); st != status::kOk) return st;
  return receiveReply(callId, reply, deadline);
}

uint32_t Client::sendRequest(uint32_t callId, uint16_t opnum, std::span<const uint8_t> stub,
                             Deadline deadline) {
  IoResult result = IoResult::Ok;
  sendInFragments(CallFragment{PduType::Request, callId, 0, 0, 0, opnum}, stub, xmitFrag_,
                  scratch_, [&](std::span<const uint8_t> pdu) {
                    result = writeAll(socket_.fd(), pdu, deadline);
                    return result == IoResult::Ok;
                  });
  if (result != IoResult::Ok) return fail(statusFromIo(result), "request could not be sent");
  return status::kOk;
}

uint32_t Client::receiveReply(uint32_t callId, std::vector<uint8_t>& reply, Deadline deadline) {
  std::vector<uint8_t> pdu;
  bool first = true;
  for (;;) {
    IoResult r = reader_->next(pdu, kMaxIncomingFragment, deadline, timeLeft(deadline));
    if (r != IoResult::Ok) return fail(statusFromIo(r), "reply not received");
    auto header = decodeHeader(pdu);
    if (header->type == static_cast<uint8_t>(PduType::Shutdown)) continue;
    if (header->callId != callId) return fail(status::kProtocolError, "reply to another call");
    if (auto fault = decodeFault(pdu)) {
      if (faultEndsConnection(fault->status)) close();
      return statusFromFault(fault->status);
    }
    auto response = decodeResponse(pdu);
    if (!response || first != ((header->flags & pfc::kFirstFrag) != 0)) {
      return fail(status::kProtocolError, "malformed reply fragment");
    }
    if (reply.size() + response->stub.size() > options_.maxReplyStub) {
      return fail(status::kOutOfMemory, "reply larger than allowed");
    }
    if (first) reply.reserve(std::min<size_t>(response->allocHint, options_.maxReplyStub));
    reply.insert(reply.end(), response->stub.begin(), response->stub.end());
    first = false;
    if (header->flags & pfc::kLastFrag) return status::kOk;
  }
}

uint32_t lookupEndpoint(const Binding& mapper, const SyntaxId& iface, Protseq protseq,
                        std::chrono::milliseconds timeout, std::string& endpoint) {
  ClientOptions options;
  options.connectTimeout = timeout;
  Client client(options);
  if (uint32_t st = client.open(toString(mapper), endpointMapperInterface()); st != status::kOk) {
    return st;
  }
  EptMapRequest request;
  request.object = Uuid{};
  request.tower = encodeTower(iface, TowerAddress{protseq, 0, ""});
  request.maxTowers = kMapperTowersWanted;
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
  encodeEptMapRequest(request, in);
  if (uint32_t st = client.call(ept_op::kMap, in, out, timeout); st != status::kOk) return st;
  EptMapResponse response;
  if (!decodeEptMapResponse(out, response)) return status::kProtocolError;
  for (const auto& bytes : response.towers) {
    auto tower = decodeTower(bytes);
    if (tower && tower->address && tower->address->protseq == protseq &&
        !tower->address->endpoint.empty()) {
      endpoint = tower->address->endpoint;
      return status::kOk;
    }
  }
  return status::kEndpointNotRegistered;
}

}  // namespace veltris::rpc
