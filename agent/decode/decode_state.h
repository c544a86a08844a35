#pragma once
// What the protocol decoders share while one frame is decoded: the texts
// being built, the record they end in, and each family's entry.
#include <cstdint>
#include <string_view>

#include "agent/core/wire/ipv6.h"
#include "agent/core/wire/link.h"
#include "agent/core/wire/netbios.h"
#include "agent/core/wire/network.h"
#include "agent/decode/fixed_text.h"
#include "agent/decode/frame_decoder.h"
#include "common/frame_view.h"

namespace veltris::agent::decode {

namespace wire = agent::wire;

constexpr size_t kIpv6Address = wire::ipv6::kAddressSize;

// The IP decoder composes in a working text of this size.
constexpr size_t kWorkingTextSize = 500;
using DescriptionText = FixedText<kWorkingTextSize>;
using ProtocolText = FixedText<kDetailProtocolSize - 1>;

class DecodeState {
 public:
  DecodeState(const DecodeContext& context, DetailRecord& record) : context_(context), record_(record) {}

  const DecodeContext& context() const { return context_; }
  DetailRecord& record() { return record_; }

  // The description so far; using it marks it written.
  DescriptionText& description() {
    descriptionWritten_ = true;
    return description_;
  }
  // Starts the IP decoder's working text: the description starts over and
  // the field is zero-padded behind it.
  DescriptionText& startWorkingText() {
    descriptionZeroPadded_ = true;
    description().clear();
    return description_;
  }
  // The working text is copied into the field: what lies past it is gone.
  void finishWorkingText() { description_.truncate(kDetailDescriptionSize); }

  ProtocolText& protocol() {
    protocolWritten_ = true;
    return protocol_;
  }
  std::string_view protocolSoFar() const { return protocol_.view(); }

  // Writes the destination field at once: the text and a terminator.
  void setDestination(std::string_view text);

  // The port's name or nullptr.
  const char* portName(uint16_t port, Transport transport) const {
    const PortNames& names = context_.portNames != nullptr ? *context_.portNames : PortNames::system();
    return names.name(port, transport);
  }

  // Copies the texts built into the record's fields.
  void commit();

 private:
  const DecodeContext& context_;
  DetailRecord& record_;
  DescriptionText description_;
  ProtocolText protocol_;
  bool descriptionWritten_ = false;
  bool descriptionZeroPadded_ = false;
  bool protocolWritten_ = false;
};

// Fields of an IP header that the transport decoders use. For IPv6 the
// header length counts the extension headers behind the fixed header and the
// total length is the payload length, so that both give the transport's
// length the same way; the identification is the fragment header's.
struct IpHeader {
  size_t headerLength = 0;
  uint16_t totalLength = 0;
  uint8_t id[2] = {};
  bool moreFragments = false;
  uint32_t fragmentOffset = 0;  // in bytes
  uint8_t protocol = 0;
  uint8_t destination[4] = {};
  bool ipv6 = false;
  uint32_t fragmentId = 0;
};

// " id=" and the identification: two bytes of IPv4, four of IPv6.
inline void addFragmentId(DescriptionText& text, const IpHeader& ip) {
  text.add(" id=");
  if (ip.ipv6) {
    text.hex(ip.fragmentId, 8);
  } else {
    text.hex(ip.id[0], 2).hex(ip.id[1], 2);
  }
}

// "%02X%02X%02X%02X%02X%02X" of six bytes at `off`.
void addHardwareAddress(FixedText<32>& text, FrameView view, size_t off);
// Reads the four bytes of an IPv4 address at `off`.
void readIpv4(FrameView view, size_t off, uint8_t (&out)[4]);

// Link layer.
void decodeEthernet(DecodeState& state, FrameView frame);
void decodeTokenRing(DecodeState& state, FrameView frame);
void decodeLlc(DecodeState& state, FrameView llc);
// The network layer of an Ethernet type (or a SNAP type when `viaSnap`);
// false when the type has no decoder there.
bool decodeEtherType(DecodeState& state, uint16_t type, FrameView payload, bool viaSnap);

// IP family.
void decodeIp(DecodeState& state, FrameView ip);
void decodeIcmp(DecodeState& state, FrameView icmp, DescriptionText& working);
void decodeTcp(DecodeState& state, const IpHeader& ip, FrameView tcp, DescriptionText& working);
void decodeUdp(DecodeState& state, const IpHeader& ip, FrameView udp, DescriptionText& working);
// Steps shared by TCP and UDP: the destination port, then a different source port.
void addPortTexts(DecodeState& state, DescriptionText& working, uint16_t source, uint16_t destination,
                  Transport transport);

// IPv6 family.
void decodeIpv6(DecodeState& state, FrameView ipv6);
void decodeIcmpv6(DecodeState& state, FrameView icmp, DescriptionText& working);
// DNS, mDNS and LLMNR over IPv6 (with the question's type), DHCPv6.
void decodeDnsOverIpv6(DecodeState& state, FrameView dns, DescriptionText& working, uint16_t port);
void decodeDhcpv6(DecodeState& state, FrameView dhcp, DescriptionText& working);
// Reads the 16 bytes of an IPv6 address at `off`.
void readIpv6(FrameView view, size_t off, uint8_t (&out)[kIpv6Address]);

// IPX, ARP, NetBIOS Frames.
void decodeIpx(DecodeState& state, FrameView ipx);
void decodeArp(DecodeState& state, FrameView arp);
void decodeNetbiosFrame(DecodeState& state, FrameView netbios);

}  // namespace veltris::agent::decode
