// Ethernet II and IEEE 802.3 framing, and the Ethernet type dispatch that
// SNAP shares.
//
// Layout: destination (0-5), source (6-11), type or length (12-13), payload.
// A type/length of 1500 or less is an 802.3 length: LLC follows.
#include <array>

#include "agent/decode/decode_state.h"

namespace veltris::decode {
namespace {

constexpr size_t kEthernetHeader = 14;
constexpr size_t kLlcHeader = 3;
constexpr uint16_t kMaxIeee8023Length = 1500;
constexpr uint16_t kTypeIp = 0x0800;
constexpr uint16_t kTypeArp = 0x0806;
constexpr uint16_t kTypeIpx = 0x8137;
constexpr uint8_t kNetbiosMulticast[6] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x01};

bool decodeIpPayload(DecodeState& state, FrameView payload) {
  decodeIp(state, payload);
  return true;
}

bool decodeIpxPayload(DecodeState& state, FrameView payload) {
  decodeIpx(state, payload);
  return true;
}

// ARP is decoded only for IP; the protocol type follows the hardware type.
bool decodeArpPayload(DecodeState& state, FrameView payload) {
  if (payload.be16(2) != kTypeIp) return false;
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
    {kTypeIp, decodeIpPayload, nullptr, true},
    {kTypeIpx, decodeIpxPayload, nullptr, true},
    {kTypeArp, decodeArpPayload, nullptr, true},
    {0x80F3, nullptr, "Appletalk", false},
    {0x809B, nullptr, "Appletalk", false},
    {0xC021, nullptr, "LCP", false},
    {0x8021, nullptr, "IPCP", false},
});

bool isNetbiosMulticast(FrameView frame) {
  if ((frame.u8(0) & 0x01) == 0) return false;
  for (size_t i = 0; i < sizeof kNetbiosMulticast; ++i) {
    if (frame.u8(i) != kNetbiosMulticast[i]) return false;
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
  addHardwareAddress(destination, frame, 0);
  state.setDestination(destination.view());

  if (isNetbiosMulticast(frame)) {
    decodeNetbiosFrame(state, frame.sub(kEthernetHeader + kLlcHeader));
    return;
  }
  uint16_t typeOrLength = frame.be16(12);
  if (typeOrLength <= kMaxIeee8023Length) {
    decodeLlc(state, frame.sub(kEthernetHeader));
    return;
  }
  if (!decodeEtherType(state, typeOrLength, frame.sub(kEthernetHeader), false)) {
    state.description().set("TYPE ").hex(typeOrLength, 4);
  }
}

}  // namespace veltris::decode
