#pragma once
// Link-layer headers: Ethernet II / IEEE 802.3, Token Ring (802.5) and the
// IEEE 802.2 LLC header with SNAP. Offsets are into the header named.
#include <cstddef>
#include <cstdint>

namespace veltris::agent::wire {

// ---- Ethernet: destination (0-5), source (6-11), type or length (12-13) -------
namespace ethernet {
constexpr size_t kDestination = 0;
constexpr size_t kSource = 6;
constexpr size_t kTypeOrLength = 12;
constexpr size_t kHeader = 14;
constexpr uint16_t kMaxLength = 1500;  // a type/length up to this is an 802.3 length: LLC follows
constexpr uint8_t kGroupBit = 0x01;    // of the destination's first byte
// The NetBIOS multicast address that NetBEUI sends its broadcasts to.
constexpr uint8_t kNetbiosMulticast[6] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
}  // namespace ethernet

// Ethernet types, also in SNAP headers.
namespace ethertype {
constexpr uint16_t kIp = 0x0800;
constexpr uint16_t kArp = 0x0806;
constexpr uint16_t kIpx = 0x8137;
constexpr uint16_t kIpv6 = 0x86DD;
constexpr uint16_t kAppletalk = 0x809B;
constexpr uint16_t kAppletalkArp = 0x80F3;
constexpr uint16_t kLcp = 0xC021;
constexpr uint16_t kIpcp = 0x8021;
}  // namespace ethertype

// ---- Token Ring: access control (0), frame control (1), destination (2-7),
// source (8-13), routing information from 14 when the source's high bit is set.
namespace tokenring {
constexpr size_t kFrameControl = 1;
constexpr size_t kDestination = 2;
constexpr size_t kSource = 8;
constexpr size_t kRouting = 14;
constexpr size_t kHeader = 14;  // without routing information
constexpr uint8_t kFrameTypeMask = 0xC0;
constexpr uint8_t kMacFrame = 0x00;
constexpr uint8_t kLlcFrame = 0x40;
constexpr uint8_t kRoutingBit = 0x80;         // of the source's first byte
constexpr uint8_t kRoutingLengthMask = 0x1F;  // of the routing field's first byte
constexpr uint8_t kGroupBit = 0x80;           // of the destination's first byte
constexpr uint8_t kNetbiosFunctional[6] = {0xC0, 0x00, 0x00, 0x00, 0x00, 0x80};
}  // namespace tokenring

// ---- IEEE 802.2: DSAP (0), SSAP (1), control (2, and 3 for I- and S-frames);
// SNAP adds an organisation code (3-5) and a type (6-7), payload from 8.
namespace llc {
constexpr size_t kDsap = 0;
constexpr size_t kSsap = 1;
constexpr size_t kControl = 2;
constexpr size_t kHeader = 3;
constexpr size_t kSnapType = 6;
constexpr size_t kSnapPayload = 8;
constexpr uint8_t kResponseBit = 0x01;  // of the SSAP

// The first two bytes read as one word: encapsulations that share the LLC's place.
constexpr uint16_t kRawIpx = 0xFFFF;  // IPX straight in an 802.3 frame (its checksum)
constexpr uint16_t kIpxSaps = 0xE0E0;
constexpr uint16_t kSnapSaps = 0xAAAA;

// Service access points.
constexpr uint8_t kSapNetbios = 0xF0;
constexpr uint8_t kSapSna = 0x04;
constexpr uint8_t kSapSnaGroup = 0x08;
constexpr uint8_t kSapSpanningTree = 0x42;
constexpr uint8_t kSapNetworkManagement = 0xF4;

// Controls that show a link in trouble: receiver not ready, reject, frame reject.
constexpr uint8_t kReceiverNotReady = 0x05;
constexpr uint8_t kReject = 0x09;
constexpr uint8_t kFrameReject = 0x87;
constexpr uint8_t kFrameRejectFinal = 0x97;
constexpr bool isErrorControl(uint8_t control) {
  return control == kReceiverNotReady || control == kReject || control == kFrameReject ||
         control == kFrameRejectFinal;
}
}  // namespace llc

}  // namespace veltris::agent::wire
