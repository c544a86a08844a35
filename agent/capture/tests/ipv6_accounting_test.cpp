// IPv6 partners and errors: a mixed IPv4/IPv6 capture replayed from a file and
// counted by hand, the error kinds over IPv6, IPv6 over SNAP and Token Ring,
// fragments and the table limit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/capture/file_device.h"
#include "tests/support/filing_harness.h"
#include "tests/support/ipv6_frames.h"
#include "tests/support/pcap_writer.h"

namespace veltris::agent {
namespace {

using namespace testing;
namespace cap = veltris::capture;

const Mac kPeerA = stationMac(1);
const Mac kPeerB = stationMac(2);
const Ip4 kPeerAIp = {192, 168, 1, 20};
const Ip6 kStationGlobal = ip6("2001:db8::10");
const Ip6 kStationLinkLocal = ip6("fe80::260:8ff:fe11:2233");
const Ip6 kPeerAGlobal = ip6("2001:db8::5");
const Ip6 kPeerALinkLocal = ip6("fe80::1");
const Ip6 kPeerBGlobal = ip6("2001:db8::7");
const Ip6 kPeerBLinkLocal = ip6("fe80::7");

struct Totals {
  uint32_t framesSent, framesReceived, broadcasts, errors;
  uint32_t bytesSent, bytesReceived;
};

Totals totalsOf(const Partner& p) {
  const PartnerRecord& r = p.record;
  return {r.framesSent.get(), r.framesReceived.get(), r.broadcasts.get(), r.errors.get(),
          static_cast<uint32_t>(p.bytesSent), static_cast<uint32_t>(p.bytesReceived)};
}

// Frames of both families between this station, peer A (IPv4, global and
// link-local IPv6) and peer B (IPv6 only), replayed from a capture file.
TEST(Ipv6Accounting, MixedCaptureCountedByHand) {
  std::vector<Bytes> frames = {
      tcpFrame(kPeerA, kStationMac, kStationIp, kPeerAIp, 1025, 445, 100, kSyn, 0),                 // 0 v4 sent
      tcpFrame(kStationMac, kPeerA, kPeerAIp, kStationIp, 445, 1025, 900, kSyn | kAck, 0),          // 1 v4 received
      tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50000, 443, 1, kSyn, 0),         // 2 v6 sent
      tcp6Frame(kStationMac, kPeerA, kPeerAGlobal, kStationGlobal, 443, 50000, 7, kSyn | kAck, 0),  // 3 v6 received
      tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50000, 443, 2, kAck | kPsh, 100),  // 4 data
      tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50000, 443, 2, kAck | kPsh, 100),  // 5 again
      tcp6Frame(kStationMac, kPeerB, kPeerBGlobal, kStationGlobal, 80, 50001, 5, kAck | kPsh, 20),    // 6 from B
      ip6Frame(kStationMac, kPeerA, kPeerALinkLocal, kStationLinkLocal, kIcmpv6, icmpv6(128)),       // 7 echo
      ip6Frame(kPeerA, kStationMac, kStationLinkLocal, kPeerALinkLocal, kIcmpv6, icmpv6(129)),       // 8 reply
      solicitationFrame(kStationMac, kStationLinkLocal, kPeerALinkLocal),                            // 9 group, sent
      advertisementFrame(kStationMac, kPeerA, kPeerALinkLocal, kStationLinkLocal, kPeerALinkLocal),  // 10
      ip6Frame(multicastMac(ip6("ff02::1")), kPeerB, kPeerBLinkLocal, ip6("ff02::1"), kIcmpv6, icmpv6(134)),  // 11
      arpRequestFrame(kStationMac, kStationIp, kPeerAIp),                                            // 12
  };
  std::vector<cap::testing::TestFrame> file;
  for (const Bytes& f : frames) file.push_back({f, 0, 0});
  file.front().seconds = 1'700'000'000;
  cap::testing::TempDir dir;
  cap::testing::writeFile(dir / "mixed.pcap", cap::testing::pcapFile(cap::testing::kLinkEthernet, file));

  std::string error;
  auto device = cap::FileDevice::open((dir / "mixed.pcap").string() + "@00:60:08:11:22:33", error);
  ASSERT_NE(device, nullptr) << error;
  uint32_t promiscuous = cap::filter::kPromiscuous;
  ASSERT_TRUE(device->set(cap::oid::kGenCurrentPacketFilter, &promiscuous, 4));
  FilingHarness h;
  uint8_t buffer[256] = {};
  cap::FrameRead read;
  int filed = 0;
  while (device->read(buffer, read, std::chrono::milliseconds(100)) == cap::ReadResult::Frame) {
    fileCompletedRead(*h.filer, read.seconds, buffer, read);
    std::memset(buffer, 0, sizeof buffer);
    ++filed;
  }
  ASSERT_EQ(filed, 13);

  auto size = [&](std::initializer_list<int> which) {
    uint32_t n = 0;
    for (int i : which) n += static_cast<uint32_t>(frames[i].size());
    return n;
  };
  struct Expected {
    std::string station, protoAddr;
    Totals totals;
    uint32_t firstSeen, lastSeen;  // frame numbers
  };
  const std::string self = hexStation(kStationMac, true), a = hexStation(kPeerA), b = hexStation(kPeerB);
  const Expected expected[] = {
      {self, "IP 192.168.1.10", {1, 1, 1, 0, size({0}), size({1})}, 0, 12},
      {a, "IP 192.168.1.20", {1, 1, 0, 0, size({1}), size({0})}, 0, 1},
      {self, "2001:db8::10", {2, 2, 0, 1, size({2, 4}), size({3, 6})}, 2, 6},
      {a, "2001:db8::5", {1, 2, 0, 0, size({3}), size({2, 4})}, 2, 4},
      {b, "2001:db8::7", {1, 0, 0, 0, size({6}), 0}, 6, 6},
      {a, "fe80::1", {2, 1, 0, 0, size({7, 10}), size({8})}, 7, 10},
      {self, "fe80::260:8ff:fe11:2233", {1, 2, 1, 0, size({8}), size({7, 10})}, 7, 10},
  };
  ASSERT_EQ(h.nic.partnerCount, 7);
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(expected[i].station + " " + expected[i].protoAddr);
    const Partner& p = h.partner(i);
    EXPECT_STREQ(p.record.station, expected[i].station.c_str());
    EXPECT_STREQ(p.record.protoAddr, expected[i].protoAddr.c_str());
    Totals t = totalsOf(p), e = expected[i].totals;
    EXPECT_EQ(t.framesSent, e.framesSent);
    EXPECT_EQ(t.framesReceived, e.framesReceived);
    EXPECT_EQ(t.broadcasts, e.broadcasts);
    EXPECT_EQ(t.errors, e.errors);
    EXPECT_EQ(t.bytesSent, e.bytesSent);
    EXPECT_EQ(t.bytesReceived, e.bytesReceived);
    EXPECT_EQ(p.record.firstSeen.get(), 1'700'000'000 + expected[i].firstSeen);
    EXPECT_EQ(p.record.lastSeen.get(), 1'700'000'000 + expected[i].lastSeen);
    bool isSelf = expected[i].station == self;
    EXPECT_EQ(p.record.self.get(), isSelf ? 1u : 0u);
    EXPECT_STREQ(p.record.roleLabel, isSelf ? "Self" : "");
    EXPECT_STREQ(p.record.hostName, isSelf ? "PC01" : "");
  }
  // IPv6 partners: no IPv4 address, the full address in the record.
  for (int i : {2, 3, 4, 5, 6}) {
    const PartnerRecord& r = h.partner(i).record;
    EXPECT_EQ(r.ipv4[0] | r.ipv4[1] | r.ipv4[2] | r.ipv4[3], 0);
    Ip6 full;
    std::memcpy(full.data(), r.ipv6, 16);
    EXPECT_EQ(full, ip6(expected[i].protoAddr.c_str()));
  }
  static constexpr uint8_t kZero[16] = {};
  for (int i : {0, 1}) EXPECT_EQ(std::memcmp(h.partner(i).record.ipv6, kZero, 16), 0);

  TrafficTotals g = h.global.totals.load();
  EXPECT_EQ(g.framesSent, 4u);       // 0, 2, 4, 8
  EXPECT_EQ(g.framesReceived, 5u);   // 1, 3, 6, 7, 10
  EXPECT_EQ(g.errorsSent, 1u);       // 5, a re-transmit
  EXPECT_EQ(g.broadcastsSent, 2u);   // 9, 12
  EXPECT_EQ(g.broadcastsReceived, 1u);  // 11: no partner for B's link-local address
  EXPECT_EQ(h.nic.counters.familyFrames[static_cast<int>(AddressFamily::Ipv4)].get(), 3u);
  EXPECT_EQ(h.nic.counters.familyFrames[static_cast<int>(AddressFamily::Ipv6)].get(), 10u);
  EXPECT_EQ(h.nic.counters.familyFrames[static_cast<int>(AddressFamily::Other)].get(), 0u);

  // The IPv6 connection is on the station's IPv6 partner's list, with 16-byte addresses.
  const PartnerRecord& selfV6 = h.partner(2).record;
  ASSERT_NE(selfV6.tcpList.get(), 0u);
  const TcpConnection& c = h.nic.tcp[selfV6.tcpList.get() - 1];
  EXPECT_EQ(std::memcmp(c.key, kStationGlobal.data(), 16), 0);
  EXPECT_EQ(c.key[16] << 8 | c.key[17], 50000);
  EXPECT_EQ(std::memcmp(c.key + 18, kPeerAGlobal.data(), 16), 0);
  EXPECT_EQ(c.key[34] << 8 | c.key[35], 443);
  EXPECT_EQ(c.next, 0u);
}

// Each IPv6 error against its IPv4 counterpart's kind.
TEST(Ipv6Accounting, ErrorKinds) {
  const Ip6 dns = ip6("2001:db8::53");
  Bytes query = ip6Frame(kPeerA, kStationMac, kStationGlobal, dns, 17, udp(3000, 53, dnsQuery(7, "host.lan")));
  Bytes other = ip6Frame(kPeerA, kStationMac, kStationGlobal, dns, 17, udp(3000, 53, dnsQuery(8, "other.lan")));
  auto fromA = [&](const Bytes& payload, uint8_t next) {
    return ip6Frame(kStationMac, kPeerA, kPeerAGlobal, kStationGlobal, next, payload);
  };
  struct Case {
    const char* what;
    Bytes frame;
    uint32_t advance;  // seconds before the frame
    ErrorKind kind;
  };
  const Bytes solicit = solicitationFrame(kStationMac, kStationLinkLocal, kPeerALinkLocal);
  const Bytes solicitOther = solicitationFrame(kStationMac, kStationLinkLocal, kPeerBLinkLocal);
  const Bytes advert = advertisementFrame(kStationMac, kPeerA, kPeerALinkLocal, kStationLinkLocal, kPeerALinkLocal);
  const Case cases[] = {
      {"reset", tcp6Frame(kStationMac, kPeerA, kPeerAGlobal, kStationGlobal, 443, 50000, 5, kRst | kAck, 0), 1, kTcpReset},
      {"first segment", tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50000, 443, 10, kAck, 50), 1, kNoError},
      {"segment repeated", tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50000, 443, 10, kAck, 50), 1, kTcpRetransmit},
      {"other port", tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50002, 443, 10, kAck, 50), 1, kNoError},
      {"bare ack", tcp6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, 50000, 443, 10, kAck, 0), 1, kNoError},
      {"dns query", query, 1, kNoError},
      {"dns query again", query, 299, kDnsRetransmit},
      {"dns query after the window", query, 300, kNoError},
      {"other dns query", other, 1, kNoError},
      {"unreachable", fromA(icmpv6(1), kIcmpv6), 1, kIcmpError},
      {"too big", fromA(icmpv6(2), kIcmpv6), 1, kIcmpError},
      {"time exceeded", fromA(icmpv6(3), kIcmpv6), 1, kIcmpError},
      {"parameter problem", fromA(icmpv6(4), kIcmpv6), 1, kIcmpError},
      {"echo request", fromA(icmpv6(128), kIcmpv6), 1, kNoError},
      {"router solicitation", fromA(icmpv6(133), kIcmpv6), 1, kNoError},
      {"solicitation", solicit, 1, kNoError},
      {"solicitation repeated", solicit, 1, kArpRetransmit},
      {"advertisement", advert, 1, kNoError},
      {"solicitation after the answer", solicit, 1, kNoError},
      {"solicitation after 300 s", solicit, 300, kNoError},
      {"another target", solicitOther, 1, kNoError},
      {"first target again", solicit, 1, kNoError},
      {"received solicitation", solicitationFrame(kPeerA, kPeerALinkLocal, kStationLinkLocal), 1, kNoError},
      {"received again", solicitationFrame(kPeerA, kPeerALinkLocal, kStationLinkLocal), 1, kNoError},
  };
  FilingHarness h;
  for (const Case& c : cases) {
    h.time += c.advance;
    EXPECT_EQ(h.file(c.frame).errorKind.get(), c.kind) << c.what;
  }
  EXPECT_EQ(h.nic.counters.errorKinds[kArpRetransmit].get(), 1u);
  EXPECT_EQ(h.nic.counters.errorKinds[kIcmpError].get(), 4u);
}

// IPv6 behind SNAP on Ethernet and Token Ring; fragments; the TCP check needs the first fragment.
TEST(Ipv6Accounting, EncapsulationsAndFragments) {
  Bytes packet = ipv6(17, kPeerAGlobal, kStationGlobal, udp(1, 2, Bytes(10, 0)));
  Bytes snap = FrameBuilder().u8(0xAA).u8(0xAA).u8(0x03).zeros(3).be16(0x86DD).bytes(packet).build();
  {
    FilingHarness h;
    EXPECT_STREQ(h.file(ieee8023(kStationMac, kPeerA, snap)).protoAddr, "2001:db8::5");
    EXPECT_GE(h.partnerIndex(hexStation(kStationMac, true), "2001:db8::10"), 0);
  }
  {
    FilingHarness h(1);
    Bytes frame = tokenRing(0x40, kStationMac, kPeerA, {0x82, 0x70}, snap);
    EXPECT_STREQ(h.file(frame).protoAddr, "2001:db8::5");
    EXPECT_EQ(h.partner(0).record.framesSent.get(), 1u);
  }
  {
    FilingHarness h;
    Bytes first = tcp(50000, 443, 10, kAck, 50);
    auto fragmentFrame = [&](uint16_t offset) {
      return ip6Frame(kPeerA, kStationMac, kStationGlobal, kPeerAGlobal, kFragmentHeader,
                      fragment6(6, offset, true, first));
    };
    EXPECT_EQ(h.file(fragmentFrame(0)).errorKind.get(), kNoError);
    EXPECT_EQ(h.file(fragmentFrame(0)).errorKind.get(), kTcpRetransmit);  // the header is read behind the fragment header
    EXPECT_EQ(h.file(fragmentFrame(185)).errorKind.get(), kNoError);      // a later piece: no TCP header
  }
}

TEST(Ipv6Accounting, TableLimitAndLongAddresses) {
  FilingHarness h;
  for (int n = 0; n < 501; ++n) {
    Ip6 peer = ip6("2001:db8:1234:5678:9abc:def0::");
    peer[14] = static_cast<uint8_t>(n >> 8);
    peer[15] = static_cast<uint8_t>(n + 1);
    h.file(ip6Frame(kStationMac, stationMac(n + 10), peer, kStationGlobal, 17, udp(1, 2, {})));
  }
  EXPECT_EQ(h.nic.partnerCount, kMaxPartners);
  EXPECT_EQ(h.nic.counters.unfiled.get(), 2u);  // the 500th and the 501st peer
  // Cut in the middle, start and end kept; the record has the whole address.
  const PartnerRecord& r = h.partner(0).record;
  EXPECT_STREQ(r.protoAddr, "2001:db8:1234:~9abc:def0:0:1");
  EXPECT_EQ(r.ipv6[15], 1);
}

}  // namespace
}  // namespace veltris::agent
