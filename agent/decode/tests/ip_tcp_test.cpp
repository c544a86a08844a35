// IPv4, ICMP, TCP and SMB over the NetBIOS session port.
#include <gtest/gtest.h>

#include "agent/decode/tests/test_frames.h"

namespace veltris::agent::decode::test {
namespace {

constexpr const char* kPeer = "00-60-08-AB-CD-EF";

Frame ipFrame(const Ip& ip) {
  Frame f = ethernet(kPeer, 0x0800);
  return addIp(f, ip);
}

// An ICMP message: type, code, checksum, 4 bytes, then a quoted IP header
// (destination `quoted`, protocol `quotedProtocol`) and 8 bytes of it.
Frame icmp(uint8_t type, uint8_t code, uint32_t word = 0, const char* quoted = "10.1.1.1",
           uint8_t quotedProtocol = 17, uint16_t quotedPort = 53) {
  Frame f = ipFrame({.protocol = 1, .destination = "10.0.0.5", .totalLength = 56});
  f.u8(type).u8(code).be16(0).be32(word);
  addIp(f, {.protocol = quotedProtocol, .destination = quoted});
  return f.be16(1030).be16(quotedPort).be32(0);
}

TEST(Ip, DestinationReplacesTheLinkAddress) {
  Decoded d = decode(ipFrame({.protocol = 50, .destination = "192.168.200.17"}));
  EXPECT_EQ(d.destination, "192.168.200.17");
  EXPECT_EQ(d.description, "Protocol=x'32'");
  EXPECT_EQ(d.protocol, "IP");
  // The working text is copied whole: zeros behind the text.
  EXPECT_EQ(d.record.description[99], '\0');
}

TEST(Ip, RoutingProtocolNames) {
  Decoded igrp = decode(ipFrame({.protocol = 88}));
  EXPECT_EQ(igrp.description, "IGRP");
  EXPECT_EQ(igrp.protocol, "IGRP");
  Decoded ospf = decode(ipFrame({.protocol = 89}));
  EXPECT_EQ(ospf.description, "OSPF");
  EXPECT_EQ(ospf.protocol, "OSPF");
}

TEST(Icmp, FixedTypeTexts) {
  const std::pair<uint8_t, const char*> cases[] = {
      {0, "ICMP PING Reply"},
      {4, "ICMP Source Quench"},
      {8, "ICMP PING"},
      {9, "ICMP Router Advertisement"},
      {10, "ICMP Router Solicitation"},
      {12, "ICMP Parameter Problem"},
      {13, "ICMP Timestamp"},
      {14, "ICMP Timestamp Reply"},
      {15, "ICMP Information Request"},
      {16, "ICMP Information Reply"},
      {17, "ICMP Subnet Mask Address Request"},
      {18, "ICMP Subnet Mask Address Reply"},
      {1, "ICMP"},
      {2, "ICMP"},
      {6, "ICMP"},
      {7, "ICMP"},
      {19, "ICMP"},
      {255, "ICMP"},
  };
  for (const auto& [type, text] : cases) {
    Decoded d = decode(icmp(type, 0));
    EXPECT_EQ(d.description, text) << int(type);
    EXPECT_EQ(d.protocol, text) << int(type);
    EXPECT_EQ(d.destination, "10.0.0.5");
  }
}

TEST(Icmp, UnreachableCodes) {
  const std::pair<uint8_t, const char*> cases[] = {
      {0, "ICMP Network Unreachable"},
      {1, "ICMP Host Unreachable"},
      {2, "ICMP Protocol Unreachable"},
      {4, "ICMP Fragmentation needed but not set"},
      {5, "ICMP Source Route Failed"},
      {6, "ICMP Destination Network Unknown"},
      {7, "ICMP Destination Host Unknown"},
      {8, "ICMP Source Host Isolated"},
      {9, "ICMP Destination Network Administratively Prohibited"},
      {10, "ICMP Destination Host Administratively Prohibited"},
      {11, "ICMP Network Unreachable for TOS"},
      {12, "ICMP Host Unreachable for TOS"},
      {13, "ICMP Communication Administratively Prohibited by Filtering"},
      {14, "ICMP Host Precedence Violation"},
      {15, "ICMP Precedence Cutoff in Effect"},
      {16, "ICMP Destination Unreachable"},
      {200, "ICMP Destination Unreachable"},
  };
  for (const auto& [code, text] : cases) {
    Decoded d = decode(icmp(3, code, 0, "10.7.7.7"));
    EXPECT_EQ(d.description, std::string(text) + ", for Target=10.7.7.7") << int(code);
    EXPECT_EQ(d.protocol, "ICMP Destination Unreachable");
  }
}

TEST(Icmp, PortUnreachableNamesTheQuotedPort) {
  EXPECT_EQ(decode(icmp(3, 3, 0, "10.1.1.1", 17, 53)).description,
            "ICMP Port 'domain' Unreachable, for Target=10.1.1.1");
  EXPECT_EQ(decode(icmp(3, 3, 0, "10.1.1.1", 6, 23)).description,
            "ICMP Port 'telnet' Unreachable, for Target=10.1.1.1");
  EXPECT_EQ(decode(icmp(3, 3, 0, "10.1.1.1", 17, 4444)).description,
            "ICMP Port '4444' Unreachable, for Target=10.1.1.1");
  // Port 53 of another protocol is not looked up.
  EXPECT_EQ(decode(icmp(3, 3, 0, "10.1.1.1", 1, 53)).description,
            "ICMP Port '53' Unreachable, for Target=10.1.1.1");
}

TEST(Icmp, FragmentationNeededWithMtu) {
  EXPECT_EQ(decode(icmp(3, 4, 0x000005DC, "10.2.2.2")).description,
            "ICMP Fragmentation needed but not set, MaxMTU=1500, for Target=10.2.2.2");
}

TEST(Icmp, Redirects) {
  // Gateway 10.0.0.1 (bytes 4-7), quoted destination 10.5.5.5.
  EXPECT_EQ(decode(icmp(5, 1, 0x0A000001, "10.5.5.5")).description,
            "ICMP Redirect for host.  Use Router=10.0.0.1 for Dest=10.5.5.5");
  EXPECT_EQ(decode(icmp(5, 0, 0x0A050505, "10.5.5.5")).description,
            "ICMP Redirect for network.  No need to use router since Dest=10.5.5.5 is LOCAL");
  EXPECT_EQ(decode(icmp(5, 2, 0x0A000001, "10.5.5.5")).description,
            "ICMP Redirect for TOS and network.  Use Router=10.0.0.1 for Dest=10.5.5.5");
  EXPECT_EQ(decode(icmp(5, 3, 0x0A000001, "10.5.5.5")).description,
            "ICMP Redirect for TOS and host.  Use Router=10.0.0.1 for Dest=10.5.5.5");
  Decoded other = decode(icmp(5, 9, 0x0A000001, "10.5.5.5"));
  EXPECT_EQ(other.description, "ICMP Redirect.  Use Router=10.0.0.1 for Dest=10.5.5.5");
  EXPECT_EQ(other.protocol, other.description);
}

TEST(Icmp, TimeExceeded) {
  Decoded d = decode(icmp(11, 0, 0, "172.16.0.9"));
  EXPECT_EQ(d.description, "ICMP Time Exceeded for Dest=172.16.0.9");
  EXPECT_EQ(d.protocol, "ICMP Time Exceeded for Dest=172.16.0.9");
}

Frame tcpFrame(const Tcp& tcp, uint16_t dataLength = 0, uint16_t flagsAndOffset = 0) {
  uint16_t total = static_cast<uint16_t>(20 + tcp.headerWords * 4 + dataLength);
  Frame f = ipFrame({.protocol = 6, .totalLength = total, .flagsAndOffset = flagsAndOffset});
  return addTcp(f, tcp);
}

TEST(Tcp, PureAcknowledgementToTheSessionPort) {
  Decoded d = decode(tcpFrame({.source = 1025, .destination = 139, .sequence = 7, .ack = 4000000000u}));
  EXPECT_EQ(d.description, "TCP/nbsession 1025 Ack=4000000000 Seq=7 DataLen=0     ACK");
  EXPECT_EQ(d.protocol, "TCP/IP nbsession");
}

TEST(Tcp, PortNamesAndNumbers) {
  EXPECT_EQ(decode(tcpFrame({.source = 21, .destination = 23, .flags = 0})).description,
            "TCP/telnet ftp Ack=2000 Seq=1000 DataLen=0    ");
  EXPECT_EQ(decode(tcpFrame({.source = 21, .destination = 23})).protocol, "TCP/IP telnet ftp");
  Decoded numbers = decode(tcpFrame({.source = 3000, .destination = 4000}, 1460));
  EXPECT_EQ(numbers.description, "TCP/4000 3000 Ack=2000 Seq=1000 DataLen=1460  ACK");
  EXPECT_EQ(numbers.protocol, "TCP/IP");
}

TEST(Tcp, EqualPortsAreNamedOnce) {
  Decoded d = decode(tcpFrame({.source = 139, .destination = 139}));
  EXPECT_EQ(d.description, "TCP/nbsession Ack=2000 Seq=1000 DataLen=0     ACK");
  EXPECT_EQ(d.protocol, "TCP/IP nbsession");
}

TEST(Tcp, WebPortFallsBackToWwwHttp) {
  Decoded d = decode(tcpFrame({.source = 80, .destination = 80, .flags = 0x02}));
  EXPECT_EQ(d.description, "TCP/www-http Ack=2000 Seq=1000 DataLen=0     SYN");
  EXPECT_EQ(d.protocol, "TCP/IP www-http");
}

TEST(Tcp, FlagsInOrderAndDataLength) {
  Decoded d = decode(tcpFrame({.source = 3000, .destination = 4000, .flags = 0x3F, .headerWords = 8}, 12345));
  EXPECT_EQ(d.description, "TCP/4000 3000 Ack=2000 Seq=1000 DataLen=12345 URG ACK PSH RST SYN FIN");
  // A header longer than the total length wraps as a 16-bit number.
  Frame wrapped = tcpFrame({.source = 3000, .destination = 4000, .flags = 0x04});
  wrapped.set(14 + 2, 0).set(14 + 3, 30);
  EXPECT_EQ(decode(wrapped).description, "TCP/4000 3000 Ack=2000 Seq=1000 DataLen=65526 RST");
}

TEST(Tcp, FirstFragmentIsDecodedAndMarked) {
  Decoded d = decode(tcpFrame({.source = 3000, .destination = 4000, .flags = 0x18}, 100, 0x2000));
  EXPECT_EQ(d.description, "TCP/4000 3000 Ack=2000 Seq=1000 DataLen=100   ACK PSH FRAGMENTED id=1234");
  EXPECT_EQ(d.protocol, "TCP/IP");
}

TEST(Tcp, LaterFragmentIsNotLookedInto) {
  Decoded d = decode(tcpFrame({.source = 139, .destination = 139}, 100, 0x00B9));
  EXPECT_EQ(d.description, "TCP FragmentOffset=1480 id=1234");
  EXPECT_EQ(d.protocol, "TCP/IP Fragment");
}

// A NetBIOS session message with an SMB header; words and bytes follow.
struct Smb {
  uint8_t command = 0x72;
  uint32_t status = 0;
  uint16_t flags2 = 0;
  std::vector<uint16_t> words;
  std::vector<uint8_t> bytes;
};

Frame smbFrame(const Smb& smb, uint16_t source = 1025) {
  Frame smbPart;
  smbPart.u8(0).u8(0).be16(0).bytes({0xFF, 'S', 'M', 'B'}).u8(smb.command).le32(smb.status);
  smbPart.u8(0x18).le16(smb.flags2).zeros(12).le16(0).le16(0).le16(0).le16(0);  // to offset 36
  smbPart.u8(static_cast<uint8_t>(smb.words.size()));
  for (uint16_t w : smb.words) smbPart.le16(w);
  smbPart.le16(static_cast<uint16_t>(smb.bytes.size()));
  for (uint8_t b : smb.bytes) smbPart.u8(b);
  Frame f = tcpFrame({.source = source, .destination = 139, .flags = 0x18},
                     static_cast<uint16_t>(smbPart.size()));
  for (uint8_t b : smbPart.data()) f.u8(b);
  return f;
}

// The one-byte password in front of a tree connect's share name.
constexpr std::string_view kPassword("\0", 1);

std::vector<uint8_t> narrowBytes(std::string_view before, std::string_view name) {
  std::vector<uint8_t> b(before.begin(), before.end());
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  return b;
}

std::vector<uint8_t> wideBytes(std::string_view before, std::u16string_view name) {
  std::vector<uint8_t> b(before.begin(), before.end());
  for (char16_t c : name) {
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

TEST(Smb, CommandNames) {
  EXPECT_EQ(decode(smbFrame({.command = 0x72})).protocol, "TCP/IP nbsession Negotiate");
  EXPECT_EQ(decode(smbFrame({.command = 0x2E})).protocol, "TCP/IP nbsession Read");
  EXPECT_EQ(decode(smbFrame({.command = 0x84})).protocol, "TCP/IP nbsession Find close");
  EXPECT_EQ(decode(smbFrame({.command = 0x09})).protocol, "TCP/IP nbsession Set atributes");
  EXPECT_EQ(decode(smbFrame({.command = 0xFF})).protocol, "TCP/IP nbsession No second command");
  EXPECT_EQ(decode(smbFrame({.command = 0x50})).protocol, "TCP/IP nbsession") << "unnamed command";
  // The description is TCP's alone.
  EXPECT_EQ(decode(smbFrame({.command = 0x72})).description.substr(0, 19), "TCP/nbsession 1025 ");
}

TEST(Smb, OnlySessionMessagesWithTheSignature) {
  Frame keepAlive = smbFrame({.command = 0x72});
  keepAlive.set(54, 0x85);  // session keep-alive type
  EXPECT_EQ(decode(keepAlive).protocol, "TCP/IP nbsession");
  Frame noSignature = smbFrame({.command = 0x72});
  noSignature.set(58, 0xFE);
  EXPECT_EQ(decode(noSignature).protocol, "TCP/IP nbsession");
  Frame otherPort = smbFrame({.command = 0x72});
  otherPort.set(36, 0x01).set(37, 0xBD);  // destination 445
  EXPECT_EQ(decode(otherPort).protocol, "TCP/IP");
}

TEST(Smb, TreeConnectNamesTheShareNarrowAndWide) {
  Smb narrow{.command = 0x75, .words = {0xFF, 0, 0, 1}, .bytes = narrowBytes(kPassword, "\\\\SERVER\\PUBLIC")};
  narrow.bytes.insert(narrow.bytes.end(), {'?', '?', '?', '?', '?', 0});
  EXPECT_EQ(decode(smbFrame(narrow)).protocol, "TCP/IP nbsession Tree connect \\\\SERVER\\PUBLIC");

  Smb wide{.command = 0x75, .flags2 = 0x8000, .words = {0xFF, 0, 0, 1},
           .bytes = wideBytes(kPassword, u"\\\\SRV\\IPC$")};
  EXPECT_EQ(decode(smbFrame(wide)).protocol, "TCP/IP nbsession Tree connect \\\\SRV\\IPC$");

  Smb wideOther{.command = 0xA2, .flags2 = 0x8000, .words = std::vector<uint16_t>(24, 0),
                .bytes = wideBytes(kPassword, u"caf\u00e9.txt")};
  EXPECT_EQ(decode(smbFrame(wideOther)).protocol, "TCP/IP nbsession NT OPEN caf?.txt");

  Smb noBytes{.command = 0x75, .words = {0xFF, 0, 0, 1}};
  EXPECT_EQ(decode(smbFrame(noBytes)).protocol, "TCP/IP nbsession Tree connect");
}

Smb transaction2(uint8_t wordCount, uint16_t subcommand, std::vector<uint8_t> bytes = {}) {
  Smb smb{.command = 0x32, .words = std::vector<uint16_t>(wordCount, 0), .bytes = std::move(bytes)};
  if (wordCount >= 15) smb.words[14] = subcommand;  // the setup word at P + 65
  return smb;
}

TEST(Smb, Transaction2NeedsFifteenWords) {
  EXPECT_EQ(decode(smbFrame(transaction2(14, 1))).protocol, "TCP/IP nbsession");
  EXPECT_EQ(decode(smbFrame(transaction2(15, 3))).protocol, "TCP/IP nbsession Query file system info");
  EXPECT_EQ(decode(smbFrame(transaction2(15, 12))).protocol, "TCP/IP nbsession Find-notify-next");
  EXPECT_EQ(decode(smbFrame(transaction2(15, 13))).protocol, "TCP/IP nbsession Transact2");
}

TEST(Smb, FindFirstAppendsTheSearchPattern) {
  std::string before(15, 'x');  // the pattern sits at B + 17, behind the 2-byte count
  EXPECT_EQ(decode(smbFrame(transaction2(15, 1, narrowBytes(before, "\\DIR\\*.*")))).protocol,
            "TCP/IP nbsession Findfirst \\DIR\\*.*");
  Smb wide = transaction2(15, 1, wideBytes(before, u"\\*"));
  wide.flags2 = 0x8000;
  EXPECT_EQ(decode(smbFrame(wide)).protocol, "TCP/IP nbsession Findfirst \\*");
}

TEST(Smb, DosAndNtErrors) {
  Smb dos{.command = 0x2D, .status = 0x00020001};  // class 1, error code 2
  EXPECT_EQ(decode(smbFrame(dos, 139)).protocol, "TCP/IP nbsession open ERROR 2");
  Smb nt{.command = 0x73, .status = 0xC000006D, .flags2 = 0x4000};
  EXPECT_EQ(decode(smbFrame(nt, 139)).protocol, "TCP/IP nbsession Session setup ERROR xC000006D");
  Smb unnamed{.command = 0x50, .status = 0x00050001};
  EXPECT_EQ(decode(smbFrame(unnamed, 139)).protocol, "TCP/IP nbsession ERROR 5");
}

TEST(Smb, LongShareNameIsCutInsideTheProtocolField) {
  Smb smb{.command = 0x75, .words = {0xFF, 0, 0, 1}, .bytes = narrowBytes(kPassword, std::string(150, 'S'))};
  Decoded d = decode(smbFrame(smb));
  ASSERT_EQ(d.protocol.size(), 99u);
  EXPECT_EQ(d.protocol.substr(0, 30), "TCP/IP nbsession Tree connect ");
  EXPECT_EQ(d.record.protocol[99], '\0');
  EXPECT_EQ(d.record.errorText[0], '\0') << "nothing written past the protocol field";
}

TEST(Smb, WideNameWithoutTerminatorStopsAtTheStoredBytes) {
  Smb smb{.command = 0x75, .flags2 = 0x8000, .words = std::vector<uint16_t>(40, 0), .bytes = {0}};
  for (int i = 0; i < 200; ++i) smb.bytes.insert(smb.bytes.end(), {'W', 0});
  Decoded d = decode(smbFrame(smb));
  // The name starts at frame offset 54 + 37 + 80 + 3 = 174: 41 units are stored.
  EXPECT_EQ(d.protocol, "TCP/IP nbsession Tree connect " + std::string(41, 'W'));
}

}  // namespace
}  // namespace veltris::agent::decode::test
