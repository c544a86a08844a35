// Link-layer handlers and the error checks, with frames crafted byte by byte.
#include "agent/capture/frame_handlers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/core/names.h"
#include "tests/support/console_capture.h"
#include "tests/support/filing_harness.h"

namespace veltris::agent {
namespace {

using namespace testing;

const Mac kServerMac = stationMac(1);
const Ip4 kServerIp = {192, 168, 1, 20};
const Ip4 kDnsIp = {192, 168, 1, 2};

std::string storedName(const NicArea& nic, const std::string& station, const char* protoAddr) {
  char out[33];
  lookupStationName(nic, station.c_str(), protoAddr, out, sizeof out);
  return std::string(out, strnlen(out, sizeof out));
}

// ARP requests this station sends: re-transmit only when unchanged within 300 s.
TEST(ArpRetransmit, WindowAndInterveningRequest) {
  FilingHarness h;
  Bytes a = arpRequestFrame(kStationMac, kStationIp, {192, 168, 1, 1});
  Bytes b = arpRequestFrame(kStationMac, kStationIp, {192, 168, 1, 99});
  EXPECT_EQ(h.file(a).errorKind.get(), kNoError);
  h.time += 299;
  PacketRecord again = h.file(a);
  EXPECT_EQ(again.errorKind.get(), kArpRetransmit);
  EXPECT_EQ(again.frameKind.get(), kErrorSent);
  h.time += 300;  // 300 s after the previous request
  EXPECT_EQ(h.file(a).errorKind.get(), kNoError);
  h.time += 1;
  EXPECT_EQ(h.file(b).errorKind.get(), kNoError);
  h.time += 1;
  EXPECT_EQ(h.file(a).errorKind.get(), kNoError);  // b replaced the stored copy
  h.time += 1;
  EXPECT_EQ(h.file(a).errorKind.get(), kArpRetransmit);

  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.errorsSent, 2u);
  EXPECT_EQ(t.broadcastsSent, 4u);
  EXPECT_EQ(h.nic.errorCount.load(), 2u);
}

TEST(ArpRetransmit, OnlyRequestsThisStationSends) {
  FilingHarness h;
  Bytes received = arpRequestFrame(kServerMac, kServerIp, kStationIp);
  h.file(received);
  EXPECT_EQ(h.file(received).errorKind.get(), kNoError);
  Bytes reply = ethernet(kServerMac, kStationMac, 0x0806, arp(2, kStationMac, kStationIp, kServerMac, kServerIp));
  h.file(reply);
  EXPECT_EQ(h.file(reply).errorKind.get(), kNoError);
  // ARP partners carry the sender's IP address.
  EXPECT_GE(h.partnerIndex(hexStation(kStationMac, true), "IP 192.168.1.10"), 0);
  EXPECT_GE(h.partnerIndex(hexStation(kServerMac), "IP 192.168.1.20"), 0);
}

TEST(DnsRetransmit, SameQueryWithinWindow) {
  FilingHarness h;
  auto query = [&](uint16_t id, const char* name) {
    return ipFrame(kServerMac, kStationMac, kStationIp, kDnsIp, 17, udp(3000, 53, dnsQuery(id, name)));
  };
  EXPECT_EQ(h.file(query(1, "a.example")).errorKind.get(), kNoError);
  h.time += 2;
  PacketRecord repeat = h.file(query(1, "a.example"));
  EXPECT_EQ(repeat.errorKind.get(), kDnsRetransmit);
  EXPECT_EQ(repeat.frameKind.get(), kErrorSent);
  h.time += 1;
  EXPECT_EQ(h.file(query(2, "b.example")).errorKind.get(), kNoError);
  EXPECT_EQ(h.file(query(1, "a.example")).errorKind.get(), kNoError);
  h.time += 300;
  EXPECT_EQ(h.file(query(1, "a.example")).errorKind.get(), kNoError);
  EXPECT_EQ(h.global.totals.load().errorsSent, 1u);
}

class TcpChecks : public ::testing::Test {
 protected:
  FilingHarness h;
  ErrorKind send(uint32_t sequence, uint8_t flags, size_t data, uint16_t fragment = 0) {
    Bytes segment = tcp(1025, 80, sequence, flags, data);
    Bytes frame = ethernet(kServerMac, kStationMac, 0x0800, ipv4(6, kStationIp, kServerIp, segment, fragment));
    return static_cast<ErrorKind>(h.file(frame).errorKind.get());
  }
};

TEST_F(TcpChecks, ResetWhateverItsData) {
  EXPECT_EQ(send(1, kRst, 0), kTcpReset);
  EXPECT_EQ(send(1, kRst | kAck, 20), kTcpReset);
  EXPECT_EQ(h.nic.tcpCount, 0);
}

TEST_F(TcpChecks, SecondSynIsRetransmit) {
  EXPECT_EQ(send(1000, kSyn, 0), kNoError);
  EXPECT_EQ(h.nic.tcpCount, 1);
  EXPECT_EQ(send(1000, kSyn, 0), kTcpRetransmit);
  EXPECT_EQ(h.nic.tcpCount, 1);
}

TEST_F(TcpChecks, EmptySegmentsWithoutSynAreNeverChecked) {
  EXPECT_EQ(send(500, kAck, 0), kNoError);
  EXPECT_EQ(send(500, kAck, 0), kNoError);
  EXPECT_EQ(send(400, kAck | kFin, 0), kNoError);
  EXPECT_EQ(h.nic.tcpCount, 0);
}

TEST_F(TcpChecks, DataAtOrBelowLastSequence) {
  EXPECT_EQ(send(100, kAck | kPsh, 10), kNoError);
  EXPECT_EQ(send(110, kAck | kPsh, 10), kNoError);
  EXPECT_EQ(send(110, kAck | kPsh, 10), kTcpRetransmit);
  EXPECT_EQ(send(50, kAck | kPsh, 10), kTcpRetransmit);
  EXPECT_EQ(send(60, kAck | kPsh, 10), kNoError);  // above the last one stored (50)
}

TEST_F(TcpChecks, LaterFragmentsAreNotChecked) {
  EXPECT_EQ(send(1, kRst, 0, 0x0010), kNoError);
  EXPECT_EQ(send(1, kRst, 0, 0x4000), kTcpReset);  // don't-fragment bit alone
}

TEST(IcmpChecks, ErrorTypes) {
  FilingHarness h;
  auto kind = [&](uint8_t type) {
    return h.file(ipFrame(kStationMac, kServerMac, kServerIp, kStationIp, 1, icmp(type))).errorKind.get();
  };
  for (uint8_t type : {0, 8, 9, 13}) EXPECT_EQ(kind(type), kNoError) << int(type);
  for (uint8_t type : {3, 4, 5, 11, 12}) EXPECT_EQ(kind(type), kIcmpError) << int(type);
  EXPECT_EQ(h.global.totals.load().errorsReceived, 5u);
  EXPECT_EQ(h.global.totals.load().framesReceived, 4u);
}

TEST(LlcHandler, ControlsAndProtocolWords) {
  FilingHarness h;
  auto file = [&](uint8_t dsap, uint8_t ssap, uint8_t control) {
    return h.file(ieee8023(kStationMac, kServerMac, llc(dsap, ssap, control, Bytes(40, 0))));
  };
  PacketRecord rnr = file(0xF0, 0xF0, 0x05);
  EXPECT_EQ(rnr.errorKind.get(), kLlcError);
  EXPECT_EQ(rnr.frameKind.get(), kErrorReceived);
  EXPECT_STREQ(rnr.protoAddr, "NetBEUI");
  EXPECT_EQ(file(0xF0, 0xF0, 0x01).errorKind.get(), kNoError);
  for (uint8_t control : {0x09, 0x87, 0x97}) EXPECT_EQ(file(0xF0, 0xF0, control).errorKind.get(), kLlcError);
  EXPECT_STREQ(file(0x04, 0x04, 0x03).protoAddr, "SNA");
  EXPECT_STREQ(file(0x42, 0x08, 0x03).protoAddr, "SNA");
  EXPECT_STREQ(file(0x42, 0x42, 0x03).protoAddr, "<misc>");
  const Partner& server = h.partner(h.partnerIndex(hexStation(kServerMac), "NetBEUI"));
  EXPECT_EQ(server.record.errors.get(), 4u);
  EXPECT_EQ(server.record.framesSent.get(), 1u);
}

TEST(LlcHandler, SnapAndIpxFraming) {
  FilingHarness h;
  Bytes snapIp = FrameBuilder().u8(0xAA).u8(0xAA).u8(0x03).zeros(3).be16(0x0800)
                     .bytes(ipv4(17, kServerIp, kStationIp, udp(1, 2, {}))).build();
  PacketRecord e = h.file(ieee8023(kStationMac, kServerMac, snapIp));
  EXPECT_STREQ(e.protoAddr, "IP 192.168.1.20");
  EXPECT_EQ(e.frameKind.get(), kSessionReceived);

  Bytes snapArp = FrameBuilder().u8(0xAA).u8(0xAA).u8(0x03).zeros(3).be16(0x0806)
                      .bytes(arp(1, kServerMac, {192, 168, 1, 21}, Mac{}, kStationIp)).build();
  EXPECT_STREQ(h.file(ieee8023(kStationMac, kServerMac, snapArp)).protoAddr, "IP 192.168.1.21");

  // IPX header: checksum, length, hops, type, destination net/node/socket, source net/node/socket.
  Bytes ipxHeader = FrameBuilder().be16(0xFFFF).be16(30).u8(0).u8(4)
                        .be32(0x0000ABCD).mac(kStationMac).be16(0x0452)
                        .be32(0x0000ABCD).mac(kServerMac).be16(0x0452).build();
  EXPECT_STREQ(h.file(ieee8023(kStationMac, kServerMac, ipxHeader)).protoAddr, "IPX 0000ABCD:020000000001");
  Bytes ipxLlc = FrameBuilder().u8(0xE0).u8(0xE0).u8(0x03).bytes(ipxHeader).build();
  EXPECT_STREQ(h.file(ieee8023(kStationMac, kServerMac, ipxLlc)).protoAddr, "IPX 0000ABCD:020000000001");
  EXPECT_STREQ(h.file(ethernet(kStationMac, kServerMac, 0x8137, ipxHeader)).protoAddr, "IPX 0000ABCD:020000000001");
  EXPECT_STREQ(h.file(ethernet(kStationMac, kServerMac, 0x809B, Bytes(30, 1))).protoAddr, "Appletalk");
  EXPECT_STREQ(h.file(ethernet(kStationMac, kServerMac, 0x88CC, Bytes(40, 1))).protoAddr, "<misc>");
  EXPECT_EQ(h.partner(h.partnerIndex("*006008112233", "IPX 0000ABCD:006008112233")).record.framesReceived.get(), 3u);
}

TEST(NetbiosNames, FramesCommandsOnBroadcasts) {
  FilingHarness h;
  const Mac netbiosGroup = {0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  auto announce = [&](const Mac& from, uint8_t command, size_t nameOffset, const char* name, uint8_t type) {
    Bytes l = llc(0xF0, 0xF0, 0x03, netbiosFrames(command, nameOffset, name, type));
    h.file(ieee8023(netbiosGroup, from, l));
  };
  announce(stationMac(11), 0x01, 12, "ALPHA", 0x00);   // name at 15, type at 30
  announce(stationMac(12), 0x01, 12, "BRAVO", 0x03);   // wrong name type: ignored
  announce(stationMac(13), 0x0A, 28, "CHARLIE", 0x1B); // name at 31, byte 30 zero
  announce(stationMac(14), 0x08, 28, "DELTA", 0x1B);
  announce(stationMac(15), 0x02, 12, "ECHO", 0x00);    // other commands carry no name
  EXPECT_EQ(storedName(h.nic, hexStation(stationMac(11)), "NetBEUI"), "ALPHA          ");
  EXPECT_EQ(storedName(h.nic, hexStation(stationMac(12)), "NetBEUI"), "");
  EXPECT_EQ(storedName(h.nic, hexStation(stationMac(13)), "NetBEUI"), "CHARLIE        ");
  EXPECT_EQ(storedName(h.nic, hexStation(stationMac(14)), "NetBEUI"), "DELTA          ");
  EXPECT_EQ(storedName(h.nic, hexStation(stationMac(15)), "NetBEUI"), "");
  EXPECT_EQ(h.global.totals.load().broadcastsReceived, 5u);
}

TEST(NetbiosNames, DatagramNameTypes) {
  FilingHarness h;
  auto datagram = [&](int n, const char* name, uint8_t type, uint16_t port) {
    Ip4 ip = stationIp(n);
    h.file(ipFrame(kBroadcastMac, stationMac(n), ip, {10, 255, 255, 255}, 17, udp(port, 138, netbiosDatagram(name, type, ip))));
    return storedName(h.nic, hexStation(stationMac(n)), ("IP 10.0.0." + std::to_string(n)).c_str());
  };
  EXPECT_EQ(datagram(1, "WKS1", 0x00, 138), "WKS1");
  EXPECT_EQ(datagram(2, "WKS2", 0x20, 138), "WKS2");
  EXPECT_EQ(datagram(3, "WKS3", 0x1D, 138), "");
  EXPECT_EQ(datagram(4, "WKS4", 0x00, 137), "");
}

TEST(TokenRing, MacFramesAreStoredWithoutStatistics) {
  FilingHarness h(1);
  PacketRecord e = h.file(tokenRing(0x01, kStationMac, kServerMac, {}, Bytes(20, 0x11)));
  EXPECT_EQ(e.complete, 1);
  EXPECT_EQ(e.frameKind.get(), 0u);
  EXPECT_EQ(e.partner.get(), 0u);
  EXPECT_EQ(e.station[0], 0);
  EXPECT_EQ(h.nic.partnerCount, 0);
  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.sequence, 1u);
  EXPECT_EQ(t.framesReceived + t.broadcastsReceived + t.errorsReceived + t.lastReceived, 0u);
}

TEST(TokenRing, RoutingInformationAndGroupAddress) {
  FilingHarness h(1);
  Bytes routing = {0x86, 0x30, 0x01, 0x10, 0x02, 0x20};  // 6 bytes
  Bytes data = llc(0xAA, 0xAA, 0x03, FrameBuilder().zeros(3).be16(0x0800).bytes(ipv4(17, kServerIp, kStationIp, udp(1, 2, {}))).build());
  PacketRecord e = h.file(tokenRing(0x40, kStationMac, kServerMac, routing, data));
  EXPECT_STREQ(e.station, "020000000001");  // routing indicator bit cleared
  EXPECT_STREQ(e.protoAddr, "IP 192.168.1.20");
  EXPECT_EQ(e.frameKind.get(), kSessionReceived);

  const Mac trBroadcast = {0xC0, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  PacketRecord b = h.file(tokenRing(0x40, trBroadcast, kServerMac, {}, llc(0xF0, 0xF0, 0x03, Bytes(40, 0))));
  EXPECT_EQ(b.frameKind.get(), kBroadcastReceived);
  PacketRecord sent = h.file(tokenRing(0x40, kServerMac, kStationMac, {}, llc(0xF0, 0xF0, 0x03, Bytes(40, 0))));
  EXPECT_EQ(sent.frameKind.get(), kSessionSent);
}

TEST(TokenRing, UnexpectedFrameTypeIsReported) {
  FilingHarness h(1);
  veltris::agent::testing::ConsoleCapture captured;
  PacketRecord e = h.file(tokenRing(0xC1, kStationMac, kServerMac, {}, llc(0xF0, 0xF0, 0x03)));
  EXPECT_EQ(captured.take(), "WARNING: Unexpected Frame Type xC0\n");
  EXPECT_EQ(e.partner.get(), 0u);
  EXPECT_EQ(h.nic.partnerCount, 0);
}

TEST(WanLink, FirstFrameFromOtherAddressTeachesStation) {
  FilingHarness h(0, true);
  Mac recv;
  std::memcpy(recv.data(), capture::kRecvMarker.data(), 6);
  // A frame from the remote side first: not sent, nothing learnt.
  h.file(ipFrame(recv, recv, {8, 8, 8, 8}, {100, 64, 0, 5}, 17, udp(53, 3000, {})));
  EXPECT_EQ(h.global.totals.load().framesReceived, 1u);
  const Mac own = {0x00, 0x53, 0x45, 0x00, 0x00, 0x07};
  PacketRecord e = h.file(ipFrame(recv, own, {100, 64, 0, 5}, {8, 8, 8, 8}, 17, udp(3000, 53, dnsQuery(1, "x"))));
  EXPECT_EQ(e.frameKind.get(), kSessionSent);
  EXPECT_EQ(0, std::memcmp(h.nic.station, own.data(), 6));
  EXPECT_STREQ(e.station, "*LOCAL_MODEM");
  PacketRecord next = h.file(ipFrame(recv, own, {100, 64, 0, 5}, {8, 8, 8, 8}, 17, udp(3000, 53, dnsQuery(2, "y"))));
  EXPECT_EQ(next.frameKind.get(), kSessionSent);
  EXPECT_EQ(h.global.totals.load().framesSent, 2u);
}

}  // namespace
}  // namespace veltris::agent
