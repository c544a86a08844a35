#include "platform/rpc/pdu.h"

#include <algorithm>
#include <initializer_list>

#include "platform/rpc/ndr.h"

namespace veltris::rpc {
namespace {

constexpr size_t kAuthTrailerSize = 8;

// A little-endian PDU of one of `types` whose length fields agree with the bytes
// received; returns the PDU without its authentication trailer.
std::optional<std::span<const uint8_t>> checkedBody(std::span<const uint8_t> pdu,
                                                    std::initializer_list<PduType> types) {
  auto header = decodeHeader(pdu);
  if (!header || !header->littleEndian() || !header->supportedVersion()) return std::nullopt;
  if (header->fragLength != pdu.size()) return std::nullopt;
  if (std::find(types.begin(), types.end(), PduType{header->type}) == types.end()) {
    return std::nullopt;
  }
  size_t trailer = header->authLength == 0 ? 0 : header->authLength + kAuthTrailerSize;
  if (trailer > pdu.size() - kCommonHeaderSize) return std::nullopt;
  return pdu.first(pdu.size() - trailer);
}

void beginPdu(NdrWriter& w, PduType type, uint8_t flags, uint32_t callId) {
  w.u8(kRpcVersion);
  w.u8(0);
  w.u8(static_cast<uint8_t>(type));
  w.u8(flags);
  w.u32(0x00000010);  // drep: little-endian, ASCII, IEEE
  w.u16(0);           // frag_length, patched by endPdu
  w.u16(0);           // auth_length
  w.u32(callId);
}

void endPdu(NdrWriter& w) { w.patchU16(8, static_cast<uint16_t>(w.position())); }

constexpr uint8_t kWholeCall = pfc::kFirstFrag | pfc::kLastFrag;

}  // namespace

const char* pduName(uint8_t type) {
  switch (PduType{type}) {
    case PduType::Request: return "request";
    case PduType::Response: return "response";
    case PduType::Fault: return "fault";
    case PduType::Bind: return "bind";
    case PduType::BindAck: return "bind_ack";
    case PduType::BindNak: return "bind_nak";
    case PduType::AlterContext: return "alter_context";
    case PduType::AlterContextResp: return "alter_context_resp";
    case PduType::Shutdown: return "shutdown";
    case PduType::CoCancel: return "co_cancel";
    case PduType::Orphaned: return "orphaned";
  }
  return "PDU type ?";
}

std::optional<PduHeader> decodeHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kCommonHeaderSize) return std::nullopt;
  PduHeader h;
  h.versionMajor = bytes[0];
  h.versionMinor = bytes[1];
  h.type = bytes[2];
  h.flags = bytes[3];
  std::copy_n(bytes.begin() + 4, 4, h.drep.begin());
  const uint8_t* p = bytes.data();
  if (h.littleEndian()) {
    h.fragLength = loadLe16(p + 8);
    h.authLength = loadLe16(p + 10);
    h.callId = loadLe32(p + 12);
  } else {
    h.fragLength = loadBe16(p + 8);
    h.authLength = loadBe16(p + 10);
    h.callId = loadBe32(p + 12);
  }
  return h;
}

std::optional<BindPdu> decodeBind(std::span<const uint8_t> pdu) {
  auto body = checkedBody(pdu, {PduType::Bind, PduType::AlterContext});
  if (!body) return std::nullopt;
  NdrReader r(*body);
  r.skip(kCommonHeaderSize);
  BindPdu bind;
  bind.maxXmitFrag = r.u16();
  bind.maxRecvFrag = r.u16();
  bind.assocGroupId = r.u32();
  uint8_t count = r.u8();
  r.skip(3);
  for (uint8_t i = 0; i < count && r.ok(); ++i) {
    ContextElement element;
    element.contextId = r.u16();
    uint8_t transferCount = r.u8();
    r.skip(1);
    element.abstractSyntax = r.syntax();
    for (uint8_t t = 0; t < transferCount && r.ok(); ++t) {
      element.transferSyntaxes.push_back(r.syntax());
    }
    bind.contexts.push_back(std::move(element));
  }
  if (!r.ok()) return std::nullopt;
  return bind;
}

std::optional<BindAckPdu> decodeBindAck(std::span<const uint8_t> pdu) {
  auto body = checkedBody(pdu, {PduType::BindAck, PduType::AlterContextResp});
  if (!body) return std::nullopt;
  NdrReader r(*body);
  r.skip(kCommonHeaderSize);
  BindAckPdu ack;
  ack.maxXmitFrag = r.u16();
  ack.maxRecvFrag = r.u16();
  ack.assocGroupId = r.u32();
  auto address = r.bytes(r.u16());
  if (!address.empty()) {
    auto end = std::find(address.begin(), address.end(), uint8_t{0});
    ack.secondaryAddress.assign(address.begin(), end);
  }
  r.align(4);
  uint8_t count = r.u8();
  r.skip(3);
  for (uint8_t i = 0; i < count && r.ok(); ++i) {
    ContextResult result;
    result.result = r.u16();
    result.reason = r.u16();
    result.transferSyntax = r.syntax();
    ack.results.push_back(result);
  }
  if (!r.ok()) return std::nullopt;
  return ack;
}

std::optional<BindNakPdu> decodeBindNak(std::span<const uint8_t> pdu) {
  auto body = checkedBody(pdu, {PduType::BindNak});
  if (!body) return std::nullopt;
  NdrReader r(*body);
  r.skip(kCommonHeaderSize);
  BindNakPdu nak;
  nak.reason = r.u16();
  if (!r.ok()) return std::nullopt;
  if (r.remaining() > 0) {  // the version list is optional
    uint8_t count = r.u8();
    for (uint8_t i = 0; i < count && r.ok(); ++i) {
      uint8_t major = r.u8();
      uint8_t minor = r.u8();
      if (r.ok()) nak.versions.emplace_back(major, minor);
    }
  }
  return nak;
}

std::optional<RequestPdu> decodeRequest(std::span<const uint8_t> pdu) {
  auto body = checkedBody(pdu, {PduType::Request});
  if (!body) return std::nullopt;
  NdrReader r(*body);
  r.skip(kCommonHeaderSize);
  RequestPdu request;
  request.allocHint = r.u32();
  request.contextId = r.u16();
  request.opnum = r.u16();
  if (pdu[3] & pfc::kObjectUuid) request.object = r.uuid();
  if (!r.ok()) return std::nullopt;
  request.stub = body->subspan(r.position());
  return request;
}

std::optional<ResponsePdu> decodeResponse(std::span<const uint8_t> pdu) {
  auto body = checkedBody(pdu, {PduType::Response});
  if (!body) return std::nullopt;
  NdrReader r(*body);
  r.skip(kCommonHeaderSize);
  ResponsePdu response;
  response.allocHint = r.u32();
  response.contextId = r.u16();
  response.cancelCount = r.u8();
  r.skip(1);
  if (!r.ok()) return std::nullopt;
  response.stub = body->subspan(r.position());
  return response;
}

std::optional<FaultPdu> decodeFault(std::span<const uint8_t> pdu) {
  auto body = checkedBody(pdu, {PduType::Fault});
  if (!body) return std::nullopt;
  NdrReader r(*body);
  r.skip(kCommonHeaderSize + 4);  // alloc_hint
  FaultPdu fault;
  fault.contextId = r.u16();
  r.skip(2);  // cancel_count, reserved
  fault.status = r.u32();
  if (!r.ok()) return std::nullopt;
  return fault;
}

void encodeBind(std::vector<uint8_t>& out, PduType type, uint32_t callId, const BindPdu& bind) {
  NdrWriter w(out);
  beginPdu(w, type, kWholeCall, callId);
  w.u16(bind.maxXmitFrag);
  w.u16(bind.maxRecvFrag);
  w.u32(bind.assocGroupId);
  w.u8(static_cast<uint8_t>(bind.contexts.size()));
  w.zeros(3);
  for (const ContextElement& element : bind.contexts) {
    w.u16(element.contextId);
    w.u8(static_cast<uint8_t>(element.transferSyntaxes.size()));
    w.u8(0);
    w.syntax(element.abstractSyntax);
    for (const SyntaxId& transfer : element.transferSyntaxes) w.syntax(transfer);
  }
  endPdu(w);
}

void encodeBindAck(std::vector<uint8_t>& out, PduType type, uint32_t callId,
                   const BindAckPdu& ack) {
  NdrWriter w(out);
  beginPdu(w, type, kWholeCall, callId);
  w.u16(ack.maxXmitFrag);
  w.u16(ack.maxRecvFrag);
  w.u32(ack.assocGroupId);
  if (ack.secondaryAddress.empty()) {
    w.u16(0);
  } else {
    w.u16(static_cast<uint16_t>(ack.secondaryAddress.size() + 1));
    w.bytes({reinterpret_cast<const uint8_t*>(ack.secondaryAddress.data()),
             ack.secondaryAddress.size()});
    w.u8(0);
  }
  w.align(4);
  w.u8(static_cast<uint8_t>(ack.results.size()));
  w.zeros(3);
  for (const ContextResult& result : ack.results) {
    w.u16(result.result);
    w.u16(result.reason);
    w.syntax(result.transferSyntax);
  }
  endPdu(w);
}

void encodeBindNak(std::vector<uint8_t>& out, uint32_t callId, const BindNakPdu& nak) {
  NdrWriter w(out);
  beginPdu(w, PduType::BindNak, kWholeCall, callId);
  w.u16(nak.reason);
  w.u8(static_cast<uint8_t>(nak.versions.size()));
  for (auto [major, minor] : nak.versions) {
    w.u8(major);
    w.u8(minor);
  }
  w.align(4);
  endPdu(w);
}

void encodeFault(std::vector<uint8_t>& out, uint32_t callId, uint16_t contextId,
                 uint32_t status, bool didNotExecute) {
  NdrWriter w(out);
  beginPdu(w, PduType::Fault, kWholeCall | (didNotExecute ? pfc::kDidNotExecute : 0), callId);
  w.u32(0);  // alloc_hint: no stub follows
  w.u16(contextId);
  w.u8(0);  // cancel_count
  w.u8(0);
  w.u32(status);
  w.u32(0);
  endPdu(w);
}

void encodeHeaderOnly(std::vector<uint8_t>& out, PduType type, uint32_t callId) {
  NdrWriter w(out);
  beginPdu(w, type, kWholeCall, callId);
  endPdu(w);
}

void encodeCallFragment(std::vector<uint8_t>& out, const CallFragment& fragment,
                        std::span<const uint8_t> stub) {
  NdrWriter w(out);
  beginPdu(w, fragment.type, fragment.flags, fragment.callId);
  w.u32(fragment.allocHint);
  w.u16(fragment.contextId);
  w.u16(fragment.type == PduType::Request ? fragment.opnum : 0);  // opnum, or cancel count
  w.bytes(stub);
  endPdu(w);
}

size_t stubBytesPerFragment(uint16_t maxFragment) {
  size_t room = maxFragment > kCallHeaderSize ? maxFragment - kCallHeaderSize : 0;
  return std::max<size_t>(8, room / 8 * 8);
}

}  // namespace veltris::rpc
