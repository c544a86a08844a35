// ICMPv6: errors, echo, neighbour discovery, redirect and multicast
// listener messages.
//
// Layout: type (0), code (1), then per type: a 32-bit MTU or pointer (4-7)
// and the quoted IPv6 header from 8 (its next header at 14, destination at
// 32-47, and behind a 40-byte header the quoted destination port at 50-51);
// neighbour messages: flags (4), target (8-23), options from 24; redirect:
// target (8-23), destination (24-39); router advertisement: router lifetime
// (6-7), options from 16; multicast listener v1: group (8-23); v2 report:
// record count (6-7), first record from 8 with its group at 12-27.
#include <array>
#include <cstring>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

constexpr uint8_t kUnreachable = 1;
constexpr uint8_t kPacketTooBig = 2;
constexpr uint8_t kTimeExceeded = 3;
constexpr uint8_t kParameterProblem = 4;
constexpr uint8_t kListenerQuery = 130;
constexpr uint8_t kListenerReport = 131;
constexpr uint8_t kListenerDone = 132;
constexpr uint8_t kRouterAdvertisement = 134;
constexpr uint8_t kNeighborSolicitation = 135;
constexpr uint8_t kNeighborAdvertisement = 136;
constexpr uint8_t kRedirect = 137;
constexpr uint8_t kListenerReportV2 = 143;

constexpr uint8_t kPortUnreachable = 4;
constexpr size_t kQuotedNextHeader = 14;
constexpr size_t kQuotedDestination = 32;
constexpr size_t kQuotedDestinationPort = 50;
constexpr size_t kTarget = 8;
constexpr size_t kRedirectDestination = 24;
constexpr size_t kRouterOptions = 16;
constexpr size_t kV2FirstGroup = 12;
constexpr uint8_t kPrefixOption = 3;
constexpr uint8_t kMtuOption = 5;
constexpr size_t kMaxOptions = 16;

// Types whose text is fixed.
constexpr auto kTypes = std::to_array<CodeText>({
    {128, "ICMPv6 PING"},
    {129, "ICMPv6 PING Reply"},
    {133, "ICMPv6 Router Solicitation"},
});
constexpr ByteTextIndex kTypeIndex = indexByByte(kTypes);

// Destination unreachable codes; 4 names the port.
constexpr auto kUnreachableCodes = std::to_array<CodeText>({
    {0, "ICMPv6 No Route to Destination"},
    {1, "ICMPv6 Communication Administratively Prohibited"},
    {2, "ICMPv6 Beyond Scope of Source Address"},
    {3, "ICMPv6 Address Unreachable"},
    {5, "ICMPv6 Source Address Failed Policy"},
    {6, "ICMPv6 Reject Route to Destination"},
    {7, "ICMPv6 Error in Source Routing Header"},
});

constexpr auto kParameterProblemCodes = std::to_array<CodeText>({
    {0, ", Erroneous Header Field"},
    {1, ", Unrecognized Next Header"},
    {2, ", Unrecognized Option"},
});

constexpr auto kListenerTypes = std::to_array<CodeText>({
    {kListenerQuery, "ICMPv6 Multicast Listener Query"},
    {kListenerReport, "ICMPv6 Multicast Listener Report"},
    {kListenerDone, "ICMPv6 Multicast Listener Done"},
    {kListenerReportV2, "ICMPv6 Multicast Listener Report v2"},
});

void addAddress(DescriptionText& text, FrameView view, size_t off) {
  uint8_t address[kIpv6Address];
  readIpv6(view, off, address);
  text.ipv6(address);
}

void addPortUnreachable(DescriptionText& text, const DecodeState& state, FrameView icmp) {
  uint8_t quoted = icmp.u8(kQuotedNextHeader);
  uint16_t port = icmp.be16(kQuotedDestinationPort);
  const char* name = nullptr;
  if (quoted == wire::ip::kTcp) name = state.portName(port, Transport::Tcp);
  if (quoted == wire::ip::kUdp) name = state.portName(port, Transport::Udp);
  text.add("ICMPv6 Port '");
  if (name != nullptr) {
    text.add(name);
  } else {
    text.dec(port);
  }
  text.add("' Unreachable");
}

// Errors quote the offending packet; its destination is the target.
void addError(DescriptionText& text, DecodeState& state, FrameView icmp, uint8_t type) {
  uint8_t code = icmp.u8(1);
  if (type == kUnreachable) {
    state.protocol().set("ICMPv6 Destination Unreachable");
    if (code == kPortUnreachable) {
      addPortUnreachable(text, state, icmp);
    } else {
      const char* name = findText(kUnreachableCodes, code);
      text.add(name != nullptr ? name : "ICMPv6 Destination Unreachable");
    }
    text.add(", for Target=");
  } else if (type == kPacketTooBig) {
    state.protocol().set("ICMPv6 Packet Too Big");
    text.add("ICMPv6 Packet Too Big, MaxMTU=").dec(icmp.be32(4)).add(", for Target=");
  } else if (type == kTimeExceeded) {
    text.add(code == 1 ? "ICMPv6 Fragment Reassembly Time Exceeded for Dest=" : "ICMPv6 Time Exceeded for Dest=");
  } else {
    state.protocol().set("ICMPv6 Parameter Problem");
    const char* name = findText(kParameterProblemCodes, code);
    text.add("ICMPv6 Parameter Problem").add(name != nullptr ? name : "");
    text.add(", Pointer=").dec(icmp.be32(4)).add(", for Target=");
  }
  addAddress(text, icmp, kQuotedDestination);
}

// As ARP names the address looked for and found.
void addNeighbor(DescriptionText& text, DecodeState& state, FrameView icmp, uint8_t type) {
  uint8_t target[kIpv6Address];
  readIpv6(icmp, kTarget, target);
  if (type == kNeighborSolicitation) {
    text.add("ICMPv6 Neighbor Solicitation, Target=").ipv6(target);
    state.protocol().set("Neighbor Solicitation, Looking for ");
  } else {
    text.add("ICMPv6 Neighbor Advertisement, Target=").ipv6(target);
    uint8_t flags = icmp.u8(4);
    if ((flags & 0x80) != 0) text.add(" Router");
    if ((flags & 0x40) != 0) text.add(" Solicited");
    if ((flags & 0x20) != 0) text.add(" Override");
    state.protocol().set("Neighbor Advertisement, Found ");
  }
  state.protocol().ipv6(target);
}

void addRouterAdvertisement(DescriptionText& text, FrameView icmp) {
  text.add("ICMPv6 Router Advertisement Lifetime=").dec(icmp.be16(6));
  size_t off = kRouterOptions;
  for (size_t i = 0; i < kMaxOptions && icmp.contains(off); ++i) {
    uint8_t optionType = icmp.u8(off);
    size_t length = size_t{icmp.u8(off + 1)} * 8;
    if (length == 0) break;
    if (optionType == kPrefixOption) {
      text.add(" Prefix=");
      addAddress(text, icmp, off + 16);
      text.add('/').dec(icmp.u8(off + 2));
    } else if (optionType == kMtuOption) {
      text.add(" MTU=").dec(icmp.be32(off + 4));
    }
    off += length;
  }
}

void addRedirect(DescriptionText& text, FrameView icmp) {
  uint8_t target[kIpv6Address];
  uint8_t destination[kIpv6Address];
  readIpv6(icmp, kTarget, target);
  readIpv6(icmp, kRedirectDestination, destination);
  text.add("ICMPv6 Redirect");
  if (std::memcmp(target, destination, kIpv6Address) == 0) {
    text.add(".  No need to use router since Dest=").ipv6(destination).add(" is LOCAL");
  } else {
    text.add(".  Use Router=").ipv6(target).add(" for Dest=").ipv6(destination);
  }
}

void addListener(DescriptionText& text, FrameView icmp, uint8_t type) {
  text.add(findText(kListenerTypes, type));
  if (type == kListenerReportV2) {
    text.add(" Records=").dec(icmp.be16(6));
    if (icmp.be16(6) == 0) return;
    text.add(" Group=");
    addAddress(text, icmp, kV2FirstGroup);
    return;
  }
  uint8_t group[kIpv6Address];
  readIpv6(icmp, kTarget, group);
  bool general = true;
  for (uint8_t b : group) general = general && b == 0;
  if (type == kListenerQuery && general) {
    text.add(" General");
  } else {
    text.add(" Group=").ipv6(group);
  }
}

}  // namespace

void decodeIcmpv6(DecodeState& state, FrameView icmp, DescriptionText& working) {
  state.protocol().clear();
  working.clear();
  uint8_t type = icmp.u8(0);
  if (type >= kUnreachable && type <= kParameterProblem) {
    addError(working, state, icmp, type);
  } else if (type == kNeighborSolicitation || type == kNeighborAdvertisement) {
    addNeighbor(working, state, icmp, type);
  } else if (type == kRouterAdvertisement) {
    addRouterAdvertisement(working, icmp);
  } else if (type == kRedirect) {
    addRedirect(working, icmp);
  } else if (findText(kListenerTypes, type) != nullptr) {
    addListener(working, icmp, type);
  } else if (const char* name = kTypeIndex[type]) {
    working.add(name);
  } else {
    working.add("ICMPv6 Type=").dec(type);
  }
  if (state.protocolSoFar().empty()) state.protocol().set(working.view());
}

}  // namespace veltris::agent::decode
