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
#include "tests/support/frame_builder.h"

namespace veltris::agent::decode::test {

// The tests' one frame builder.
using Frame = agent::testing::FrameBuilder;

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

}  // namespace veltris::agent::decode::test
