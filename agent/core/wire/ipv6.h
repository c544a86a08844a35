#pragma once
// IPv6: the fixed header, the extension headers before the transport header,
// and the ICMPv6 messages the accounting looks at. Offsets are into the header named.
#include <cstddef>
#include <cstdint>

namespace veltris::agent::wire::ipv6 {

// Fixed header: version, class and flow (0-3), payload length (4-5), next
// header (6), hop limit (7), source (8-23), destination (24-39).
constexpr size_t kPayloadLength = 4;
constexpr size_t kNextHeader = 6;
constexpr size_t kSource = 8;
constexpr size_t kDestination = 24;
constexpr size_t kHeader = 40;
constexpr size_t kAddressSize = 16;

// Extension headers: next header (0) and length (1) in 8-byte units beyond the
// first 8; the fragment header is always 8 bytes, the authentication header
// counts 4-byte units beyond the first 8.
constexpr uint8_t kHopByHop = 0;
constexpr uint8_t kRouting = 43;
constexpr uint8_t kFragment = 44;
constexpr uint8_t kAuthentication = 51;
constexpr uint8_t kDestinationOptions = 60;
constexpr size_t kFragmentHeader = 8;
constexpr size_t kFragmentOffset = 2;
constexpr uint16_t kFragmentOffsetMask = 0xFFF8;
constexpr int kMaxExtensionHeaders = 8;  // more than any real packet carries
constexpr bool isExtensionHeader(uint8_t next) {
  return next == kHopByHop || next == kRouting || next == kFragment || next == kAuthentication ||
         next == kDestinationOptions;
}

constexpr uint8_t kTcp = 6;
constexpr uint8_t kUdp = 17;
constexpr uint8_t kIcmpv6 = 58;

// ICMPv6: type (0), code (1); errors are the types below 128.
constexpr uint8_t kDestinationUnreachable = 1;
constexpr uint8_t kPacketTooBig = 2;
constexpr uint8_t kTimeExceeded = 3;
constexpr uint8_t kParameterProblem = 4;
constexpr uint8_t kNeighbourSolicitation = 135;
constexpr uint8_t kNeighbourAdvertisement = 136;
constexpr size_t kNeighbourTarget = 8;  // target address of a solicitation or advertisement

}  // namespace veltris::agent::wire::ipv6
