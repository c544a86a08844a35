// IPv6 and its extension headers.
//
// Fixed header (40 bytes): version (high nibble of 0), payload length (4-5),
// next header (6), hop limit (7), source (8-23), destination (24-39).
// Extension headers: next header (0) and length (1) in 8-byte units beyond
// the first 8; routing adds its type (2) and segments left (3); the fragment
// header is 8 bytes: offset in 8-byte units and the More flag (2-3),
// identification (4-7); the authentication header counts its length in
// 4-byte units beyond the first 8.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

using namespace wire::ipv6;
constexpr size_t kFixedHeader = kHeader;
constexpr uint16_t kMoreFragments = 0x0001;

// Protocols named without looking further.
constexpr auto kNamedProtocols = std::to_array<CodeText>({
    {50, "ESP"},
    {59, "IPv6 No Next Header"},
    {88, "IGRP"},
    {89, "OSPF"},
});

struct ExtensionHeader {
  uint8_t type = 0;
  uint8_t routingType = 0;
  uint8_t segmentsLeft = 0;
};

struct HeaderChain {
  std::array<ExtensionHeader, kMaxExtensionHeaders> headers;
  int count = 0;
  size_t transport = kFixedHeader;  // offset of the transport header
  uint8_t protocol = 0;
  bool fragmented = false;
};

// Follows the extension headers to the transport; fills the fragment fields.
HeaderChain walkHeaders(FrameView view, IpHeader& ip) {
  HeaderChain chain;
  chain.protocol = view.u8(kNextHeader);
  while (isExtensionHeader(chain.protocol) && chain.count < kMaxExtensionHeaders &&
         view.contains(chain.transport)) {
    FrameView header = view.sub(chain.transport);
    ExtensionHeader& entry = chain.headers[static_cast<size_t>(chain.count++)];
    entry.type = chain.protocol;
    size_t length = (size_t{header.u8(1)} + 1) * 8;
    if (entry.type == kRouting) {
      entry.routingType = header.u8(2);
      entry.segmentsLeft = header.u8(3);
    } else if (entry.type == kFragment) {
      uint16_t offsetAndFlags = header.be16(kFragmentOffset);
      ip.fragmentOffset = offsetAndFlags & kFragmentOffsetMask;
      ip.moreFragments = (offsetAndFlags & kMoreFragments) != 0;
      ip.fragmentId = header.be32(4);
      chain.fragmented = true;
      length = kFragmentHeader;
    } else if (entry.type == kAuthentication) {
      length = (size_t{header.u8(1)} + 2) * 4;
    }
    chain.protocol = header.u8(0);
    chain.transport += length;
  }
  return chain;
}

// The extension headers met, in their order; the fragment header shows in
// the fragment texts.
void addExtensionHeaders(DescriptionText& text, const HeaderChain& chain) {
  for (int i = 0; i < chain.count; ++i) {
    const ExtensionHeader& header = chain.headers[static_cast<size_t>(i)];
    switch (header.type) {
      case kHopByHop:
        text.add(" HopByHop");
        break;
      case kRouting:
        text.add(" Routing Type=").dec(header.routingType).add(" SegLeft=").dec(header.segmentsLeft);
        break;
      case kDestinationOptions:
        text.add(" DestOpts");
        break;
      case kAuthentication:
        text.add(" AH");
        break;
      default:
        break;
    }
  }
}

}  // namespace

void readIpv6(FrameView view, size_t off, uint8_t (&out)[kIpv6Address]) { view.copy(off, kIpv6Address, out); }

void decodeIpv6(DecodeState& state, FrameView view) {
  uint8_t destination[kIpv6Address];
  readIpv6(view, kDestination, destination);
  state.protocol().set("IPv6");
  // Cut as the partners' address texts are, to the field's 27 characters.
  char text[agent::kIpv6TextSize];
  char fitted[kDetailDestinationSize];
  size_t length = agent::formatIpv6(text, destination);
  state.setDestination({fitted, agent::fitIpv6Text(fitted, kDetailDestinationSize - 1, text, length)});

  IpHeader header;
  header.ipv6 = true;
  HeaderChain chain = walkHeaders(view, header);
  header.protocol = chain.protocol;
  header.headerLength = chain.transport - kFixedHeader;
  header.totalLength = view.be16(kPayloadLength);

  DescriptionText& working = state.startWorkingText();
  FrameView transport = view.sub(chain.transport);
  bool tcpOrUdp = header.protocol == kTcp || header.protocol == kUdp;
  if (header.fragmentOffset != 0 && !tcpOrUdp) {
    working.add("IPv6 FragmentOffset=").dec(header.fragmentOffset);
    addFragmentId(working, header);
    state.protocol().set("IPv6 Fragment");
  } else if (header.protocol == kIcmpv6) {
    decodeIcmpv6(state, transport, working);
  } else if (header.protocol == kTcp) {
    decodeTcp(state, header, transport, working);
  } else if (header.protocol == kUdp) {
    decodeUdp(state, header, transport, working);
  } else if (const char* name = findText(kNamedProtocols, header.protocol)) {
    working.add(name);
    state.protocol().set(name);
  } else {
    working.add("Protocol=x'").hex(header.protocol, 2).add('\'');
  }
  // TCP marks a first fragment itself; an atomic fragment has nothing to follow.
  if (header.moreFragments && header.fragmentOffset == 0 && header.protocol != kTcp) {
    working.add(" FRAGMENTED");
    addFragmentId(working, header);
  } else if (chain.fragmented && header.fragmentOffset == 0 && !header.moreFragments) {
    working.add(" Fragment");
  }
  addExtensionHeaders(working, chain);
  state.finishWorkingText();
}

}  // namespace veltris::agent::decode
