// Ethernet II and IEEE 802.3 framing, and the Ethernet type dispatch that
// SNAP shares.
//
// Layout: destination (0-5), source (6-11), type or length (12-13), payload.
// A type/length of 1500 or less is an 802.3 length: LLC follows.
#include <array>

#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

namespace ethernet = wire::ethernet;
namespace ethertype = wire::ethertype;

bool decodeIpPayload(DecodeState& state, FrameView payload) {
  decodeIp(state, payload);
  return true;
}

bool decodeIpv6Payload(DecodeState& state, FrameView payload) {
  decodeIpv6(state, payload);
  return true;
}

bool decodeIpxPayload(DecodeState& state, FrameView payload) {
  decodeIpx(state, payload);
  return true;
}

// ARP is decoded only for IP; the protocol type follows the hardware type.
bool decodeArpPayload(DecodeState& state, FrameView payload) {
  if (payload.be16(wire::arp::kProtocolType) != ethertype::kIp) return false;
  decodeArp(state, payload);
  return true;
}

struct EtherTypeHandler {
  uint16_t type;
  bool (*decode)(DecodeState&, FrameView);  // null: `fixedText` names it
  const char* fixedText;                    // description and protocol
  bool viaSnap;                             // also decoded inside SNAP
};

constexpr auto kEtherTypes = std::to_array<EtherTypeHandler>({
    {ethertype::kIp, decodeIpPayload, nullptr, true},
    {ethertype::kIpv6, decodeIpv6Payload, nullptr, true},
    {ethertype::kIpx, decodeIpxPayload, nullptr, true},
    {ethertype::kArp, decodeArpPayload, nullptr, true},
    {ethertype::kAppletalkArp, nullptr, "Appletalk", false},
    {ethertype::kAppletalk, nullptr, "Appletalk", false},
    {ethertype::kLcp, nullptr, "LCP", false},
    {ethertype::kIpcp, nullptr, "IPCP", false},
});

bool isNetbiosMulticast(FrameView frame) {
  if ((frame.u8(ethernet::kDestination) & ethernet::kGroupBit) == 0) return false;
  for (size_t i = 0; i < sizeof ethernet::kNetbiosMulticast; ++i) {
    if (frame.u8(ethernet::kDestination + i) != ethernet::kNetbiosMulticast[i]) return false;
  }
  return true;
}

}  // namespace

bool decodeEtherType(DecodeState& state, uint16_t type, FrameView payload, bool viaSnap) {
  for (const EtherTypeHandler& handler : kEtherTypes) {
    if (handler.type != type || (viaSnap && !handler.viaSnap)) continue;
    if (handler.decode != nullptr) return handler.decode(state, payload);
    state.description().set(handler.fixedText);
    state.protocol().set(handler.fixedText);
    return true;
  }
  return false;
}

void decodeEthernet(DecodeState& state, FrameView frame) {
  FixedText<32> destination;
  addHardwareAddress(destination, frame, ethernet::kDestination);
  state.setDestination(destination.view());

  if (isNetbiosMulticast(frame)) {
    decodeNetbiosFrame(state, frame.sub(ethernet::kHeader + wire::llc::kHeader));
    return;
  }
  uint16_t typeOrLength = frame.be16(ethernet::kTypeOrLength);
  if (typeOrLength <= ethernet::kMaxLength) {
    decodeLlc(state, frame.sub(ethernet::kHeader));
    return;
  }
  if (!decodeEtherType(state, typeOrLength, frame.sub(ethernet::kHeader), false)) {
    state.description().set("TYPE ").hex(typeOrLength, 4);
  }
}

}  // namespace veltris::agent::decode
