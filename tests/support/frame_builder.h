#pragma once
// Builds test frames byte by byte: Ethernet, Token Ring, 802.2, IPv4, TCP,
// UDP, ICMP, ARP, DNS and NetBIOS, with the fields the tests vary as arguments.
// The one frame builder of the tests, the decoder tests' Frame included.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::agent::testing {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;
using Ip4 = std::array<uint8_t, 4>;

class FrameBuilder {
 public:
  FrameBuilder& u8(uint8_t v) {
    b_.push_back(v);
    return *this;
  }
  FrameBuilder& be16(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(static_cast<uint8_t>(v)); }
  FrameBuilder& be32(uint32_t v) { return be16(static_cast<uint16_t>(v >> 16)).be16(static_cast<uint16_t>(v)); }
  FrameBuilder& mac(const Mac& m) { return append(m.begin(), m.end()); }
  FrameBuilder& ip(const Ip4& a) { return append(a.begin(), a.end()); }
  FrameBuilder& bytes(const Bytes& v) { return append(v.begin(), v.end()); }
  FrameBuilder& text(std::string_view s) { return append(s.begin(), s.end()); }
  FrameBuilder& zeros(size_t n) { return fill(n, 0); }
  FrameBuilder& fill(size_t n, uint8_t v) {
    b_.insert(b_.end(), n, v);
    return *this;
  }
  FrameBuilder& bytes(std::initializer_list<int> values) {
    for (int v : values) u8(static_cast<uint8_t>(v));
    return *this;
  }
  // Hexadecimal digits; blanks, dashes and colons are skipped.
  FrameBuilder& hex(std::string_view digits) {
    int high = -1;
    for (char c : digits) {
      int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (v < 0) continue;
      if (high < 0) {
        high = v;
      } else {
        u8(static_cast<uint8_t>(high << 4 | v));
        high = -1;
      }
    }
    return *this;
  }
  FrameBuilder& le16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  FrameBuilder& le32(uint32_t v) { return le16(static_cast<uint16_t>(v)).le16(static_cast<uint16_t>(v >> 16)); }
  FrameBuilder& padTo(size_t n) {
    if (b_.size() < n) zeros(n - b_.size());
    return *this;
  }
  FrameBuilder& set(size_t off, uint8_t v) {
    padTo(off + 1);
    b_[off] = v;
    return *this;
  }
  FrameBuilder& ipv4(const char* dotted) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d);
    return bytes({int(a), int(b), int(c), int(d)});
  }
  // First-level encoded NetBIOS name: length 32, 15 characters blank-padded and
  // `type`, two letters per byte, then the zero label.
  FrameBuilder& encodedName(std::string_view name, uint8_t type) {
    std::string plain(name.substr(0, 15));
    plain.resize(15, ' ');
    plain.push_back(static_cast<char>(type));
    u8(32);
    for (char c : plain) {
      auto byte = static_cast<uint8_t>(c);
      u8(static_cast<uint8_t>('A' + (byte >> 4))).u8(static_cast<uint8_t>('A' + (byte & 0x0F)));
    }
    return u8(0);
  }
  // A plain NetBIOS name: 15 characters blank-padded, then `type`.
  FrameBuilder& plainName(std::string_view name, uint8_t type) {
    std::string padded(name.substr(0, 15));
    padded.resize(15, ' ');
    return text(padded).u8(type);
  }

  size_t size() const { return b_.size(); }
  const Bytes& data() const { return b_; }
  Bytes build() const { return b_; }

 private:
  template <typename It>
  FrameBuilder& append(It first, It last) {
    for (; first != last; ++first) b_.push_back(static_cast<uint8_t>(*first));
    return *this;
  }
  Bytes b_;
};

inline constexpr Mac kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline Bytes ethernet(const Mac& dst, const Mac& src, uint16_t type, const Bytes& payload) {
  return FrameBuilder().mac(dst).mac(src).be16(type).bytes(payload).build();
}

inline Bytes ipv4(uint8_t protocol, const Ip4& src, const Ip4& dst, const Bytes& payload, uint16_t fragment = 0) {
  return FrameBuilder()
      .u8(0x45)
      .u8(0)
      .be16(static_cast<uint16_t>(20 + payload.size()))
      .be16(0x1234)
      .be16(fragment)
      .u8(64)
      .u8(protocol)
      .be16(0)
      .ip(src)
      .ip(dst)
      .bytes(payload)
      .build();
}

inline constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;

inline Bytes tcp(uint16_t srcPort, uint16_t dstPort, uint32_t sequence, uint8_t flags, size_t dataBytes) {
  return FrameBuilder()
      .be16(srcPort)
      .be16(dstPort)
      .be32(sequence)
      .be32(0)
      .u8(0x50)
      .u8(flags)
      .be16(8192)
      .be32(0)
      .zeros(dataBytes)
      .build();
}

inline Bytes udp(uint16_t srcPort, uint16_t dstPort, const Bytes& payload) {
  return FrameBuilder().be16(srcPort).be16(dstPort).be16(static_cast<uint16_t>(8 + payload.size())).be16(0).bytes(payload).build();
}

inline Bytes icmp(uint8_t type) { return FrameBuilder().u8(type).u8(0).be16(0).be32(0).build(); }

inline Bytes arp(uint16_t operation, const Mac& senderMac, const Ip4& senderIp, const Mac& targetMac,
                 const Ip4& targetIp) {
  return FrameBuilder()
      .be16(1)
      .be16(0x0800)
      .u8(6)
      .u8(4)
      .be16(operation)
      .mac(senderMac)
      .ip(senderIp)
      .mac(targetMac)
      .ip(targetIp)
      .build();
}

// Labels of a dotted name, ending with the zero label.
inline Bytes dnsName(std::string_view name) {
  FrameBuilder b;
  while (!name.empty()) {
    size_t dot = name.find('.');
    std::string_view label = name.substr(0, dot);
    b.u8(static_cast<uint8_t>(label.size())).text(label);
    name = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  }
  return b.u8(0).build();
}

inline Bytes dnsQuery(uint16_t id, std::string_view name) {
  return FrameBuilder().be16(id).be16(0x0100).be16(1).be16(0).be16(0).be16(0).bytes(dnsName(name)).be16(1).be16(1).build();
}

// A reply with one question and one AAAA answer (16 address bytes) whose name
// points at the question.
template <typename Address16>
inline Bytes dnsReplyAaaa(uint16_t id, std::string_view name, const Address16& address) {
  FrameBuilder b;
  b.be16(id).be16(0x8180).be16(1).be16(1).be16(0).be16(0).bytes(dnsName(name)).be16(28).be16(1);
  b.be16(0xC00C).be16(28).be16(1).be32(300).be16(16);
  for (uint8_t v : address) b.u8(v);
  return b.build();
}

// A reply with one question and one A answer whose name points at the question.
inline Bytes dnsReplyA(uint16_t id, std::string_view name, const Ip4& address) {
  return FrameBuilder()
      .be16(id)
      .be16(0x8180)
      .be16(1)
      .be16(1)
      .be16(0)
      .be16(0)
      .bytes(dnsName(name))
      .be16(1)
      .be16(1)
      .be16(0xC00C)
      .be16(1)
      .be16(1)
      .be32(300)
      .be16(4)
      .ip(address)
      .build();
}

inline Bytes llc(uint8_t dsap, uint8_t ssap, uint8_t control, const Bytes& rest = {}) {
  return FrameBuilder().u8(dsap).u8(ssap).u8(control).bytes(rest).build();
}

// An 802.3 frame: the length field, then the 802.2 header and data.
inline Bytes ieee8023(const Mac& dst, const Mac& src, const Bytes& llcAndData) {
  return ethernet(dst, src, static_cast<uint16_t>(llcAndData.size()), llcAndData);
}

// First-level encoding of a NetBIOS name: 15 characters blank-padded, the type, two letters per byte.
inline Bytes netbiosEncoded(std::string_view name, uint8_t type) { return FrameBuilder().encodedName(name, type).build(); }

// A NetBIOS datagram service message (UDP payload) with the given source name.
inline Bytes netbiosDatagram(std::string_view sourceName, uint8_t type, const Ip4& source) {
  return FrameBuilder()
      .u8(0x11)
      .u8(0x02)
      .be16(7)
      .ip(source)
      .be16(138)
      .be16(100)
      .be16(0)
      .bytes(netbiosEncoded(sourceName, type))
      .bytes(netbiosEncoded("WORKGROUP", 0x1D))
      .build();
}

// A NetBIOS Frames header (after F0 F0 03) with a 16-byte name field at `nameOffset` of it.
inline Bytes netbiosFrames(uint8_t command, size_t nameOffset, std::string_view name, uint8_t nameType) {
  Bytes b = FrameBuilder().be16(44).be16(0xEFFF).u8(command).zeros(40).build();
  std::string padded(name.substr(0, 15));
  padded.resize(15, ' ');
  for (size_t i = 0; i < 15; ++i) b[nameOffset + i] = static_cast<uint8_t>(padded[i]);
  b[nameOffset + 15] = nameType;
  return b;
}

inline Bytes tokenRing(uint8_t frameControl, const Mac& dst, const Mac& src, const Bytes& routing,
                       const Bytes& rest) {
  Mac source = src;
  if (!routing.empty()) source[0] |= 0x80;
  return FrameBuilder().u8(0x10).u8(frameControl).mac(dst).mac(source).bytes(routing).bytes(rest).build();
}

// Ethernet + IPv4 in one step.
inline Bytes ipFrame(const Mac& dst, const Mac& src, const Ip4& ipSrc, const Ip4& ipDst, uint8_t protocol,
                     const Bytes& payload) {
  return ethernet(dst, src, 0x0800, ipv4(protocol, ipSrc, ipDst, payload));
}

inline Bytes tcpFrame(const Mac& dst, const Mac& src, const Ip4& ipSrc, const Ip4& ipDst, uint16_t srcPort,
                      uint16_t dstPort, uint32_t sequence, uint8_t flags, size_t dataBytes) {
  return ipFrame(dst, src, ipSrc, ipDst, 6, tcp(srcPort, dstPort, sequence, flags, dataBytes));
}

// A broadcast ARP request for `target` from (sender, senderIp).
inline Bytes arpRequestFrame(const Mac& sender, const Ip4& senderIp, const Ip4& target) {
  return ethernet(kBroadcastMac, sender, 0x0806, arp(1, sender, senderIp, Mac{}, target));
}

}  // namespace veltris::agent::testing
