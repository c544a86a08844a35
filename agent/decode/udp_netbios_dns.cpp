// UDP with the NetBIOS name service (137), the NetBIOS datagram service
// (138) and DNS (53); over IPv6 also mDNS (5353), LLMNR (5355) and DHCPv6
// (546, 547).
//
// UDP layout: source port (0-1), destination port (2-3), payload from 8.
// Name service: 12-byte header, name length (12), encoded name from 13.
// Datagram service: 14-byte header, source name length (14), encoded source
// name from 15, destination name 34 bytes further.
// DNS: flags (2-3), question count (4-5), first question name from 12.
#include <array>

#include "agent/decode/code_table.h"
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
constexpr size_t kDnsAnswerCount = 6;
constexpr size_t kDnsQuestion = 12;
constexpr uint8_t kDnsResponseBit = 0x80;
constexpr uint8_t kDnsPointer = 0xC0;
constexpr uint16_t kMdnsPort = 5353;
constexpr uint16_t kLlmnrPort = 5355;
constexpr uint16_t kDhcpv6ClientPort = 546;
constexpr uint16_t kDhcpv6ServerPort = 547;

void decodeNameService(DecodeState& state, const IpHeader&, FrameView payload, DescriptionText& working) {
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

void decodeDatagramService(DecodeState& state, const IpHeader&, FrameView payload, DescriptionText& working) {
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

// The protocol names of the DNS flavours.
struct DnsNames {
  const char* query;
  const char* reply;
};
constexpr DnsNames kDnsNames{"Domain Name Server Query", "Domain Name Server Reply"};

// Query and answer types named after the question.
constexpr auto kQuestionTypes = std::to_array<CodeText>({
    {1, "A"}, {2, "NS"}, {5, "CNAME"}, {6, "SOA"}, {12, "PTR"}, {13, "HINFO"}, {15, "MX"},
    {16, "TXT"}, {28, "AAAA"}, {33, "SRV"}, {35, "NAPTR"}, {47, "NSEC"}, {64, "SVCB"},
    {65, "HTTPS"}, {255, "ANY"},
});

// Offset behind the name at `off`: its labels and the zero length, or a
// compression pointer's two bytes.
size_t skipName(FrameView dns, size_t off) {
  while (dns.contains(off)) {
    uint8_t length = dns.u8(off);
    if (length == 0) return off + 1;
    if (length >= kDnsPointer) return off + 2;
    off += 1 + size_t{length};
  }
  return off;
}

void addRecordType(DescriptionText& working, uint16_t type) {
  working.add(" Type=");
  if (const char* name = findText(kQuestionTypes, type)) {
    working.add(name);
  } else {
    working.dec(type);
  }
}

void decodeDnsAs(DecodeState& state, FrameView dns, DescriptionText& working, const DnsNames& names,
                 bool withType) {
  if ((dns.u8(kDnsFlags) & kDnsResponseBit) != 0) {
    state.protocol().set(names.reply);
    working.add(" Reply");
    working.add((dns.u8(kDnsResponseCode) & 0x03) != 0 ? " NOT-FOUND" : " okay");
  } else {
    state.protocol().set(names.query);
    working.add(" Query");
  }
  if (dns.be16(kDnsQuestionCount) != 0) {
    working.add(" Question=");
    addQuestionName(working, dns, kDnsQuestion);
    if (withType) addRecordType(working, dns.be16(skipName(dns, kDnsQuestion)));
  } else if (withType && dns.be16(kDnsAnswerCount) != 0) {
    // Multicast DNS announcements carry answers without a question.
    working.add(" Answer=");
    addQuestionName(working, dns, kDnsQuestion);
    addRecordType(working, dns.be16(skipName(dns, kDnsQuestion)));
  }
}

void decodeDns(DecodeState& state, const IpHeader& ip, FrameView dns, DescriptionText& working) {
  if (ip.ipv6) {
    decodeDnsOverIpv6(state, dns, working, wire::port::kDns);
  } else {
    decodeDnsAs(state, dns, working, kDnsNames, false);
  }
}

void decodeMdns(DecodeState& state, const IpHeader&, FrameView dns, DescriptionText& working) {
  decodeDnsOverIpv6(state, dns, working, kMdnsPort);
}

void decodeLlmnr(DecodeState& state, const IpHeader&, FrameView dns, DescriptionText& working) {
  decodeDnsOverIpv6(state, dns, working, kLlmnrPort);
}

void decodeIpv6Dhcp(DecodeState& state, const IpHeader&, FrameView dhcp, DescriptionText& working) {
  decodeDhcpv6(state, dhcp, working);
}

struct UdpService {
  uint16_t port;
  bool sourceOnly;  // matched on the source port alone
  bool ipv6Only;
  void (*decode)(DecodeState&, const IpHeader&, FrameView, DescriptionText&);
};

// First match wins.
constexpr auto kUdpServices = std::to_array<UdpService>({
    {wire::port::kNetbiosName, true, false, decodeNameService},
    {wire::port::kNetbiosDatagram, true, false, decodeDatagramService},
    {wire::port::kDns, false, false, decodeDns},
    {kMdnsPort, false, true, decodeMdns},
    {kLlmnrPort, false, true, decodeLlmnr},
    {kDhcpv6ClientPort, false, true, decodeIpv6Dhcp},
    {kDhcpv6ServerPort, false, true, decodeIpv6Dhcp},
});

}  // namespace

void decodeDnsOverIpv6(DecodeState& state, FrameView dns, DescriptionText& working, uint16_t port) {
  static constexpr DnsNames kMdnsNames{"Multicast DNS Query", "Multicast DNS Reply"};
  static constexpr DnsNames kLlmnrNames{"LLMNR Query", "LLMNR Reply"};
  const DnsNames& names = port == kMdnsPort ? kMdnsNames : port == kLlmnrPort ? kLlmnrNames : kDnsNames;
  decodeDnsAs(state, dns, working, names, true);
}

void decodeUdp(DecodeState& state, const IpHeader& ip, FrameView udp, DescriptionText& working) {
  working.add("UDP");
  state.protocol().set(ip.ipv6 ? "UDP/IPv6" : "UDP/IP");
  if (ip.fragmentOffset != 0) {
    working.add(" FragmentOffset=").dec(ip.fragmentOffset);
    if (ip.ipv6) addFragmentId(working, ip);
    state.protocol().add(" Fragment");
    return;
  }
  uint16_t source = udp.be16(wire::udp::kSourcePort);
  uint16_t destination = udp.be16(wire::udp::kDestinationPort);
  addPortTexts(state, working, source, destination, Transport::Udp);
  for (const UdpService& service : kUdpServices) {
    if (service.ipv6Only && !ip.ipv6) continue;
    if (source == service.port || (!service.sourceOnly && destination == service.port)) {
      service.decode(state, ip, udp.sub(wire::udp::kHeader), working);
      return;
    }
  }
}

}  // namespace veltris::agent::decode
