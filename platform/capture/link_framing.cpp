#include "platform/capture/link_framing.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace veltris::capture {
namespace {

constexpr uint32_t kEthernetHeader = 14;
constexpr uint16_t kTypeIpv4 = 0x0800, kTypeIpv6 = 0x86DD, kTypeIpx = 0x8137;
constexpr uint8_t kPacketOutgoing = 4;  // sll_pkttype of frames this host sent

uint16_t protocolOfIpPacket(const uint8_t* payload, uint32_t available) {
  if (available == 0) return 0;
  const int version = payload[0] >> 4;
  return version == 4 ? kTypeIpv4 : version == 6 ? kTypeIpv6 : 0;
}

Direction directionOfPacketType(uint8_t packetType) {
  return packetType == kPacketOutgoing ? Direction::Outgoing : Direction::Incoming;
}

bool parsePpp(const uint8_t* bytes, uint32_t captured, uint32_t start, WanHeader& header) {
  uint32_t at = start;
  if (captured >= at + 2 && bytes[at] == 0xFF && bytes[at + 1] == 0x03) at += 2;  // address, control
  if (captured < at + 1) return false;
  uint16_t pppProtocol = 0;
  if (bytes[at] & 0x01) {  // compressed one-byte protocol field
    pppProtocol = bytes[at];
    at += 1;
  } else {
    if (captured < at + 2) return false;
    pppProtocol = loadBe16(bytes + at);
    at += 2;
  }
  switch (pppProtocol) {
    case 0x0021: header.protocol = kTypeIpv4; break;
    case 0x0057: header.protocol = kTypeIpv6; break;
    case 0x002B: header.protocol = kTypeIpx; break;
    default: header.protocol = pppProtocol; break;
  }
  header.headerLength = at;
  return true;
}

bool parseNullFamily(const uint8_t* bytes, uint32_t captured, bool networkOrder, WanHeader& header) {
  if (captured < 4) return false;
  uint32_t family = 0;
  std::memcpy(&family, bytes, 4);
  if (networkOrder) {
    family = ntohl(family);
  } else if (family > 0xFFFF) {  // written on a host of the other byte order
    family = __builtin_bswap32(family);
  }
  header.protocol = family == 2 ? kTypeIpv4 : (family == 24 || family == 28 || family == 30) ? kTypeIpv6 : 0;
  header.headerLength = 4;
  return true;
}

}  // namespace

bool LocalAddress::matchesSource(const uint8_t* payload, uint32_t available) const {
  if (length == 4) return available >= 16 && (payload[0] >> 4) == 4 && std::memcmp(payload + 12, bytes.data(), 4) == 0;
  if (length == 16) return available >= 24 && (payload[0] >> 4) == 6 && std::memcmp(payload + 8, bytes.data(), 16) == 0;
  return false;
}

std::string LocalAddress::text() const {
  char out[INET6_ADDRSTRLEN] = {};
  if (length == 4) inet_ntop(AF_INET, bytes.data(), out, sizeof out);
  if (length == 16) inet_ntop(AF_INET6, bytes.data(), out, sizeof out);
  return out;
}

bool isEthernetLink(int dlt) { return dlt == DLT_EN10MB; }
bool isTokenRingLink(int dlt) { return dlt == DLT_IEEE802; }

bool isSupportedLink(int dlt) {
  switch (dlt) {
    case DLT_EN10MB: case DLT_RAW: case DLT_IPV4: case DLT_IPV6: case DLT_LINUX_SLL: case DLT_LINUX_SLL2:
    case DLT_PPP: case DLT_PPP_WITH_DIR: case DLT_NULL: case DLT_LOOP: case DLT_IEEE802:
      return true;
    default:
      return false;
  }
}

std::string linkName(int dlt) {
  const char* name = pcap_datalink_val_to_name(dlt);
  return name != nullptr ? name : "DLT " + std::to_string(dlt);
}

bool parseWanHeader(int dlt, const uint8_t* bytes, uint32_t captured, WanHeader& header) {
  header = WanHeader{};
  switch (dlt) {
    case DLT_LINUX_SLL:  // packet type, hardware type, address length, address[8], protocol
      if (captured < 16) return false;
      header.direction = directionOfPacketType(static_cast<uint8_t>(loadBe16(bytes)));
      header.protocol = loadBe16(bytes + 14);
      header.headerLength = 16;
      return true;
    case DLT_LINUX_SLL2:  // protocol, reserved, interface index, hardware type, packet type, ...
      if (captured < 20) return false;
      header.direction = directionOfPacketType(bytes[10]);
      header.protocol = loadBe16(bytes);
      header.headerLength = 20;
      return true;
    case DLT_RAW: case DLT_IPV4: case DLT_IPV6:
      header.protocol = protocolOfIpPacket(bytes, captured);
      return true;
    case DLT_PPP:
      return parsePpp(bytes, captured, 0, header);
    case DLT_PPP_WITH_DIR:  // first byte: 0 received, 1 sent
      if (captured < 1) return false;
      header.direction = bytes[0] != 0 ? Direction::Outgoing : Direction::Incoming;
      return parsePpp(bytes, captured, 1, header);
    case DLT_NULL:
      return parseNullFamily(bytes, captured, false, header);
    case DLT_LOOP:
      return parseNullFamily(bytes, captured, true, header);
    default:
      return false;
  }
}

void storeEthernetFrame(const uint8_t* bytes, uint32_t captured, uint32_t wireLength, uint8_t* buffer,
                        FrameRead& frame) {
  frame.stored = std::min(captured, kStoredFrameBytes);
  std::memcpy(buffer, bytes, frame.stored);
  frame.wireLength = std::max(wireLength, captured);
}

void storeWanFrame(int dlt, const LocalAddress& local, const uint8_t* bytes, uint32_t captured,
                   uint32_t wireLength, uint8_t* buffer, FrameRead& frame) {
  WanHeader header;
  const bool parsed = parseWanHeader(dlt, bytes, captured, header);
  const uint32_t payloadCaptured = parsed ? captured - header.headerLength : 0;
  const uint8_t* payload = bytes + (parsed ? header.headerLength : captured);
  if (header.direction == Direction::Unknown) {
    header.direction = local.matchesSource(payload, payloadCaptured) ? Direction::Outgoing : Direction::Incoming;
  }
  const bool sent = header.direction == Direction::Outgoing;
  std::memcpy(buffer, (sent ? kRecvMarker : kSendMarker).data(), 6);
  std::memcpy(buffer + 6, (sent ? kSendMarker : kRecvMarker).data(), 6);
  storeBe16(buffer + 12, header.protocol);
  const uint32_t copied = std::min(payloadCaptured, kStoredFrameBytes - kEthernetHeader);
  std::memcpy(buffer + kEthernetHeader, payload, copied);
  frame.stored = kEthernetHeader + copied;
  const uint32_t payloadOnWire = parsed && wireLength > header.headerLength ? wireLength - header.headerLength : 0;
  const uint64_t wire = uint64_t{kEthernetHeader} + std::max(payloadOnWire, payloadCaptured);
  frame.wireLength = static_cast<uint32_t>(std::min<uint64_t>(wire, UINT32_MAX));  // a crafted file may claim any length
}

}  // namespace veltris::capture
