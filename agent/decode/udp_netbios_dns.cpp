// UDP with the NetBIOS name service (137), the NetBIOS datagram service
// (138) and DNS (53).
//
// UDP layout: source port (0-1), destination port (2-3), payload from 8.
// Name service: 12-byte header, name length (12), encoded name from 13.
// Datagram service: 14-byte header, source name length (14), encoded source
// name from 15, destination name 34 bytes further.
// DNS: flags (2-3), question count (4-5), first question name from 12.
#include <array>

#include "agent/decode/decode_state.h"
#include "agent/decode/netbios_names.h"

namespace veltris::agent::decode {
namespace {

using wire::netbios::kDatagramDestinationName;
using wire::netbios::kDatagramSourceName;
using wire::netbios::kQuestionName;
constexpr size_t kDnsFlags = 2;
constexpr size_t kDnsResponseCode = 3;
constexpr size_t kDnsQuestionCount = 4;
constexpr size_t kDnsQuestion = 12;
constexpr uint8_t kDnsResponseBit = 0x80;
constexpr uint8_t kDnsPointer = 0xC0;

void decodeNameService(DecodeState& state, FrameView payload, DescriptionText& working) {
  NetbiosName name = readEncodedName(payload, kQuestionName);
  addNameAndType(working, "QuestionName", name);
  ProtocolText& protocol = state.protocol().set("IP NetBios,  ");
  if (isElectionName(name)) {
    protocol.add("*** MASTER BROWSER ***");
  } else if (name.text[0] == '*') {
    protocol.add("Browser List");
  } else if (isBrowserSuffix(name.type)) {
    protocol.add("Browser ").add(name.view());
  } else {
    protocol.add("Looking for ").add(name.view());
  }
}

void decodeDatagramService(DecodeState& state, FrameView payload, DescriptionText& working) {
  NetbiosName source = readEncodedName(payload, kDatagramSourceName);
  NetbiosName destination = readEncodedName(payload, kDatagramDestinationName);
  if (!destination.empty()) addNameAndType(working, "Dest", destination);
  if (!source.empty()) addNameAndType(working, "Src", source);
  setDatagramMeaning(state.protocol(), "IP NetBios,  ", destination, source);
}

// Labels from `off`, each followed by a dot, until a zero length or a
// compression pointer; the last dot is dropped. Stops at the end of the
// stored bytes and, as a printed text would, at a NUL inside a label.
void addQuestionName(DescriptionText& working, FrameView dns, size_t off) {
  bool labelCopied = false;
  while (dns.contains(off)) {
    uint8_t length = dns.u8(off);
    if (length == 0 || length >= kDnsPointer) break;
    std::string_view label = dns.text(off + 1, length);
    working.add(label);
    if (label.size() < length) return;  // NUL or end of the stored bytes
    working.add('.');
    labelCopied = true;
    off += 1 + size_t{length};
  }
  if (labelCopied && !working.view().empty() && working.view().back() == '.') {
    working.truncate(working.size() - 1);
  }
}

void decodeDns(DecodeState& state, FrameView dns, DescriptionText& working) {
  if ((dns.u8(kDnsFlags) & kDnsResponseBit) != 0) {
    state.protocol().set("Domain Name Server Reply");
    working.add(" Reply");
    working.add((dns.u8(kDnsResponseCode) & 0x03) != 0 ? " NOT-FOUND" : " okay");
  } else {
    state.protocol().set("Domain Name Server Query");
    working.add(" Query");
  }
  if (dns.be16(kDnsQuestionCount) != 0) {
    working.add(" Question=");
    addQuestionName(working, dns, kDnsQuestion);
  }
}

struct UdpService {
  uint16_t port;
  bool sourceOnly;  // matched on the source port alone
  void (*decode)(DecodeState&, FrameView, DescriptionText&);
};

// First match wins.
constexpr auto kUdpServices = std::to_array<UdpService>({
    {wire::port::kNetbiosName, true, decodeNameService},
    {wire::port::kNetbiosDatagram, true, decodeDatagramService},
    {wire::port::kDns, false, decodeDns},
});

}  // namespace

void decodeUdp(DecodeState& state, const IpHeader& ip, FrameView udp, DescriptionText& working) {
  working.add("UDP");
  state.protocol().set("UDP/IP");
  if (ip.fragmentOffset != 0) {
    working.add(" FragmentOffset=").dec(ip.fragmentOffset);
    state.protocol().set("UDP/IP Fragment");
    return;
  }
  uint16_t source = udp.be16(wire::udp::kSourcePort);
  uint16_t destination = udp.be16(wire::udp::kDestinationPort);
  addPortTexts(state, working, source, destination, Transport::Udp);
  for (const UdpService& service : kUdpServices) {
    if (source == service.port || (!service.sourceOnly && destination == service.port)) {
      service.decode(state, udp.sub(wire::udp::kHeader), working);
      return;
    }
  }
}

}  // namespace veltris::agent::decode
