// Ethernet, 802.3 LLC, SNAP and Token Ring framing.
#include <gtest/gtest.h>

#include "agent/decode/tests/test_frames.h"
#include "tests/support/console_capture.h"

namespace veltris::agent::decode::test {
namespace {

constexpr const char* kPeer = "00-60-08-AB-CD-EF";

Frame llcFrame(uint8_t dsap, uint8_t ssap, std::initializer_list<int> control) {
  Frame f = ieee8023(kPeer);
  f.u8(dsap).u8(ssap).bytes(control);
  return f;
}

TEST(Ethernet, DestinationIsTwelveHexDigits) {
  Frame f = ethernet("00-60-08-ab-cd-ef", 0x9000);
  Decoded d = decode(f);
  EXPECT_EQ(d.destination, "006008ABCDEF");
  EXPECT_EQ(d.description, "TYPE 9000");
  EXPECT_EQ(d.protocol, "") << "unknown types leave the protocol untouched";
  // The rest of the destination keeps the caller's blanks.
  EXPECT_EQ(d.record.destination[13], ' ');
}

TEST(Ethernet, LengthOf1500IsIeee8023And1501IsAType) {
  Frame at1500 = ieee8023(kPeer, 1500);
  at1500.bytes({0x42, 0x42, 0x03});
  EXPECT_EQ(decode(at1500).description, "Spanning Tree BPDU LLC 42/42 UI");

  Frame at1501 = ethernet(kPeer, 1501);
  at1501.bytes({0x42, 0x42, 0x03});
  EXPECT_EQ(decode(at1501).description, "TYPE 05DD");
}

TEST(Ethernet, NamedTypes) {
  for (uint16_t type : {0x80F3, 0x809B}) {
    Decoded d = decode(ethernet(kPeer, type));
    EXPECT_EQ(d.description, "Appletalk");
    EXPECT_EQ(d.protocol, "Appletalk");
  }
  Decoded lcp = decode(ethernet(kPeer, 0xC021));
  EXPECT_EQ(lcp.description, "LCP");
  EXPECT_EQ(lcp.protocol, "LCP");
  Decoded ipcp = decode(ethernet(kPeer, 0x8021));
  EXPECT_EQ(ipcp.description, "IPCP");
  EXPECT_EQ(ipcp.protocol, "IPCP");
}

TEST(Ethernet, ArpForAnotherProtocolIsAnUnknownType) {
  Frame f = ethernet("FF-FF-FF-FF-FF-FF", 0x0806);
  f.be16(1).be16(0x809B).u8(6).u8(4).be16(1).zeros(20);
  Decoded d = decode(f);
  EXPECT_EQ(d.description, "TYPE 0806");
  EXPECT_EQ(d.protocol, "");
}

TEST(Ethernet, NetbiosMulticastBypassesLlcNames) {
  Frame f = ieee8023("03-00-00-00-00-01");
  f.bytes({0xF0, 0xF0, 0x03});                      // LLC UI
  f.le16(44).bytes({0xFF, 0xEF}).u8(0x0A).zeros(7);  // NetBIOS header to byte 11
  f.plainName("SERVER1", 0x20).plainName("PC7", 0x00);
  Decoded d = decode(f);
  EXPECT_EQ(d.destination, "030000000001");
  EXPECT_EQ(d.description, "NetBEUI Name Query Dest=SERVER1<20> Src=PC7<00>");
  EXPECT_EQ(d.protocol, "NetBeui,     Looking for SERVER1");
}

TEST(Ethernet, NetbiosAddressWithoutGroupBitIsPlainLlc) {
  Frame f = ieee8023("02-00-00-00-00-01");
  f.bytes({0xF0, 0xF0, 0x03});
  EXPECT_EQ(decode(f).description, "NetBEUI LLC F0/F0 UI");
}

TEST(Llc, RawIeee8023IpxGoesToIpx) {
  Frame f = ieee8023("FF-FF-FF-FF-FF-FF");
  f.be16(0xFFFF).be16(30).u8(0).u8(4).hex("00000000 FFFFFFFFFFFF").be16(0x0455);
  f.hex("00000001 00A024112233").be16(0x4003);
  Decoded d = decode(f);
  EXPECT_EQ(d.destination, "00000000:FFFFFFFFFFFF");
  EXPECT_EQ(d.description, "IPX DestSocket=1109 SrcSocket=16387 (NetWare)");
  EXPECT_EQ(d.protocol, "IPX (NetWare)");
}

TEST(Llc, IpxOverLlcSkipsTheLlcHeader) {
  Frame f = ieee8023("FF-FF-FF-FF-FF-FF");
  f.bytes({0xE0, 0xE0, 0x03}).be16(0xFFFF).be16(34).u8(0).u8(4);
  f.hex("00000000 FFFFFFFFFFFF").be16(0x0452).hex("00000001 00A024112233").be16(0x4000).be16(3);
  Decoded d = decode(f);
  EXPECT_EQ(d.description, "IPX SAP Nearest Service Query (NetWare)");
  EXPECT_EQ(d.protocol, "IPX SAP Nearest Service Query (NetWare)");
}

TEST(Llc, SnapCarriesIpArpAndOtherTypes) {
  Frame ip = ieee8023(kPeer);
  ip.bytes({0xAA, 0xAA, 0x03, 0, 0, 0}).be16(0x0800);
  addIp(ip, {.protocol = 89, .destination = "224.0.0.5"});
  Decoded d = decode(ip);
  EXPECT_EQ(d.destination, "224.0.0.5");
  EXPECT_EQ(d.description, "OSPF");
  EXPECT_EQ(d.protocol, "OSPF");

  Frame arp = ieee8023("FF-FF-FF-FF-FF-FF");
  arp.bytes({0xAA, 0xAA, 0x03, 0, 0, 0}).be16(0x0806);
  arp.be16(6).be16(0x0800).u8(6).u8(4).be16(1).hex("00A024112233").ipv4("10.0.0.5").zeros(6).ipv4("10.0.0.1");
  EXPECT_EQ(decode(arp).description, "ARP Request, Target=10.0.0.1, Sender=10.0.0.5");

  Frame other = ieee8023(kPeer);
  other.bytes({0xAA, 0xAA, 0x03, 0, 0, 0}).be16(0x80F3);
  Decoded o = decode(other);
  EXPECT_EQ(o.description, "SNAP TYPE 80F3");
  EXPECT_EQ(o.protocol, "SNAP TYPE 80F3");

  Frame nonIpArp = ieee8023(kPeer);
  nonIpArp.bytes({0xAA, 0xAA, 0x03, 0, 0, 0}).be16(0x0806).be16(6).be16(0x8137);
  EXPECT_EQ(decode(nonIpArp).description, "SNAP TYPE 0806");
}

TEST(Llc, ServiceAccessPointNames) {
  struct Case {
    uint8_t dsap, ssap;
    const char* description;
    const char* protocol;
  };
  const Case cases[] = {
      {0xF0, 0xF0, "NetBEUI LLC F0/F0 UI", "NetBEUI"},
      {0x04, 0x05, "SNA LLC 04/05 UI Response", "SNA"},
      {0x10, 0x08, "SNA LLC 10/08 UI", "SNA"},
      {0x42, 0x42, "Spanning Tree BPDU LLC 42/42 UI", "Spanning Tree BPDU"},
      {0xF4, 0xF5, "Network Management LLC F4/F5 UI Response", "Network Management"},
      {0x06, 0x06, "LLC 06/06 UI", "LLC"},
      {0xF0, 0x42, "NetBEUI LLC F0/42 UI", "NetBEUI"},  // first test that holds wins
  };
  for (const Case& c : cases) {
    Decoded d = decode(llcFrame(c.dsap, c.ssap, {0x03}));
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.protocol, c.protocol);
  }
}

TEST(Llc, InformationFrame) {
  Decoded d = decode(llcFrame(0xF0, 0xF0, {0x0A, 0x0C}));
  EXPECT_EQ(d.description, "NetBEUI LLC F0/F0 I-Frame N(R)=6 N(S)=5");
  EXPECT_EQ(decode(llcFrame(0xF0, 0xF1, {0xFE, 0xFF})).description,
            "NetBEUI LLC F0/F1 I-Frame N(R)=127 N(S)=127 Response");
}

TEST(Llc, SupervisoryAndUnnumberedControls) {
  struct Case {
    int control, control2;
    const char* appended;
  };
  const Case cases[] = {
      {0x01, 0x0C, " RR N(R)=6"},  {0x05, 0x0D, " RNR N(R)=6"}, {0x09, 0x02, " REJ N(R)=1"},
      {0x03, 0, " UI"},            {0x13, 0, " UI POLL"},       {0x0F, 0, " DM"},
      {0x1F, 0, " DM FINAL"},      {0x43, 0, " DISC"},          {0x53, 0, " DISC POLL"},
      {0x63, 0, " UA"},            {0x73, 0, " UA FINAL"},      {0x6F, 0, " SABME"},
      {0x7F, 0, " SABME POLL"},    {0x87, 0, " FRMR"},          {0x97, 0, " FRMR FINAL"},
      {0xAF, 0, " XID"},           {0xBF, 0, " XID p/f=1"},     {0xE3, 0, " TEST"},
      {0xF3, 0, " TEST p/f=1"},    {0x0B, 0, ""},               {0xFF, 0, ""},
      {0x11, 0x08, ""},  // an RR with the poll bit is no named value
  };
  for (const Case& c : cases) {
    Decoded d = decode(llcFrame(0x06, 0x06, {c.control, c.control2}));
    EXPECT_EQ(d.description, std::string("LLC 06/06") + c.appended) << "control " << c.control;
  }
}

TEST(Llc, OddUnnamedControlInAResponse) {
  Decoded d = decode(llcFrame(0x06, 0x07, {0x0B}));
  EXPECT_EQ(d.description, "LLC 06/07 Response");
  EXPECT_EQ(d.protocol, "LLC");
}

// Token Ring: access control, frame control, destination, source.
Frame tokenRing(uint8_t frameControl, std::string_view destination, std::string_view source) {
  Frame f;
  f.u8(0x10).u8(frameControl).hex(destination).hex(source);
  return f;
}

TEST(TokenRing, MacFrameFromThisAdapter) {
  Frame f = tokenRing(0x01, "C0-00-00-00-00-01", "90-00-5A-01-02-03");  // routing bit set
  f.be16(0x0016).be16(0x0005);                                          // vector: length, 00 05
  Decoded d = decode(f, tokenRingContext());
  EXPECT_EQ(d.destination, "C00000000001");
  EXPECT_EQ(d.description, "Token Ring MAC Frame, ACTIVE Monitor Present");
  EXPECT_EQ(d.protocol, "Token Ring MAC Frame");
  EXPECT_EQ(d.direction, "  >>");
  EXPECT_EQ(d.station, "*10005A010203") << "the routing bit is not part of the station";
  EXPECT_EQ(d.protoAddr, "TR-MAC");
}

TEST(TokenRing, MacFrameFromAnotherStation) {
  Frame f = tokenRing(0x00, "C0-00-00-00-00-01", "10-00-5A-99-99-99");
  f.be16(0x0010).be16(0x0029);
  Decoded d = decode(f, tokenRingContext());
  EXPECT_EQ(d.description, "Token Ring MAC Frame, Report Soft ERROR");
  EXPECT_EQ(d.direction, "<<  ");
  EXPECT_EQ(d.station, "10005A999999");

  Frame unknown = tokenRing(0x00, "C0-00-00-00-00-01", "10-00-5A-99-99-99");
  unknown.be16(0x0010).be16(0x0031);
  EXPECT_EQ(decode(unknown, tokenRingContext()).description, "Token Ring MAC Frame, Command x31");
}

TEST(TokenRing, LlcWithoutRouting) {
  Frame f = tokenRing(0x40, "10-00-5A-01-02-03", "10-00-5A-99-99-99");
  f.bytes({0xF0, 0xF0, 0x0A, 0x0C});
  Decoded d = decode(f, tokenRingContext());
  EXPECT_EQ(d.destination, "10005A010203");
  EXPECT_EQ(d.description, "NetBEUI LLC F0/F0 I-Frame N(R)=6 N(S)=5");
  EXPECT_EQ(d.direction, "<-  ") << "LLC frames keep the caller's marker";
  EXPECT_EQ(d.station, "STATION");
}

TEST(TokenRing, RoutingInformationWithZeroOneAndTwoDesignators) {
  Frame none = tokenRing(0x40, "10-00-5A-01-02-03", "90-00-5A-99-99-99");
  none.bytes({0x02, 0x30}).bytes({0xF0, 0xF0, 0x03});
  EXPECT_EQ(decode(none, tokenRingContext()).description, "NetBEUI LLC F0/F0 UI");

  Frame one = tokenRing(0x40, "10-00-5A-01-02-03", "90-00-5A-99-99-99");
  one.bytes({0x04, 0x30, 0x12, 0x34}).bytes({0xF0, 0xF0, 0x03});
  EXPECT_EQ(decode(one, tokenRingContext()).description, "NetBEUI LLC F0/F0 UI  RIF={123}4");

  Frame two = tokenRing(0x40, "10-00-5A-01-02-03", "90-00-5A-99-99-99");
  two.bytes({0x06, 0x30, 0x00, 0x15, 0xAB, 0xC0}).bytes({0xF0, 0xF0, 0x03});
  EXPECT_EQ(decode(two, tokenRingContext()).description, "NetBEUI LLC F0/F0 UI  RIF={001}5{ABC}0");
}

TEST(TokenRing, LongRouteListIsCutAtTheField) {
  Frame f = tokenRing(0x40, "10-00-5A-01-02-03", "90-00-5A-99-99-99");
  f.bytes({0x1F, 0x30});
  for (int i = 0; i < 15; ++i) f.bytes({0x12, 0x34});
  f.set(14 + 31, 0x06).set(14 + 32, 0x07).set(14 + 33, 0x03);  // LLC after the 31-byte field
  Decoded d = decode(f, tokenRingContext());
  std::string expected = "LLC 06/07 UI Response  RIF=";
  for (int i = 0; i < 14; ++i) expected += "{123}4";
  ASSERT_GT(expected.size(), 100u);
  EXPECT_EQ(std::string(d.record.description, 100), expected.substr(0, 100));
  EXPECT_EQ(d.protocol, "LLC") << "the cut must not spill into the protocol";
}

TEST(TokenRing, NetbiosFunctionalAddress) {
  Frame f = tokenRing(0x40, "C0-00-00-00-00-80", "90-00-5A-99-99-99");
  f.bytes({0x04, 0x30, 0x12, 0x34}).bytes({0xF0, 0xF0, 0x03});
  f.le16(44).bytes({0xFF, 0xEF}).u8(0x08).zeros(7).plainName("WORKGROUP", 0x1D).plainName("PC7", 0x00);
  Decoded d = decode(f, tokenRingContext());
  EXPECT_EQ(d.destination, "C00000000080");
  EXPECT_EQ(d.description, "NetBEUI Datagram Dest=WORKGROUP<1D> Src=PC7<00>") << "no route text";
  EXPECT_EQ(d.protocol, "NetBeui,     Browser WORKGROUP");
}

TEST(TokenRing, ReservedFrameTypeLeavesTheDescription) {
  Frame f = tokenRing(0x80, "10-00-5A-01-02-03", "10-00-5A-99-99-99");
  veltris::agent::testing::ConsoleCapture captured;
  Decoded d = decode(f, tokenRingContext());
  EXPECT_EQ(captured.take(), "WARNING: Unexpected Frame Type x80\n");
  EXPECT_EQ(d.destination, "10005A010203");
  EXPECT_EQ(d.description, std::string(100, ' '));
  EXPECT_EQ(d.protocol, "");
}

TEST(Media, OtherMediaAreLeftUndecoded) {
  DecodeContext context;
  context.mediaType = 2;
  Decoded d = decode(ethernet(kPeer, 0x0800), context);
  EXPECT_EQ(d.destination, std::string(28, ' '));
  EXPECT_EQ(d.description, std::string(100, ' '));
  EXPECT_EQ(d.protocol, "");
}

}  // namespace
}  // namespace veltris::agent::decode::test
