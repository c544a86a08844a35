// IPv6 address texts, and IPv6 frames the golden captures cannot hold:
// headers cut short by the stored bytes and extension header chains that
// run past them.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "agent/decode/tests/test_frames.h"
#include "agent/core/partner_keys.h"

namespace veltris::agent::decode::test {
namespace {

std::string canonical(const char* address) {
  uint8_t bytes[16];
  EXPECT_EQ(inet_pton(AF_INET6, address, bytes), 1) << address;
  char text[agent::kIpv6TextSize];
  size_t n = agent::formatIpv6(text, bytes);
  EXPECT_EQ(n, std::strlen(text));
  return text;
}

TEST(Ipv6Text, CanonicalForms) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},      // first of equal runs
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},            // longest run
      {"fe80::1234:5678:9abc:def0", "fe80::1234:5678:9abc:def0"},
      {"ff02::1:ff00:7", "ff02::1:ff00:7"},
      {"2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff"},
      {"::ffff:192.0.2.1", "::ffff:c000:201"},
      {"1:0:0:0:0:0:0:0", "1::"},
  };
  for (const Case& c : cases) EXPECT_EQ(canonical(c.in), c.out) << c.in;
}

TEST(Ipv6Text, AgreesWithTheResolverLibraryOnRandomAddresses) {
  std::mt19937 random(6);
  for (int i = 0; i < 2000; ++i) {
    uint8_t bytes[16];
    for (uint8_t& b : bytes) b = (random() % 3 == 0) ? static_cast<uint8_t>(random()) : 0;
    if (bytes[10] == 0xFF && bytes[11] == 0xFF) continue;
    char ours[agent::kIpv6TextSize];
    char theirs[INET6_ADDRSTRLEN];
    agent::formatIpv6(ours, bytes);
    inet_ntop(AF_INET6, bytes, theirs, sizeof theirs);
    // The library writes the deprecated IPv4-compatible form as dotted text.
    if (std::strchr(theirs, '.') != nullptr) continue;
    EXPECT_STREQ(ours, theirs);
  }
}

TEST(Ipv6Text, FitKeepsStartAndEndAroundTheCut) {
  char out[28];
  EXPECT_EQ(agent::fitIpv6Text(out, 27, "2001:db8::7", 11), 11u);
  EXPECT_STREQ(out, "2001:db8::7");
  const std::string longest = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff";
  EXPECT_EQ(agent::fitIpv6Text(out, 27, longest.c_str(), longest.size()), 27u);
  EXPECT_STREQ(out, "2001:db8:aaaa~ddd:eeee:ffff");
  char narrow[8];
  agent::fitIpv6Text(narrow, 7, "fe80::1234:5678", 15);
  EXPECT_STREQ(narrow, "fe8~678");
}

Frame ipv6Frame(uint8_t nextHeader, uint16_t payloadLength) {
  Frame f = ethernet("33-33-00-00-00-01", 0x86DD);
  f.be32(0x60000000).be16(payloadLength).u8(nextHeader).u8(64);
  f.bytes({0x20, 0x01, 0x0d, 0xb8}).zeros(11).u8(5);
  f.bytes({0x20, 0x01, 0x0d, 0xb8}).zeros(11).u8(7);
  return f;
}

Decoded decodeStored(const Frame& f, size_t stored) {
  Frame cut;
  for (size_t i = 0; i < stored && i < f.size(); ++i) cut.u8(f.data()[i]);
  DetailRecord record{};
  prepareDecodedFields(record);
  DecodeContext context;
  context.portNames = &testPortNames();
  describeFrame(context, cut.data(), record);
  Decoded d;
  d.destination = fieldText(record.destination, sizeof record.destination);
  d.description = fieldText(record.description, sizeof record.description);
  d.protocol = fieldText(record.protocol, sizeof record.protocol);
  return d;
}

TEST(Ipv6Frames, HeadersCutShortReadAsZeros) {
  Frame ping = ipv6Frame(58, 8);
  ping.bytes({128, 0, 0, 0, 0, 1, 0, 1});
  struct Case {
    size_t stored;
    const char* destination;
    const char* description;
  };
  const Case cases[] = {
      {62, "2001:db8::7", "ICMPv6 PING"},
      {54, "2001:db8::7", "ICMPv6 Type=0"},           // no ICMPv6 bytes stored
      {40, "2001::", "ICMPv6 Type=0"},  // two bytes of the destination stored
      // Nothing past the Ethernet header: next header 0 (hop-by-hop), and
      // the walk ends at the end of the stored bytes.
      {14, "::", "Protocol=x'00'"},
  };
  for (const Case& c : cases) {
    Decoded d = decodeStored(ping, c.stored);
    EXPECT_EQ(d.destination, c.destination) << c.stored;
    EXPECT_EQ(d.description, c.description) << c.stored;
  }
}

TEST(Ipv6Frames, ExtensionHeaderChainsEndWithinTheStoredBytes) {
  // Hop-by-hop headers of 8 bytes, each naming another: the walk stops at
  // eight and the rest is taken as the payload.
  Frame chain = ipv6Frame(0, 200);
  for (int i = 0; i < 20; ++i) chain.bytes({0, 0, 1, 4, 0, 0, 0, 0});
  Decoded d = decodeStored(chain, 256);
  EXPECT_EQ(d.protocol, "IPv6");
  EXPECT_EQ(d.description,
            "Protocol=x'00' HopByHop HopByHop HopByHop HopByHop HopByHop HopByHop HopByHop HopByHop");

  // A length that points past the stored bytes ends the walk there.
  Frame longHeader = ipv6Frame(60, 2048);
  longHeader.bytes({17, 255}).zeros(6);
  Decoded far = decodeStored(longHeader, 256);
  EXPECT_EQ(far.protocol, "UDP/IPv6");
  EXPECT_EQ(far.description, "UDP/0 DestOpts");
}

TEST(Ipv6Frames, Ipv4TextsAreUnchanged) {
  // The same UDP datagram to port 5353 over IPv4 gets no mDNS decoding, and
  // a DNS question over IPv4 no type.
  Frame mdns = ethernet("01-00-5E-00-00-FB", 0x0800);
  addIp(mdns, {.protocol = 17, .destination = "224.0.0.251"});
  addUdp(mdns, 5353, 5353).bytes({0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 'a', 0, 0, 28, 0, 1});
  Decoded d = decode(mdns);
  EXPECT_EQ(d.description, "UDP/5353");
  EXPECT_EQ(d.protocol, "UDP/IP");

  Frame dns = ethernet("00-60-08-AB-CD-EF", 0x0800);
  addIp(dns, {.protocol = 17});
  addUdp(dns, 33000, 53).bytes({0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 'a', 0, 0, 28, 0, 1});
  EXPECT_EQ(decode(dns).description, "UDP/domain 33000 Query Question=a");
}

}  // namespace
}  // namespace veltris::agent::decode::test
