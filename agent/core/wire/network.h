#pragma once
// Network and transport headers: IPv4, UDP, TCP, ARP and IPX. Offsets are
// into the header named.
#include <cstddef>
#include <cstdint>

#include "common/byte_view.h"

namespace veltris::agent::wire {

// ---- IPv4 ------------------------------------------------------------------
namespace ip {
constexpr size_t kVersionAndLength = 0;
constexpr size_t kTotalLength = 2;
constexpr size_t kId = 4;
constexpr size_t kFlagsAndFragment = 6;
constexpr size_t kProtocol = 9;
constexpr size_t kSource = 12;
constexpr size_t kDestination = 16;
constexpr size_t kAddressSize = 4;
constexpr uint8_t kMoreFragments = 0x20;  // of the flags byte
constexpr uint16_t kFragmentMask = 0x1FFF;

constexpr uint8_t kIcmp = 1;
constexpr uint8_t kTcp = 6;
constexpr uint8_t kUdp = 17;

// Header length in bytes, from the header length field.
constexpr size_t headerLength(ByteView ip) { return (ip.u8(kVersionAndLength) & 0x0Fu) * 4; }
}  // namespace ip

// ---- UDP and TCP -------------------------------------------------------------
namespace udp {
constexpr size_t kSourcePort = 0;
constexpr size_t kDestinationPort = 2;
constexpr size_t kHeader = 8;
}  // namespace udp

namespace tcp {
constexpr size_t kSourcePort = 0;
constexpr size_t kDestinationPort = 2;
constexpr uint8_t kSyn = 0x02;
constexpr uint8_t kRst = 0x04;
}  // namespace tcp

namespace port {
constexpr uint16_t kDns = 53;
constexpr uint16_t kNetbiosName = 137;
constexpr uint16_t kNetbiosDatagram = 138;
constexpr uint16_t kNetbiosSession = 139;
}  // namespace port

// ---- ARP: hardware type (0), protocol type (2), sizes (4, 5), operation (6),
// sender hardware (8) and protocol address (14), target's at 18 and 24.
namespace arp {
constexpr size_t kProtocolType = 2;
constexpr size_t kOperation = 6;
constexpr size_t kSenderAddress = 14;
constexpr size_t kTargetAddress = 24;
constexpr uint16_t kRequest = 1;
constexpr uint16_t kReply = 2;
}  // namespace arp

// ---- IPX: checksum (0), length (2), transport control (4), type (5), then
// destination and source, each network (4), node (6) and socket (2).
namespace ipx {
constexpr size_t kDestinationNetwork = 6;
constexpr size_t kDestinationNode = 10;
constexpr size_t kDestinationSocket = 16;
constexpr size_t kSourceNetwork = 18;
constexpr size_t kSourceSocket = 28;
constexpr size_t kSapOperation = 31;
constexpr size_t kAddressSize = 10;  // network and node
constexpr uint16_t kSapSocket = 0x0452;
}  // namespace ipx

}  // namespace veltris::agent::wire
