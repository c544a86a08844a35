// Record frame and partner lookup: partners, counters, rings, tables.
#include "agent/core/statistics.h"

#include <gtest/gtest.h>

#include <cstring>

#include "agent/core/names.h"
#include "tests/support/filing_harness.h"

namespace veltris::agent {
namespace {

using namespace testing;

const Mac kServerMac = stationMac(1);
const Ip4 kServerIp = {10, 0, 0, 1};

Bytes sentTcp(uint16_t srcPort, uint32_t sequence, uint8_t flags, size_t data) {
  return tcpFrame(kServerMac, kStationMac, kStationIp, kServerIp, srcPort, 80, sequence, flags, data);
}

TEST(PartnerTable, FirstSentIpFrameMakesSelfPartnerAndDestination) {
  FilingHarness h;
  Bytes frame = sentTcp(1025, 100, kPsh | kAck, 10);
  PacketRecord e = h.file(frame);

  ASSERT_EQ(h.nic.partnerCount, 2);
  const PartnerRecord& self = h.partner(0).record;
  EXPECT_STREQ(self.station, "*006008112233");
  EXPECT_STREQ(self.protoAddr, "IP 192.168.1.10");
  EXPECT_EQ(self.self.get(), 1u);
  EXPECT_STREQ(self.roleLabel, "Self");
  EXPECT_STREQ(self.hostName, "PC01");
  EXPECT_EQ(self.framesSent.get(), 1u);
  EXPECT_EQ(h.partner(0).bytesSent, frame.size());
  EXPECT_EQ(self.firstSeen.get(), h.time);
  EXPECT_EQ(self.owner.get(), 1u);

  const PartnerRecord& server = h.partner(1).record;
  EXPECT_STREQ(server.station, "020000000001");
  EXPECT_STREQ(server.protoAddr, "IP 10.0.0.1");
  EXPECT_EQ(server.self.get(), 0u);
  EXPECT_EQ(server.framesReceived.get(), 1u);
  EXPECT_EQ(h.partner(1).bytesReceived, frame.size());
  EXPECT_EQ(0, std::memcmp(server.ipv4, kServerIp.data(), 4));

  EXPECT_EQ(e.complete, 1);
  EXPECT_EQ(e.sequence.get(), 1u);
  EXPECT_EQ(e.partner.get(), 1u);
  EXPECT_EQ(e.frameKind.get(), kSessionSent);
  EXPECT_STREQ(e.station, "*006008112233");
  EXPECT_STREQ(e.protoAddr, "IP 192.168.1.10");

  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.framesSent, 1u);
  EXPECT_EQ(t.bytesSent, frame.size());
  EXPECT_EQ(t.lastSent, h.time);
  EXPECT_EQ(t.lastSessionSent, h.time);
  EXPECT_EQ(t.framesReceived, 0u);
}

TEST(PartnerTable, ReceivedBroadcastMakesNoPartnerButItsNameWaitsForOne) {
  FilingHarness h;
  const Mac peer = stationMac(7);
  const Ip4 peerIp = {192, 168, 1, 77};
  Bytes announce = ipFrame(kBroadcastMac, peer, peerIp, {192, 168, 1, 255}, 17,
                           udp(138, 138, netbiosDatagram("FILESERVER", 0x20, peerIp)));
  PacketRecord e = h.file(announce);

  EXPECT_EQ(h.nic.partnerCount, 0);
  EXPECT_EQ(e.partner.get(), 0u);
  EXPECT_EQ(e.frameKind.get(), kBroadcastReceived);
  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.broadcastsReceived, 1u);
  EXPECT_EQ(t.bytesReceived, 0u);
  EXPECT_EQ(t.lastBroadcastReceived, h.time);

  BroadcastRecord b{};
  ASSERT_TRUE(h.nic.broadcasts.read(0, b));
  EXPECT_EQ(h.nic.broadcastCount.load(), 1u);
  EXPECT_STREQ(b.station, "020000000007");
  EXPECT_STREQ(b.protoAddr, "IP 192.168.1.77");
  EXPECT_EQ(b.ipDestination[3], 255);
  EXPECT_EQ(0, std::memcmp(b.frame, announce.data(), announce.size()));

  char name[33];
  lookupStationName(h.nic, "020000000007", "IP 192.168.1.77", name, sizeof name);
  EXPECT_STREQ(name, "FILESERVER");

  h.file(ipFrame(kStationMac, peer, peerIp, kStationIp, 17, udp(1000, 2000, {})));
  int p = h.partnerIndex("020000000007", "IP 192.168.1.77");
  ASSERT_GE(p, 0);
  EXPECT_STREQ(h.partner(p).record.hostName, "FILESERVER");
}

TEST(PartnerTable, BroadcastFromKnownPartnerNamesIt) {
  FilingHarness h;
  const Mac peer = stationMac(8);
  const Ip4 peerIp = {192, 168, 1, 78};
  h.file(ipFrame(kStationMac, peer, peerIp, kStationIp, 17, udp(1000, 2000, {})));
  h.file(ipFrame(kBroadcastMac, peer, peerIp, {192, 168, 1, 255}, 17,
                 udp(138, 138, netbiosDatagram("PRINTSRV", 0x00, peerIp))));
  int p = h.partnerIndex("020000000008", "IP 192.168.1.78");
  ASSERT_GE(p, 0);
  EXPECT_STREQ(h.partner(p).record.hostName, "PRINTSRV");
  EXPECT_EQ(h.partner(p).record.broadcasts.get(), 1u);
}

TEST(PartnerTable, SentBroadcastCountsForSelf) {
  FilingHarness h;
  PacketRecord e = h.file(arpRequestFrame(kStationMac, kStationIp, {192, 168, 1, 1}));
  ASSERT_EQ(h.nic.partnerCount, 1);
  EXPECT_EQ(h.partner(0).record.broadcasts.get(), 1u);
  EXPECT_EQ(e.frameKind.get(), kBroadcastSent);
  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.broadcastsSent, 1u);
  EXPECT_EQ(t.lastBroadcastSent, h.time);
  EXPECT_EQ(t.lastSent, h.time);
}

TEST(PartnerTable, FiveHundredFirstPartnerIsNotMade) {
  FilingHarness h;
  for (int i = 1; i <= 499; ++i)
    h.file(ipFrame(kStationMac, stationMac(i), stationIp(i), kStationIp, 17, udp(1, 2, {})));
  ASSERT_EQ(h.nic.partnerCount, 500);  // 499 senders and this PC
  TrafficTotals before = h.global.totals.load();

  PacketRecord e = h.file(ipFrame(kStationMac, stationMac(600), stationIp(600), kStationIp, 17, udp(1, 2, {})));
  EXPECT_EQ(h.nic.partnerCount, 500);
  EXPECT_EQ(e.partner.get(), 0u);
  EXPECT_EQ(e.frameKind.get(), 0u);
  EXPECT_STREQ(e.station, "020000000258");
  TrafficTotals after = h.global.totals.load();
  EXPECT_EQ(after.framesReceived, before.framesReceived);
  EXPECT_EQ(after.bytesReceived, before.bytesReceived);
  EXPECT_EQ(after.sequence, before.sequence + 1);
  EXPECT_EQ(h.partner(h.partnerIndex("*006008112233", "IP 192.168.1.10")).record.framesReceived.get(), 499u);
}

TEST(PartnerTable, ErrorFrameCountsOnlyAsSourceError) {
  FilingHarness h;
  h.file(tcpFrame(kStationMac, kServerMac, kServerIp, kStationIp, 80, 1025, 5, kRst | kAck, 0));
  ASSERT_EQ(h.nic.partnerCount, 1);  // no destination partner for an error frame
  const PartnerRecord& server = h.partner(0).record;
  EXPECT_EQ(server.errors.get(), 1u);
  EXPECT_EQ(server.framesSent.get(), 0u);
  EXPECT_EQ(h.partner(0).bytesSent, 0u);
  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.errorsReceived, 1u);
  EXPECT_EQ(t.framesReceived, 0u);
  EXPECT_EQ(t.lastSessionReceived, h.time);
}

TEST(PartnerTable, NewPartnerTakesDnsNameAndRole) {
  FilingHarness h;
  const Ip4 dnsServer = {192, 168, 1, 2};
  const Ip4 web = {93, 184, 216, 34};
  uint32_t gw;
  std::memcpy(&gw, kServerIp.data(), 4);
  h.nic.addresses.gateways[0] = gw;
  std::memcpy(&h.nic.addresses.dns[0], dnsServer.data(), 4);

  h.file(ipFrame(kStationMac, stationMac(2), dnsServer, kStationIp, 17, udp(53, 3000, dnsReplyA(1, "www.example.com", web))));
  int dns = h.partnerIndex("020000000002", "IP 192.168.1.2");
  ASSERT_GE(dns, 0);
  EXPECT_STREQ(h.partner(dns).record.roleLabel, "DNS");

  h.file(tcpFrame(kStationMac, kServerMac, web, kStationIp, 80, 1025, 1, kAck | kPsh, 20));
  int site = h.partnerIndex("020000000001", "IP 93.184.216.34");
  ASSERT_GE(site, 0);
  EXPECT_STREQ(h.partner(site).record.hostName, "www.example.com");
  EXPECT_STREQ(h.partner(site).record.roleLabel, "");

  h.file(tcpFrame(kStationMac, kServerMac, kServerIp, kStationIp, 80, 1025, 1, kAck | kPsh, 20));
  EXPECT_STREQ(h.partner(h.partnerIndex("020000000001", "IP 10.0.0.1")).record.roleLabel, "GW");
}

TEST(FrameLength, WireLengthCountsBeyondStoredBytes) {
  FilingHarness h;
  Bytes frame = sentTcp(1025, 1, kAck | kPsh, 1460);  // 1514 bytes
  ASSERT_EQ(frame.size(), 1514u);
  PacketRecord e = h.file(frame);
  EXPECT_EQ(e.length.get(), 1514u);
  EXPECT_EQ(0, std::memcmp(e.frame, frame.data(), 256));
  EXPECT_EQ(h.global.totals.load().bytesSent, 1514u);
  EXPECT_EQ(h.partner(0).bytesSent, 1514u);
  EXPECT_FLOAT_EQ(copyPartners(h.nic)[1].bytesReceived.get(), 1514.0f);
}

TEST(FrameLength, ShortFrameIsZeroFilled) {
  FilingHarness h;
  Bytes frame = sentTcp(1025, 1, kAck | kPsh, 6);
  ASSERT_EQ(frame.size(), 60u);
  PacketRecord e = h.file(frame);
  EXPECT_EQ(e.length.get(), 60u);
  for (int i = 60; i < 256; ++i) ASSERT_EQ(e.frame[i], 0) << i;
}

TEST(TcpTable, ThousandFirstConnectionEmptiesTable) {
  FilingHarness h;
  for (int i = 0; i < 1000; ++i) h.file(sentTcp(static_cast<uint16_t>(2000 + i), 1, kSyn, 0));
  ASSERT_EQ(h.nic.tcpCount, 1000);
  EXPECT_NE(h.partner(0).record.tcpList.get(), 0u);

  h.file(sentTcp(4000, 1, kSyn, 0));
  EXPECT_EQ(h.nic.tcpCount, 0);
  for (int i = 0; i < h.nic.partnerCount; ++i) EXPECT_EQ(h.partner(i).record.tcpList.get(), 0u);

  // The first connection is new again: no re-transmit, and it is added.
  PacketRecord e = h.file(sentTcp(2000, 1, kSyn, 0));
  EXPECT_EQ(e.errorKind.get(), kNoError);
  EXPECT_EQ(h.nic.tcpCount, 1);
  EXPECT_EQ(h.partner(0).record.tcpList.get(), 1u);
}

TEST(TcpTable, ListsChainInOrderOfArrival) {
  FilingHarness h;
  h.file(sentTcp(2000, 1, kSyn, 0));
  h.file(tcpFrame(kStationMac, kServerMac, kServerIp, kStationIp, 80, 2000, 9, kSyn | kAck, 0));
  h.file(sentTcp(2001, 1, kSyn, 0));
  const PartnerRecord& self = h.partner(0).record;
  ASSERT_EQ(self.tcpList.get(), 1u);
  EXPECT_EQ(h.nic.tcp[0].next, 3u);
  EXPECT_EQ(h.nic.tcp[2].next, 0u);
  EXPECT_EQ(h.partner(1).record.tcpList.get(), 2u);
  EXPECT_EQ(h.nic.tcp[2].key[5], 2001 & 0xFF);
}

TEST(Reset, EmptiesPartnersButKeepsConnectionTable) {
  FilingHarness h;
  h.file(sentTcp(2000, 10, kSyn, 0));
  ASSERT_EQ(h.nic.tcpCount, 1);
  resetPartnerTable(h.global, h.nic);
  EXPECT_EQ(h.nic.partnerCount, 0);
  EXPECT_EQ(h.global.totals.load().resetCount, 1u);
  EXPECT_TRUE(copyPartners(h.nic).empty());

  // Same SYN again: the new self partner has an empty list, so it is no re-transmit.
  PacketRecord e = h.file(sentTcp(2000, 10, kSyn, 0));
  EXPECT_EQ(e.errorKind.get(), kNoError);
  EXPECT_EQ(h.nic.tcpCount, 2);
  EXPECT_EQ(h.nic.partnerCount, 2);
  EXPECT_EQ(h.partner(0).record.framesSent.get(), 1u);
  EXPECT_EQ(h.partner(0).record.tcpList.get(), 2u);
}

TEST(Reset, ResetWithoutTheIndexIsNoticed) {
  FilingHarness h;
  h.file(sentTcp(2000, 10, kSyn, 0));
  {
    std::lock_guard lock(h.nic.tableMutex);
    h.nic.partnerCount = 0;  // a writer that only drops the count
  }
  h.file(sentTcp(2000, 10, kSyn, 0));
  EXPECT_EQ(h.nic.partnerCount, 2);
  EXPECT_EQ(h.partner(0).record.framesSent.get(), 1u);
}

TEST(Rings, PacketRingWrapsAfterThreeHundred) {
  FilingHarness h;
  for (int i = 0; i < 301; ++i) h.file(sentTcp(2000, static_cast<uint32_t>(i + 1), kAck | kPsh, 1));
  PacketRecord e{};
  ASSERT_TRUE(h.nic.packets.read(0, e));
  EXPECT_EQ(e.sequence.get(), 301u);
  ASSERT_TRUE(h.nic.packets.read(299, e));
  EXPECT_EQ(e.sequence.get(), 300u);
  EXPECT_EQ(h.nic.readsCompleted.load(), 301u);
}

TEST(Rings, ErrorRingWrapsAfterHundred) {
  FilingHarness h;
  for (int i = 0; i < 101; ++i) h.file(sentTcp(2000, 1, kRst, 0));
  EXPECT_EQ(h.nic.errorCount.load(), 101u);
  PacketRecord e{};
  ASSERT_TRUE(h.nic.errors.read(0, e));
  EXPECT_EQ(e.sequence.get(), 101u);
  EXPECT_EQ(e.errorKind.get(), kTcpReset);
  EXPECT_EQ(e.complete, 1);
  ASSERT_TRUE(h.nic.errors.read(1, e));
  EXPECT_EQ(e.sequence.get(), 2u);
}

TEST(Rings, BroadcastRingWrapsAfterFortyFiveHundred) {
  FilingHarness h;
  for (int i = 0; i < 4501; ++i) h.file(arpRequestFrame(stationMac(3), stationIp(3), {10, 0, 0, static_cast<uint8_t>(i)}));
  EXPECT_EQ(h.nic.broadcastCount.load(), 4501u);
  EXPECT_EQ(h.nic.broadcastIndex.load(), 0u);
  BroadcastRecord b{};
  ASSERT_TRUE(h.nic.broadcasts.read(0, b));
  EXPECT_EQ(b.sequence.get(), 4501u);
  EXPECT_EQ(b.ipDestination[0], 0);  // ARP carries no IP header
}

// A ring entry put together from the record's fields and the stored frame
// bytes equals the whole record, zeros past the stored bytes, whatever the
// slot held before; both entry layouts, every boundary of the 8-byte words.
template <typename Record, size_t Capacity>
void expectEntriesFromParts(size_t frameOffset) {
  auto ring = std::make_unique<SeqRing<Record, Capacity>>();
  uint8_t frame[kStoredFrameBytes];
  for (size_t i = 0; i < sizeof frame; ++i) frame[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t stored : {0, 1, 2, 5, 6, 7, 8, 9, 10, 15, 16, 17, 60, 185, 186, 187, 250, 255, 256}) {
    SCOPED_TRACE(stored);
    Record fields;
    std::memset(&fields, 0xA5, sizeof fields);
    Record full;
    std::memset(&full, 0xFF, sizeof full);
    ring->publish(3, full);  // a previous entry with every byte set
    std::memcpy(&full, &fields, frameOffset);
    std::memset(reinterpret_cast<uint8_t*>(&full) + frameOffset, 0, kStoredFrameBytes);
    std::memcpy(reinterpret_cast<uint8_t*>(&full) + frameOffset, frame, stored);
    ring->publish(3, fields, frameOffset, frame, stored);
    Record read;
    ASSERT_TRUE(ring->read(3, read));
    EXPECT_EQ(std::memcmp(&read, &full, sizeof full), 0);
  }
}

TEST(Rings, EntriesFromFieldsAndFrameBytes) {
  expectEntriesFromParts<PacketRecord, kPacketRingSize>(offsetof(PacketRecord, frame));
  expectEntriesFromParts<BroadcastRecord, kBroadcastRingSize>(offsetof(BroadcastRecord, frame));
}

TEST(WanLink, ModemTexts) {
  FilingHarness h(0, true);
  Mac send, recv;
  std::memcpy(send.data(), capture::kSendMarker.data(), 6);
  std::memcpy(recv.data(), capture::kRecvMarker.data(), 6);
  h.file(ipFrame(recv, send, {100, 64, 0, 5}, {8, 8, 8, 8}, 17, udp(5000, 53, dnsQuery(1, "example.com"))));
  ASSERT_EQ(h.nic.partnerCount, 2);
  EXPECT_STREQ(h.partner(0).record.station, "*LOCAL_MODEM");
  EXPECT_EQ(h.partner(0).record.self.get(), 1u);
  EXPECT_STREQ(h.partner(1).record.station, "REMOTE_MODEM");
  EXPECT_STREQ(h.partner(1).record.protoAddr, "IP 8.8.8.8");
}

}  // namespace
}  // namespace veltris::agent
