// IPX with SAP, ARP and RARP with role labels, NetBIOS Frames.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "agent/decode/tests/test_frames.h"

namespace veltris::agent::decode::test {
namespace {

Frame ipx(uint16_t destinationSocket, uint16_t sourceSocket, int sapOperation = -1) {
  Frame f = ethernet("FF-FF-FF-FF-FF-FF", 0x8137);
  f.be16(0xFFFF).be16(30).u8(0).u8(4).hex("0000ABCD 0080C7123456").be16(destinationSocket);
  f.hex("00000001 00A024112233").be16(sourceSocket);
  if (sapOperation >= 0) f.be16(static_cast<uint16_t>(sapOperation));
  return f;
}

TEST(Ipx, SocketsAndDestination) {
  Decoded d = decode(ipx(0x0455, 0x4003));
  EXPECT_EQ(d.destination, "0000ABCD:0080C7123456");
  EXPECT_EQ(d.description, "IPX DestSocket=1109 SrcSocket=16387 (NetWare)");
  EXPECT_EQ(d.protocol, "IPX (NetWare)");
}

TEST(Ipx, SapOperations) {
  const std::pair<int, const char*> cases[] = {
      {1, "SAP General Service Query"},    {2, "SAP General Service Response"},
      {3, "SAP Nearest Service Query"},    {4, "SAP Nearest Service Response"},
      {9, "SAP"},                          {0x0103, "SAP Nearest Service Query"},  // low byte only
  };
  for (const auto& [operation, text] : cases) {
    Decoded d = decode(ipx(0x0452, 0x0452, operation));
    EXPECT_EQ(d.description, std::string("IPX ") + text + " (NetWare)");
    EXPECT_EQ(d.protocol, std::string("IPX ") + text + " (NetWare)");
  }
}

uint32_t address(const char* dotted) { return inet_addr(dotted); }

agent::AddressLists adapterLists() {
  agent::AddressLists lists;
  lists.own[0] = address("10.0.0.5");
  lists.gateways[0] = address("10.0.0.1");
  lists.dns[0] = address("10.0.0.2");
  lists.dns[1] = address("10.0.0.1");  // also the gateway: GW wins
  lists.wins[0] = address("10.0.0.3");
  lists.wins[2] = address("10.0.0.9");  // behind the first zero: not in the list
  return lists;
}

Frame arp(uint16_t operation, const char* sender, const char* target) {
  Frame f = ethernet("FF-FF-FF-FF-FF-FF", 0x0806);
  f.be16(1).be16(0x0800).u8(6).u8(4).be16(operation);
  return f.hex("00A024112233").ipv4(sender).hex("000000000000").ipv4(target);
}

TEST(Arp, RequestForTheGateway) {
  agent::AddressLists lists = adapterLists();
  DecodeContext context;
  context.addresses = &lists;
  Decoded d = decode(arp(1, "10.0.0.5", "10.0.0.1"), context);
  EXPECT_EQ(d.description, "ARP Request, Target=10.0.0.1, Sender=10.0.0.5");
  EXPECT_EQ(d.protocol, "ARP Request, Looking for 10.0.0.1 (GW)");
  EXPECT_EQ(d.destination, "FFFFFFFFFFFF") << "the link address stays";
}

TEST(Arp, RoleLabels) {
  agent::AddressLists lists = adapterLists();
  DecodeContext context;
  context.addresses = &lists;
  EXPECT_EQ(decode(arp(2, "10.0.0.3", "10.0.0.5"), context).protocol, "ARP Reply,   Found 10.0.0.3 (WINS)");
  EXPECT_EQ(decode(arp(2, "10.0.0.2", "10.0.0.5"), context).protocol, "ARP Reply,   Found 10.0.0.2 (DNS)");
  EXPECT_EQ(decode(arp(1, "10.0.0.9", "10.0.0.5"), context).protocol, "ARP Request, Looking for 10.0.0.5 (Self)");
  EXPECT_EQ(decode(arp(1, "10.0.0.5", "10.0.0.9"), context).protocol, "ARP Request, Looking for 10.0.0.9");
  EXPECT_EQ(decode(arp(1, "10.0.0.5", "10.0.0.1")).protocol, "ARP Request, Looking for 10.0.0.1")
      << "no lists, no labels";
  EXPECT_STREQ(roleLabelFor(lists, address("10.0.0.1")), "GW");
  EXPECT_STREQ(roleLabelFor(lists, address("10.0.0.99")), "");
}

TEST(Arp, OtherOperations) {
  Decoded rarpRequest = decode(arp(3, "0.0.0.0", "0.0.0.0"));
  EXPECT_EQ(rarpRequest.description, "RARP Request, Target=0.0.0.0, Sender=0.0.0.0");
  EXPECT_EQ(rarpRequest.protocol, "Address Resolution Protocol");
  EXPECT_EQ(decode(arp(4, "10.0.0.7", "10.0.0.8")).description, "RARP Reply, Target=10.0.0.8, Sender=10.0.0.7");
  Decoded other = decode(arp(9, "10.0.0.7", "10.0.0.8"));
  EXPECT_EQ(other.description, "ARP 09, Target=10.0.0.8, Sender=10.0.0.7");
  EXPECT_EQ(other.protocol, "Address Resolution Protocol");
}

Frame netbios(uint8_t command, std::string_view destination, uint8_t destinationType, std::string_view source,
              uint8_t sourceType) {
  Frame f = ieee8023("03-00-00-00-00-01");
  f.bytes({0xF0, 0xF0, 0x03}).le16(44).bytes({0xFF, 0xEF}).u8(command).zeros(7);
  return f.plainName(destination, destinationType).plainName(source, sourceType);
}

TEST(NetbiosFrames, CommandTexts) {
  const std::pair<uint8_t, const char*> cases[] = {
      {0x00, "Add Group Name"},      {0x01, "Add Name Query"},     {0x02, "Name in Conflict"},
      {0x03, "Status Query"},        {0x07, "Terminate Trace"},    {0x08, "Datagram"},
      {0x09, "Broadcast Datagram"},  {0x0A, "Name Query"},         {0x0D, "Add Name Response"},
      {0x0E, "Name Recognize"},      {0x0F, "Status Response"},    {0x13, "Terminate Trace"},
      {0x14, "Data Ack"},            {0x15, "Data First Middle"},  {0x16, "Data Only Last"},
      {0x17, "Session Confirm"},     {0x18, "Session End"},        {0x19, "Session Initialize"},
      {0x1A, "No Receive"},          {0x1B, "Receive Outstanding"}, {0x1C, "Receive Continue"},
      {0x1F, "Session Alive"},       {0x05, ""},                   {0xFF, ""},
  };
  for (const auto& [command, text] : cases) {
    Decoded d = decode(netbios(command, "SERVER1", 0x20, "PC7", 0x00));
    EXPECT_EQ(d.description, std::string("NetBEUI ") + text + " Dest=SERVER1<20> Src=PC7<00>") << int(command);
  }
}

TEST(NetbiosFrames, ProtocolCases) {
  EXPECT_EQ(decode(netbios(0x0A, "SERVER1", 0x20, "PC7", 0x00)).protocol, "NetBeui,     Looking for SERVER1");
  EXPECT_EQ(decode(netbios(0x01, "PC7", 0x00, "PC7", 0x00)).protocol, "NetBeui,     Advertising PC7");
  EXPECT_EQ(decode(netbios(0x08, "*", 0x00, "PC7", 0x00)).protocol, "NetBeui,     Browser List");
  EXPECT_EQ(decode(netbios(0x08, "WORKGROUP", 0x1C, "PC7", 0x00)).protocol, "NetBeui,     Browser WORKGROUP");
  EXPECT_EQ(decode(netbios(0x08, "\x01\x02__MSBROWSE__\x02", 0x01, "PC7", 0x00)).protocol,
            "NetBeui,     *** MASTER BROWSER ***");

  Frame emptyDestination = ieee8023("03-00-00-00-00-01");
  emptyDestination.bytes({0xF0, 0xF0, 0x03}).le16(44).bytes({0xFF, 0xEF}).u8(0x09).zeros(7).zeros(16);
  emptyDestination.plainName("PC7", 0x00);
  Decoded d = decode(emptyDestination);
  EXPECT_EQ(d.description, "NetBEUI Broadcast Datagram Src=PC7<00>");
  EXPECT_EQ(d.protocol, "NetBeui,     Advertising PC7");
}

TEST(NetbiosFrames, TrailingBlanksOnlyAreRemoved) {
  Decoded d = decode(netbios(0x0A, " LEAD", 0x20, "A B", 0x03));
  EXPECT_EQ(d.description, "NetBEUI Name Query Dest= LEAD<20> Src=A B<03>");
}

}  // namespace
}  // namespace veltris::agent::decode::test
