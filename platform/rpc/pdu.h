#pragma once
// DCE/RPC 5.0 connection-oriented PDUs: the 16-byte common header and the
// bodies of bind, bind_ack, bind_nak, alter_context(_resp), request, response
// and fault. Decoders take one whole PDU and check every length against the
// bytes received; encoders append one whole PDU.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/rpc/uuid.h"

namespace veltris::rpc {

enum class PduType : uint8_t {
  Request = 0,
  Response = 2,
  Fault = 3,
  Bind = 11,
  BindAck = 12,
  BindNak = 13,
  AlterContext = 14,
  AlterContextResp = 15,
  Shutdown = 17,
  CoCancel = 18,
  Orphaned = 19,
};

namespace pfc {
inline constexpr uint8_t kFirstFrag = 0x01;
inline constexpr uint8_t kLastFrag = 0x02;
inline constexpr uint8_t kPendingCancel = 0x04;
inline constexpr uint8_t kConcurrentMultiplex = 0x10;
inline constexpr uint8_t kDidNotExecute = 0x20;
inline constexpr uint8_t kMaybe = 0x40;
inline constexpr uint8_t kObjectUuid = 0x80;
}  // namespace pfc

inline constexpr size_t kCommonHeaderSize = 16;
inline constexpr size_t kCallHeaderSize = 24;  // request and response
inline constexpr size_t kFaultPduSize = 32;
inline constexpr uint16_t kMinFragment = 1432;  // every peer must accept this much
inline constexpr uint8_t kRpcVersion = 5;

// Presentation context results and provider reasons in bind_ack.
namespace context_result {
inline constexpr uint16_t kAcceptance = 0;
inline constexpr uint16_t kUserRejection = 1;
inline constexpr uint16_t kProviderRejection = 2;
}  // namespace context_result
namespace provider_reason {
inline constexpr uint16_t kNotSpecified = 0;
inline constexpr uint16_t kAbstractSyntaxNotSupported = 1;
inline constexpr uint16_t kTransferSyntaxesNotSupported = 2;
inline constexpr uint16_t kLocalLimitExceeded = 3;
}  // namespace provider_reason
// Reasons in bind_nak.
namespace reject_reason {
inline constexpr uint16_t kNotSpecified = 0;
inline constexpr uint16_t kTemporaryCongestion = 1;
inline constexpr uint16_t kLocalLimitExceeded = 2;
inline constexpr uint16_t kProtocolVersionNotSupported = 4;
inline constexpr uint16_t kUserDataNotReadable = 6;
inline constexpr uint16_t kAuthenticationTypeNotRecognized = 8;
}  // namespace reject_reason

struct PduHeader {
  uint8_t versionMajor = kRpcVersion;
  uint8_t versionMinor = 0;
  uint8_t type = 0;
  uint8_t flags = pfc::kFirstFrag | pfc::kLastFrag;
  std::array<uint8_t, 4> drep{0x10, 0, 0, 0};  // little-endian integers, ASCII, IEEE
  uint16_t fragLength = 0;
  uint16_t authLength = 0;
  uint32_t callId = 0;

  bool littleEndian() const { return (drep[0] & 0xF0) == 0x10; }
  bool supportedVersion() const { return versionMajor == kRpcVersion && versionMinor <= 1; }
};

// Decodes the common header from the first 16 bytes, honouring the sender's
// integer representation so that the fragment length is always right.
std::optional<PduHeader> decodeHeader(std::span<const uint8_t> bytes);
// "bind", "request" and so on for a PDU type; "PDU type ?" for others.
const char* pduName(uint8_t type);

struct ContextElement {
  uint16_t contextId = 0;
  SyntaxId abstractSyntax;
  std::vector<SyntaxId> transferSyntaxes;
};

struct BindPdu {  // bind and alter_context
  uint16_t maxXmitFrag = 0;
  uint16_t maxRecvFrag = 0;
  uint32_t assocGroupId = 0;
  std::vector<ContextElement> contexts;
};

struct ContextResult {
  uint16_t result = context_result::kAcceptance;
  uint16_t reason = provider_reason::kNotSpecified;
  SyntaxId transferSyntax;
};

struct BindAckPdu {  // bind_ack and alter_context_resp
  uint16_t maxXmitFrag = 0;
  uint16_t maxRecvFrag = 0;
  uint32_t assocGroupId = 0;
  std::string secondaryAddress;
  std::vector<ContextResult> results;
};

struct BindNakPdu {
  uint16_t reason = reject_reason::kNotSpecified;
  std::vector<std::pair<uint8_t, uint8_t>> versions;
};

struct RequestPdu {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint16_t opnum = 0;
  std::optional<Uuid> object;
  std::span<const uint8_t> stub;
};

struct ResponsePdu {
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint8_t cancelCount = 0;
  std::span<const uint8_t> stub;
};

struct FaultPdu {
  uint16_t contextId = 0;
  uint32_t status = 0;
};

std::optional<BindPdu> decodeBind(std::span<const uint8_t> pdu);
std::optional<BindAckPdu> decodeBindAck(std::span<const uint8_t> pdu);
std::optional<BindNakPdu> decodeBindNak(std::span<const uint8_t> pdu);
std::optional<RequestPdu> decodeRequest(std::span<const uint8_t> pdu);
std::optional<ResponsePdu> decodeResponse(std::span<const uint8_t> pdu);
std::optional<FaultPdu> decodeFault(std::span<const uint8_t> pdu);

void encodeBind(std::vector<uint8_t>& out, PduType type, uint32_t callId, const BindPdu& bind);
void encodeBindAck(std::vector<uint8_t>& out, PduType type, uint32_t callId,
                   const BindAckPdu& ack);
void encodeBindNak(std::vector<uint8_t>& out, uint32_t callId, const BindNakPdu& nak);
void encodeFault(std::vector<uint8_t>& out, uint32_t callId, uint16_t contextId,
                 uint32_t status, bool didNotExecute);
void encodeHeaderOnly(std::vector<uint8_t>& out, PduType type, uint32_t callId);

// One fragment of a request (opnum used) or response (opnum ignored).
struct CallFragment {
  PduType type = PduType::Request;
  uint32_t callId = 0;
  uint8_t flags = 0;
  uint32_t allocHint = 0;
  uint16_t contextId = 0;
  uint16_t opnum = 0;
};
void encodeCallFragment(std::vector<uint8_t>& out, const CallFragment& fragment,
                        std::span<const uint8_t> stub);

// Stub bytes that fit in one fragment of at most maxFragment bytes: a multiple
// of 8, so every fragment but the last keeps the NDR alignment of the next.
size_t stubBytesPerFragment(uint16_t maxFragment);

// Cuts a call's stub into fragments of at most maxFragment bytes (first/last
// flags, alloc_hint = stub bytes still to come) and hands each to `send`, which
// returns false to give up. An empty stub still makes one fragment.
template <typename Send>
bool sendInFragments(CallFragment fragment, std::span<const uint8_t> stub, uint16_t maxFragment,
                     std::vector<uint8_t>& scratch, Send&& send) {
  const size_t chunk = stubBytesPerFragment(maxFragment);
  size_t offset = 0;
  do {
    size_t count = std::min(chunk, stub.size() - offset);
    fragment.flags = static_cast<uint8_t>((offset == 0 ? pfc::kFirstFrag : 0) |
                                          (offset + count == stub.size() ? pfc::kLastFrag : 0));
    fragment.allocHint = static_cast<uint32_t>(stub.size() - offset);
    scratch.clear();
    encodeCallFragment(scratch, fragment, stub.subspan(offset, count));
    if (!send(std::span<const uint8_t>(scratch))) return false;
    offset += count;
  } while (offset < stub.size());
  return true;
}

}  // namespace veltris::rpc
