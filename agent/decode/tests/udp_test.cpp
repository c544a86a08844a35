// UDP with the NetBIOS name and datagram services and DNS.
#include <gtest/gtest.h>

#include "agent/decode/tests/test_frames.h"

namespace veltris::agent::decode::test {
namespace {

const std::string kElection = std::string("\x01\x02__MSBROWSE__\x02");

Frame udpFrame(uint16_t source, uint16_t destination, uint16_t flagsAndOffset = 0) {
  Frame f = ethernet("FF-FF-FF-FF-FF-FF", 0x0800);
  addIp(f, {.protocol = 17, .destination = "10.0.0.255", .totalLength = 200, .flagsAndOffset = flagsAndOffset});
  return addUdp(f, source, destination, 180);
}

Frame nameQuery(std::string_view name, uint8_t type, uint16_t destinationPort = 137) {
  Frame f = udpFrame(137, destinationPort);
  f.be16(0x8001).be16(0x0110).be16(1).be16(0).be16(0).be16(0);
  return f.encodedName(name, type).be16(0x20).be16(1);
}

TEST(Udp, PortsAndFragments) {
  Decoded d = decode(udpFrame(5000, 6000));
  EXPECT_EQ(d.description, "UDP/6000 5000");
  EXPECT_EQ(d.protocol, "UDP/IP");
  EXPECT_EQ(d.destination, "10.0.0.255");

  Decoded named = decode(udpFrame(138, 138));
  EXPECT_EQ(named.protocol.substr(0, 12), "IP NetBios, ");

  Decoded fragment = decode(udpFrame(137, 137, 0x0010));
  EXPECT_EQ(fragment.description, "UDP FragmentOffset=128");
  EXPECT_EQ(fragment.protocol, "UDP/IP Fragment");

  Decoded first = decode(udpFrame(5000, 6000, 0x2000));
  EXPECT_EQ(first.description, "UDP/6000 5000") << "no fragment text for UDP";
}

TEST(NameService, QuestionNameCases) {
  Decoded looking = decode(nameQuery("SERVER1", 0x20));
  EXPECT_EQ(looking.description, "UDP/netbios-ns QuestionName=SERVER1<20>");
  EXPECT_EQ(looking.protocol, "IP NetBios,  Looking for SERVER1");

  EXPECT_EQ(decode(nameQuery("WORKGROUP", 0x1D)).protocol, "IP NetBios,  Browser WORKGROUP");
  EXPECT_EQ(decode(nameQuery("DOMAIN", 0x1B)).protocol, "IP NetBios,  Browser DOMAIN");
  EXPECT_EQ(decode(nameQuery("DOMAIN", 0x1F)).protocol, "IP NetBios,  Looking for DOMAIN");
  EXPECT_EQ(decode(nameQuery("*", 0x00)).protocol, "IP NetBios,  Browser List");
  Decoded election = decode(nameQuery(kElection, 0x01));
  EXPECT_EQ(election.protocol, "IP NetBios,  *** MASTER BROWSER ***");
  EXPECT_EQ(election.description, "UDP/netbios-ns QuestionName=" + kElection + "<01>");
}

TEST(NameService, AnySourcePort137IsTheNameService) {
  // A response to another port, with the name where a query has it.
  Frame f = nameQuery("PC7", 0x00, 1500);
  f.set(44, 0x85);
  Decoded d = decode(f);
  EXPECT_EQ(d.description, "UDP/1500 netbios-ns QuestionName=PC7<00>");
  EXPECT_EQ(d.protocol, "IP NetBios,  Looking for PC7");
  // Only the source port counts.
  EXPECT_EQ(decode(udpFrame(1500, 137)).protocol, "UDP/IP netbios-ns");
}

Frame datagram(std::string_view source, uint8_t sourceType, std::string_view destination, uint8_t destinationType) {
  Frame f = udpFrame(138, 138);
  f.u8(0x11).u8(0x02).be16(0x8001).ipv4("10.0.0.7").be16(138).be16(150).be16(0);
  return f.encodedName(source, sourceType).encodedName(destination, destinationType);
}

TEST(DatagramService, BrowserMeaning) {
  Decoded browser = decode(datagram("PC7", 0x00, "WORKGROUP", 0x1E));
  EXPECT_EQ(browser.description, "UDP/netbios-dgm Dest=WORKGROUP<1E> Src=PC7<00>");
  EXPECT_EQ(browser.protocol, "IP NetBios,  Browser WORKGROUP");

  EXPECT_EQ(decode(datagram("PC7", 0x00, "SERVER1", 0x03)).protocol, "IP NetBios,  Looking for SERVER1");
  EXPECT_EQ(decode(datagram("PC7", 0x00, "PC7", 0x03)).protocol, "IP NetBios,  Advertising PC7");
  EXPECT_EQ(decode(datagram("PC7", 0x00, "*SMBSERVER", 0x20)).protocol, "IP NetBios,  Browser List");
  EXPECT_EQ(decode(datagram(kElection, 0x01, "PC7", 0x00)).protocol, "IP NetBios,  *** MASTER BROWSER ***");
  EXPECT_EQ(decode(datagram("PC7", 0x00, kElection, 0x01)).protocol, "IP NetBios,  *** MASTER BROWSER ***");
}

TEST(DatagramService, EmptyNamesAreLeftOut) {
  Frame f = udpFrame(138, 138);
  f.u8(0x11).u8(0x02).be16(0x8001).ipv4("10.0.0.7").be16(138).be16(150).be16(0);
  f.encodedName("PC7", 0x00);
  f.u8(32).fill(32, 'A').u8(0);  // all-NUL destination
  Decoded d = decode(f);
  EXPECT_EQ(d.description, "UDP/netbios-dgm Src=PC7<00>");
  EXPECT_EQ(d.protocol, "IP NetBios,  Advertising PC7");
}

// A DNS message with one question.
Frame dns(uint16_t source, uint16_t destination, uint16_t flags, std::initializer_list<std::string_view> labels,
          uint16_t questions = 1) {
  Frame f = udpFrame(source, destination);
  f.be16(0x4242).be16(flags).be16(questions).be16(flags & 0x8000 ? 1 : 0).be16(0).be16(0);
  for (std::string_view label : labels) f.u8(static_cast<uint8_t>(label.size())).text(label);
  return f.u8(0).be16(1).be16(1);
}

TEST(Dns, QueryAndReplies) {
  Decoded query = decode(dns(1034, 53, 0x0100, {"www", "example", "com"}));
  EXPECT_EQ(query.description, "UDP/domain 1034 Query Question=www.example.com");
  EXPECT_EQ(query.protocol, "Domain Name Server Query");

  Decoded okay = decode(dns(53, 1034, 0x8180, {"www", "example", "com"}));
  EXPECT_EQ(okay.description, "UDP/1034 domain Reply okay Question=www.example.com");
  EXPECT_EQ(okay.protocol, "Domain Name Server Reply");

  EXPECT_EQ(decode(dns(53, 1034, 0x8183, {"nowhere", "example"})).description,
            "UDP/1034 domain Reply NOT-FOUND Question=nowhere.example");
  EXPECT_EQ(decode(dns(53, 1034, 0x8182, {"a"})).description, "UDP/1034 domain Reply NOT-FOUND Question=a");
  EXPECT_EQ(decode(dns(53, 1034, 0x8181, {"a"})).description, "UDP/1034 domain Reply NOT-FOUND Question=a");
  EXPECT_EQ(decode(dns(53, 1034, 0x8184, {"a"})).description, "UDP/1034 domain Reply okay Question=a")
      << "not implemented (4) has clear low bits";
}

TEST(Dns, QuestionNameEdges) {
  EXPECT_EQ(decode(dns(1034, 53, 0x0100, {"www"}, 0)).description, "UDP/domain 1034 Query");
  EXPECT_EQ(decode(dns(1034, 53, 0x0100, {})).description, "UDP/domain 1034 Query Question=");
  // A compression pointer ends the name.
  Frame pointer = udpFrame(53, 1034);
  pointer.be16(1).be16(0x8180).be16(1).be16(1).be16(0).be16(0).u8(3).text("www").bytes({0xC0, 0x0C});
  EXPECT_EQ(decode(pointer).description, "UDP/1034 domain Reply okay Question=www");
}

TEST(Dns, NameWalkStopsAtTheStoredBytes) {
  Frame f = udpFrame(1034, 53);
  f.be16(1).be16(0x0100).be16(1).be16(0).be16(0).be16(0);
  while (f.size() < 400) f.u8(63).fill(63, 'x');  // labels that never end
  Decoded d = decode(f);
  // Name from frame offset 54: 202 stored bytes, three whole labels and 10 bytes of the fourth.
  std::string label(63, 'x');
  EXPECT_EQ(std::string(d.record.description, 100),
            ("UDP/domain 1034 Query Question=" + label + "." + label).substr(0, 100));
  EXPECT_EQ(d.protocol, "Domain Name Server Query");
}

TEST(Dns, PortOnEitherSide) {
  EXPECT_EQ(decode(dns(53, 53, 0x0100, {"x"})).description, "UDP/domain Query Question=x");
}

}  // namespace
}  // namespace veltris::agent::decode::test
