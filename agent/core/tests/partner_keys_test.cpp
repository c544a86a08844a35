// Partner texts and binary keys.
#include "agent/core/partner_keys.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>

namespace veltris::agent {
namespace {

std::string station(StationClass c, const uint8_t mac[6]) {
  char out[kStationTextSize];
  formatStationText(out, c, mac);
  return out;
}

std::string protoAddr(NetworkKind kind, const NetAddress& a, Protocol p) {
  char out[kProtoAddrTextSize];
  formatProtoAddrText(out, kind, a, p);
  return out;
}

TEST(PartnerTexts, StationTexts) {
  const uint8_t mac[6] = {0x00, 0xA0, 0xC9, 0x0B, 0xFE, 0x01};
  EXPECT_EQ(station(StationClass::Other, mac), "00A0C90BFE01");
  EXPECT_EQ(station(StationClass::Self, mac), "*00A0C90BFE01");
  EXPECT_EQ(station(StationClass::LocalModem, mac), "*LOCAL_MODEM");
  EXPECT_EQ(station(StationClass::RemoteModem, mac), "REMOTE_MODEM");
}

TEST(PartnerTexts, ProtocolAndAddressTextsMatchPrintf) {
  NetAddress ip{{0, 9, 10, 255}};
  EXPECT_EQ(protoAddr(NetworkKind::Ip, ip, Protocol::Ip), "IP 0.9.10.255");
  NetAddress ipx{{0x00, 0x00, 0xAB, 0xCD, 0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56}};
  EXPECT_EQ(protoAddr(NetworkKind::Ipx, ipx, Protocol::Ipx), "IPX 0000ABCD:00A0C9123456");
  EXPECT_EQ(protoAddr(NetworkKind::Hardware, ipx, Protocol::NetBEUI), "NetBEUI");
  EXPECT_EQ(protoAddr(NetworkKind::Hardware, {}, Protocol::Appletalk), "Appletalk");
  EXPECT_EQ(protoAddr(NetworkKind::Hardware, {}, Protocol::Sna), "SNA");
  EXPECT_EQ(protoAddr(NetworkKind::Hardware, {}, Protocol::Misc), "<misc>");

  // Every address byte value formats as "%d" would.
  for (int v = 0; v < 256; ++v) {
    NetAddress a{{static_cast<uint8_t>(v), static_cast<uint8_t>(255 - v), 1, static_cast<uint8_t>(v / 3)}};
    char expected[40];
    std::snprintf(expected, sizeof expected, "%s %d.%d.%d.%d", "IP", v, 255 - v, 1, v / 3);
    ASSERT_EQ(protoAddr(NetworkKind::Ip, a, Protocol::Ip), expected);
  }
}

TEST(PartnerKeys, EqualKeysExactlyWhenTextsAreEqual) {
  const uint8_t macs[3][6] = {{0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 2}, {0x80, 0, 0, 0, 0, 1}};
  const StationClass classes[] = {StationClass::Other, StationClass::Self, StationClass::LocalModem,
                                  StationClass::RemoteModem};
  struct Net {
    NetworkKind kind;
    NetAddress address;
    Protocol protocol;
  };
  const Net nets[] = {
      {NetworkKind::Ip, {{10, 0, 0, 1}}, Protocol::Ip},
      {NetworkKind::Ip, {{10, 0, 0, 2}}, Protocol::Ip},
      {NetworkKind::Ipx, {{0, 0, 0, 1, 0, 0, 0, 0, 0, 1}}, Protocol::Ipx},
      {NetworkKind::Ipx, {{0, 0, 0, 1, 0, 0, 0, 0, 0, 2}}, Protocol::Ipx},
      {NetworkKind::Hardware, {{7, 7}}, Protocol::NetBEUI},
      {NetworkKind::Hardware, {}, Protocol::NetBEUI},
      {NetworkKind::Hardware, {}, Protocol::Misc},
      {NetworkKind::Ipv6, {{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}, Protocol::Ipv6},
      {NetworkKind::Ipv6, {{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}}, Protocol::Ipv6},
      {NetworkKind::Ipv6, {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 1}}, Protocol::Ipv6},
  };
  std::set<std::pair<std::string, std::string>> texts;
  std::set<std::tuple<uint64_t, uint64_t, uint64_t>> keys;
  for (const auto& mac : macs)
    for (StationClass c : classes)
      for (const Net& n : nets) {
        texts.emplace(station(c, mac), protoAddr(n.kind, n.address, n.protocol));
        PartnerKey k = makePartnerKey(c, mac, n.kind, n.address, n.protocol);
        keys.emplace(k.words[0], k.words[1], k.words[2]);
      }
  EXPECT_EQ(keys.size(), texts.size());
}

NetAddress v6(const char* text) {
  NetAddress a;
  EXPECT_EQ(inet_pton(AF_INET6, text, a.bytes), 1) << text;
  return a;
}

// RFC 5952: lower case, no leading zeros, the longest run of zero groups (the
// first of equal runs, never a single group) as "::"; cut in the middle when
// longer than the field.
TEST(PartnerTexts, Ipv6TextsFollowRfc5952) {
  struct Case {
    const char* in;
    const char* text;
  };
  const Case cases[] = {
      {"2001:db8::5", "2001:db8::5"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
      {"2001:0:0:1::1", "2001:0:0:1::1"},
      {"::", "::"},
      {"::1", "::1"},
      {"fe80::", "fe80::"},
      {"fe80::260:8ff:fe11:2233", "fe80::260:8ff:fe11:2233"},
      {"ff02::1:ff00:1", "ff02::1:ff00:1"},
      {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
      {"fe80::abcd:ef01:2345:6789", "fe80::abcd:ef01:2345:6789"},
      {"2001:db8:1234:5678:9abc:def0:1234:5678", "2001:db8:1234:~ef0:1234:5678"},
      {"fe80::1234:5678:9abc:def0:1", "fe80::1234:5678:9abc:def0:1"},
  };
  for (const Case& c : cases) {
    NetAddress a = v6(c.in);
    char full[kIpv6TextSize];
    formatIpv6(full, a.bytes);
    std::string text = protoAddr(NetworkKind::Ipv6, a, Protocol::Ipv6);
    EXPECT_EQ(text, c.text) << c.in;
    EXPECT_LE(text.size(), size_t{kProtoAddrTextSize - 1});
    if (std::strlen(full) <= size_t{kProtoAddrTextSize - 1}) EXPECT_EQ(text, full) << c.in;
  }
}

}  // namespace
}  // namespace veltris::agent
