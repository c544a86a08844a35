#pragma once
// IPv6 frames for the accounting tests and benchmarks: the fixed header, a
// fragment header, ICMPv6 and neighbour discovery, over Ethernet.
#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tests/support/frame_builder.h"

namespace veltris::agent::testing {

using Ip6 = std::array<uint8_t, 16>;

inline Ip6 ip6(const char* text) {
  Ip6 a{};
  if (inet_pton(AF_INET6, text, a.data()) != 1) throw std::invalid_argument(std::string("not an IPv6 address: ") + text);
  return a;
}

inline constexpr uint8_t kIcmpv6 = 58;
inline constexpr uint8_t kFragmentHeader = 44;

inline Bytes ipv6(uint8_t nextHeader, const Ip6& src, const Ip6& dst, const Bytes& payload, uint8_t hopLimit = 64) {
  FrameBuilder b;
  b.be32(0x60000000).be16(static_cast<uint16_t>(payload.size())).u8(nextHeader).u8(hopLimit);
  for (uint8_t v : src) b.u8(v);
  for (uint8_t v : dst) b.u8(v);
  return b.bytes(payload).build();
}

// A fragment header before `payload` (next header `nextHeader`), at fragment offset `offset8` 8-byte units.
inline Bytes fragment6(uint8_t nextHeader, uint16_t offset8, bool more, const Bytes& payload) {
  return FrameBuilder()
      .u8(nextHeader)
      .u8(0)
      .be16(static_cast<uint16_t>(offset8 << 3 | (more ? 1 : 0)))
      .be32(0x11223344)
      .bytes(payload)
      .build();
}

inline Bytes icmpv6(uint8_t type, uint8_t code = 0, const Bytes& body = Bytes(4, 0)) {
  return FrameBuilder().u8(type).u8(code).be16(0).bytes(body).build();
}

// Neighbour solicitation (135) or advertisement (136) for `target`.
inline Bytes neighbourMessage(uint8_t type, const Ip6& target) {
  FrameBuilder b;
  b.u8(type).u8(0).be16(0).be32(type == 136 ? 0x60000000 : 0);
  for (uint8_t v : target) b.u8(v);
  return b.build();
}

// The solicited-node multicast address of `target` and its MAC address.
inline Ip6 solicitedNode(const Ip6& target) {
  Ip6 a = ip6("ff02::1:ff00:0");
  std::memcpy(a.data() + 13, target.data() + 13, 3);
  return a;
}
inline Mac multicastMac(const Ip6& group) { return {0x33, 0x33, group[12], group[13], group[14], group[15]}; }

// Ethernet + IPv6 in one step.
inline Bytes ip6Frame(const Mac& dst, const Mac& src, const Ip6& ipSrc, const Ip6& ipDst, uint8_t nextHeader,
                      const Bytes& payload) {
  return ethernet(dst, src, 0x86DD, ipv6(nextHeader, ipSrc, ipDst, payload));
}

inline Bytes tcp6Frame(const Mac& dst, const Mac& src, const Ip6& ipSrc, const Ip6& ipDst, uint16_t srcPort,
                       uint16_t dstPort, uint32_t sequence, uint8_t flags, size_t dataBytes) {
  return ip6Frame(dst, src, ipSrc, ipDst, 6, tcp(srcPort, dstPort, sequence, flags, dataBytes));
}

// A neighbour solicitation from (mac, source) for `target`, to its solicited-node group.
inline Bytes solicitationFrame(const Mac& mac, const Ip6& source, const Ip6& target) {
  Ip6 group = solicitedNode(target);
  return ip6Frame(multicastMac(group), mac, source, group, kIcmpv6, neighbourMessage(135, target));
}

inline Bytes advertisementFrame(const Mac& dst, const Mac& mac, const Ip6& source, const Ip6& to, const Ip6& target) {
  return ip6Frame(dst, mac, source, to, kIcmpv6, neighbourMessage(136, target));
}

}  // namespace veltris::agent::testing
