#pragma once
// Frames crafted byte by byte for the decoder tests, and the decoded texts.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "agent/decode/frame_decoder.h"
#include "common/text_field.h"

namespace veltris::decode::test {

class Frame {
 public:
  Frame& u8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  Frame& bytes(std::initializer_list<int> values) {
    for (int v : values) u8(static_cast<uint8_t>(v));
    return *this;
  }
  // Hexadecimal digits; blanks, dashes and colons are skipped.
  Frame& hex(std::string_view digits) {
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
  Frame& be16(uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
  Frame& be32(uint32_t v) { return be16(v >> 16).be16(v & 0xFFFF); }
  Frame& le16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
  Frame& le32(uint32_t v) { return le16(v & 0xFFFF).le16(v >> 16); }
  Frame& text(std::string_view s) {
    for (char c : s) u8(static_cast<uint8_t>(c));
    return *this;
  }
  Frame& zeros(size_t n) {
    bytes_.insert(bytes_.end(), n, 0);
    return *this;
  }
  Frame& fill(size_t n, uint8_t v) {
    bytes_.insert(bytes_.end(), n, v);
    return *this;
  }
  Frame& padTo(size_t n) {
    if (bytes_.size() < n) zeros(n - bytes_.size());
    return *this;
  }
  Frame& set(size_t off, uint8_t v) {
    padTo(off + 1);
    bytes_[off] = v;
    return *this;
  }
  Frame& ipv4(const char* dotted) {
    unsigned a, b, c, d;
    std::sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d);
    return bytes({int(a), int(b), int(c), int(d)});
  }
  // First-level encoded NetBIOS name: 15 characters blank-padded, then `type`.
  Frame& encodedName(std::string_view name, uint8_t type) {
    char plain[16];
    std::memset(plain, ' ', 15);
    std::memcpy(plain, name.data(), std::min<size_t>(name.size(), 15));
    plain[15] = static_cast<char>(type);
    u8(32);
    for (char c : plain) u8('A' + ((uint8_t(c) >> 4) & 0xF)).u8('A' + (uint8_t(c) & 0xF));
    return u8(0);
  }
  // A plain NetBIOS name: 15 characters blank-padded, then `type`.
  Frame& plainName(std::string_view name, uint8_t type) {
    std::string padded(name.substr(0, 15));
    padded.resize(15, ' ');
    return text(padded).u8(type);
  }
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& data() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Link layers.
inline Frame ethernet(std::string_view destination, uint16_t type) {
  Frame f;
  f.hex(destination).hex("00-A0-24-11-22-33").be16(type);
  return f;
}
inline Frame ieee8023(std::string_view destination, uint16_t length = 100) {
  return ethernet(destination, length);
}

// A 20-byte IPv4 header.
struct Ip {
  uint8_t protocol = 6;
  const char* destination = "10.1.2.3";
  uint16_t totalLength = 40;
  uint16_t id = 0x1234;
  uint16_t flagsAndOffset = 0;
};
inline Frame& addIp(Frame& f, const Ip& ip) {
  f.u8(0x45).u8(0).be16(ip.totalLength).be16(ip.id).be16(ip.flagsAndOffset).u8(64).u8(ip.protocol).be16(0);
  return f.ipv4("10.9.9.9").ipv4(ip.destination);
}

struct Tcp {
  uint16_t source = 1025;
  uint16_t destination = 139;
  uint32_t sequence = 1000;
  uint32_t ack = 2000;
  uint8_t flags = 0x10;
  uint8_t headerWords = 5;
};
inline Frame& addTcp(Frame& f, const Tcp& tcp) {
  f.be16(tcp.source).be16(tcp.destination).be32(tcp.sequence).be32(tcp.ack);
  f.u8(static_cast<uint8_t>(tcp.headerWords << 4)).u8(tcp.flags).be16(8192).be16(0).be16(0);
  return f.zeros(size_t{tcp.headerWords} * 4 - 20);
}

inline Frame& addUdp(Frame& f, uint16_t source, uint16_t destination, uint16_t length = 8) {
  return f.be16(source).be16(destination).be16(length).be16(0);
}

// Port names of the tests: fixed, so results do not depend on /etc/services.
inline const PortNames& testPortNames() {
  static const PortNames::Entry kEntries[] = {
      {139, Transport::Tcp, "nbsession"}, {137, Transport::Udp, "netbios-ns"},
      {138, Transport::Udp, "netbios-dgm"}, {53, Transport::Udp, "domain"},
      {53, Transport::Tcp, "domain"},     {21, Transport::Tcp, "ftp"},
      {23, Transport::Tcp, "telnet"},
  };
  static const PortNames names{std::span<const PortNames::Entry>(kEntries)};
  return names;
}

struct Decoded {
  DetailRecord record;
  std::string destination;
  std::string description;
  std::string protocol;
  std::string station;
  std::string protoAddr;
  std::string direction;
};

inline std::string fieldText(const char* field, size_t width) { return {field, strnlen(field, width)}; }

// Decodes as the detail record builder does: caller's fields set, decoded
// fields prepared, the frame in a 256-byte ring slot.
inline Decoded decode(const Frame& frame, DecodeContext context = {}) {
  if (context.portNames == nullptr) context.portNames = &testPortNames();
  Decoded d;
  std::memset(&d.record, 0, sizeof d.record);
  copyText(d.record.station, sizeof d.record.station, "STATION");
  copyText(d.record.protoAddr, sizeof d.record.protoAddr, "PROTOADDR");
  std::memcpy(d.record.direction, "<-  ", 4);
  prepareDecodedFields(d.record);
  uint8_t slot[256] = {};
  std::memcpy(slot, frame.data().data(), std::min<size_t>(frame.size(), sizeof slot));
  describeFrame(context, slot, d.record);
  d.destination = fieldText(d.record.destination, sizeof d.record.destination);
  d.description = fieldText(d.record.description, sizeof d.record.description);
  d.protocol = fieldText(d.record.protocol, sizeof d.record.protocol);
  d.station = fieldText(d.record.station, sizeof d.record.station);
  d.protoAddr = fieldText(d.record.protoAddr, sizeof d.record.protoAddr);
  d.direction = std::string(d.record.direction, 4);
  return d;
}

inline DecodeContext tokenRingContext() {
  DecodeContext context;
  context.mediaType = capture::kMedium8025;
  const uint8_t own[6] = {0x10, 0x00, 0x5A, 0x01, 0x02, 0x03};
  std::memcpy(context.ownAddress, own, 6);
  return context;
}

}  // namespace veltris::decode::test
