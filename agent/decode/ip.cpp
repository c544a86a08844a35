// IPv4 and ICMP.
//
// IPv4 layout: version and header length (0), total length (2-3),
// identification (4-5), flags and fragment offset (6-7), protocol (9),
// destination (16-19); the transport header starts at the header length.
// ICMP layout: type (0), code (1), gateway or next-hop MTU (4-7), quoted IP
// header from 8: its protocol at 17, its destination at 24-27 and, for a
// 20-byte quoted header, the quoted destination port at 30-31.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

namespace ip = wire::ip;

constexpr uint8_t kIcmpUnreachable = 3;
constexpr uint8_t kIcmpRedirect = 5;
constexpr uint8_t kIcmpTimeExceeded = 11;
constexpr uint8_t kPortUnreachable = 3;
constexpr uint8_t kFragmentationNeeded = 4;
constexpr size_t kIcmpGateway = 4;
constexpr size_t kIcmpNextHopMtu = 6;
constexpr size_t kQuotedProtocol = 17;
constexpr size_t kQuotedDestination = 24;
constexpr size_t kQuotedDestinationPort = 30;

// Protocols named without looking further.
constexpr auto kNamedProtocols = std::to_array<CodeText>({
    {88, "IGRP"},
    {89, "OSPF"},
});

// Types whose text is fixed; 3, 5 and 11 are built from their details.
constexpr auto kIcmpTypes = std::to_array<CodeText>({
    {0, "ICMP PING Reply"},
    {4, "ICMP Source Quench"},
    {8, "ICMP PING"},
    {9, "ICMP Router Advertisement"},
    {10, "ICMP Router Solicitation"},
    {12, "ICMP Parameter Problem"},
    {13, "ICMP Timestamp"},
    {14, "ICMP Timestamp Reply"},
    {15, "ICMP Information Request"},
    {16, "ICMP Information Reply"},
    {17, "ICMP Subnet Mask Address Request"},
    {18, "ICMP Subnet Mask Address Reply"},
});
constexpr ByteTextIndex kIcmpTypeIndex = indexByByte(kIcmpTypes);

// Destination unreachable codes; 3 and 4 get details.
constexpr auto kUnreachableCodes = std::to_array<CodeText>({
    {0, "ICMP Network Unreachable"},
    {1, "ICMP Host Unreachable"},
    {2, "ICMP Protocol Unreachable"},
    {4, "ICMP Fragmentation needed but not set"},
    {5, "ICMP Source Route Failed"},
    {6, "ICMP Destination Network Unknown"},
    {7, "ICMP Destination Host Unknown"},
    {8, "ICMP Source Host Isolated"},
    {9, "ICMP Destination Network Administratively Prohibited"},
    {10, "ICMP Destination Host Administratively Prohibited"},
    {11, "ICMP Network Unreachable for TOS"},
    {12, "ICMP Host Unreachable for TOS"},
    {13, "ICMP Communication Administratively Prohibited by Filtering"},
    {14, "ICMP Host Precedence Violation"},
    {15, "ICMP Precedence Cutoff in Effect"},
});
constexpr ByteTextIndex kUnreachableIndex = indexByByte(kUnreachableCodes);

constexpr auto kRedirectCodes = std::to_array<CodeText>({
    {0, "ICMP Redirect for network"},
    {1, "ICMP Redirect for host"},
    {2, "ICMP Redirect for TOS and network"},
    {3, "ICMP Redirect for TOS and host"},
});

IpHeader readIpHeader(FrameView view) {
  IpHeader header;
  header.headerLength = ip::headerLength(view);
  header.totalLength = view.be16(ip::kTotalLength);
  header.id[0] = view.u8(ip::kId);
  header.id[1] = view.u8(ip::kId + 1);
  header.moreFragments = (view.u8(ip::kFlagsAndFragment) & ip::kMoreFragments) != 0;
  header.fragmentOffset = static_cast<uint32_t>(view.be16(ip::kFlagsAndFragment) & ip::kFragmentMask) * 8;
  header.protocol = view.u8(ip::kProtocol);
  readIpv4(view, ip::kDestination, header.destination);
  return header;
}

void addPortUnreachable(DescriptionText& text, const DecodeState& state, FrameView icmp) {
  uint8_t quotedProtocol = icmp.u8(kQuotedProtocol);
  uint16_t port = icmp.be16(kQuotedDestinationPort);
  const char* name = nullptr;
  if (quotedProtocol == ip::kTcp) name = state.portName(port, Transport::Tcp);
  if (quotedProtocol == ip::kUdp) name = state.portName(port, Transport::Udp);
  text.add("ICMP Port '");
  if (name != nullptr) {
    text.add(name);
  } else {
    text.dec(port);
  }
  text.add("' Unreachable");
}

void addUnreachable(DescriptionText& text, DecodeState& state, FrameView icmp) {
  state.protocol().set("ICMP Destination Unreachable");
  uint8_t code = icmp.u8(1);
  if (code == kPortUnreachable) {
    addPortUnreachable(text, state, icmp);
  } else if (const char* name = kUnreachableIndex[code]) {
    text.add(name);
    uint16_t mtu = icmp.be16(kIcmpNextHopMtu);
    if (code == kFragmentationNeeded && mtu != 0) text.add(", MaxMTU=").dec(mtu);
  } else {
    text.add("ICMP Destination Unreachable");
  }
  uint8_t target[4];
  readIpv4(icmp, kQuotedDestination, target);
  text.add(", for Target=").dotted(target);
}

void addRedirect(DescriptionText& text, FrameView icmp) {
  const char* name = findText(kRedirectCodes, icmp.u8(1));
  text.add(name != nullptr ? name : "ICMP Redirect");
  uint8_t gateway[4];
  uint8_t destination[4];
  readIpv4(icmp, kIcmpGateway, gateway);
  readIpv4(icmp, kQuotedDestination, destination);
  if (icmp.be32(kIcmpGateway) == icmp.be32(kQuotedDestination)) {
    text.add(".  No need to use router since Dest=").dotted(destination).add(" is LOCAL");
  } else {
    text.add(".  Use Router=").dotted(gateway).add(" for Dest=").dotted(destination);
  }
}

}  // namespace

void decodeIcmp(DecodeState& state, FrameView icmp, DescriptionText& working) {
  state.protocol().clear();
  working.clear();
  uint8_t type = icmp.u8(0);
  if (type == kIcmpUnreachable) {
    addUnreachable(working, state, icmp);
  } else if (type == kIcmpRedirect) {
    addRedirect(working, icmp);
  } else if (type == kIcmpTimeExceeded) {
    uint8_t destination[4];
    readIpv4(icmp, kQuotedDestination, destination);
    working.add("ICMP Time Exceeded for Dest=").dotted(destination);
  } else if (const char* name = kIcmpTypeIndex[type]) {
    working.add(name);
  } else {
    working.add("ICMP");
  }
  if (state.protocolSoFar().empty()) state.protocol().set(working.view());
}

void addPortTexts(DecodeState& state, DescriptionText& working, uint16_t source, uint16_t destination,
                  Transport transport) {
  if (const char* name = state.portName(destination, transport)) {
    working.add('/').add(name);
    state.protocol().add(' ').add(name);
  } else {
    working.add('/').dec(destination);
  }
  if (source == destination) return;
  if (const char* name = state.portName(source, transport)) {
    working.add(' ').add(name);
    state.protocol().add(' ').add(name);
  } else {
    working.add(' ').dec(source);
  }
}

void decodeIp(DecodeState& state, FrameView view) {
  IpHeader header = readIpHeader(view);
  state.protocol().set("IP");
  FixedText<32> destination;
  destination.dotted(header.destination);
  state.setDestination(destination.view());

  DescriptionText& working = state.startWorkingText();
  FrameView transport = view.sub(header.headerLength);
  if (header.protocol == ip::kIcmp) {
    decodeIcmp(state, transport, working);
  } else if (header.protocol == ip::kTcp) {
    decodeTcp(state, header, transport, working);
  } else if (header.protocol == ip::kUdp) {
    decodeUdp(state, header, transport, working);
  } else if (const char* name = findText(kNamedProtocols, header.protocol)) {
    working.add(name);
    state.protocol().set(name);
  } else {
    working.add("Protocol=x'").hex(header.protocol, 2).add('\'');
  }
  state.finishWorkingText();
}

}  // namespace veltris::agent::decode
