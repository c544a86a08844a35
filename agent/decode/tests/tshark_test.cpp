// An independent check: frames built with a third-party packet library
// (scapy) are dissected by tshark and by our decoder, and every field that
// both report must agree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "agent/decode/tests/pcap_reader.h"
#include "agent/decode/tests/tshark_compare.h"

namespace veltris::agent::decode::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

constexpr const char* kFrameScript = R"PY(
import sys
try:
    from scapy.all import Ether, Dot3, LLC, SNAP, IP, TCP, UDP, ICMP, ARP, DNS, DNSQR, DNSRR, Raw, wrpcap
    from scapy.layers.netbios import NBNSHeader, NBNSQueryRequest, NBTDatagram, NBTSession
    from scapy.layers.smb import SMB_Header
except ImportError:
    sys.exit(3)

def eth(dst="00:60:08:ab:cd:ef"):
    return Ether(dst=dst, src="00:a0:24:11:22:33")

def dot3(dst="00:60:08:ab:cd:ef"):
    return Dot3(dst=dst, src="00:a0:24:11:22:33")

def ipx(dst_net, dst_node, dst_sock, src_sock, tail=b""):
    node = bytes.fromhex(dst_node.replace(":", ""))
    return (b"\xff\xff" + (30 + len(tail)).to_bytes(2, "big") + b"\x00\x04" + dst_net.to_bytes(4, "big") +
            node + dst_sock.to_bytes(2, "big") + (1).to_bytes(4, "big") +
            bytes.fromhex("00a024112233") + src_sock.to_bytes(2, "big") + tail)

def netbios_frame(cmd, dst, dst_type, src, src_type):
    name = lambda n, t: n.ljust(15).encode() + bytes([t])
    return (44).to_bytes(2, "little") + b"\xff\xef" + bytes([cmd]) + bytes(7) + name(dst, dst_type) + name(src, src_type)

f = []
f.append(eth()/IP(dst="10.1.2.3")/TCP(sport=1025, dport=80, flags="S", seq=12345))
f.append(eth()/IP(dst="10.1.2.3")/TCP(sport=80, dport=1025, flags="SA", seq=4000000000, ack=12346))
f.append(eth()/IP(dst="192.168.7.1")/TCP(sport=44321, dport=22, flags="PA", seq=77, ack=99)/Raw(b"x" * 100))
f.append(eth()/IP(dst="192.168.7.1")/TCP(sport=44321, dport=22, flags="FA", seq=1, ack=2,
         options=[("MSS", 1460), ("NOP", None), ("WScale", 7)])/Raw(b"y" * 20))
f.append(eth()/IP(dst="192.168.7.1")/TCP(sport=5000, dport=5000, flags="R", seq=3))
f.append(eth()/IP(dst="192.168.7.1")/TCP(sport=6000, dport=7000, flags="UAPRSF", seq=5, ack=6, urgptr=1))
f.append(eth()/IP(dst="10.1.2.3", flags="MF", id=0xBEEF)/TCP(sport=1111, dport=2222, flags="A")/Raw(b"z" * 64))
f.append(eth()/IP(dst="10.1.2.3", frag=185, id=0xBEEF, proto=6)/Raw(b"z" * 64))
f.append(eth()/IP(dst="10.1.2.3")/TCP(sport=1026, dport=139, flags="PA")/NBTSession()/SMB_Header(Command=0x72))
f.append(eth()/IP(dst="10.1.2.3")/TCP(sport=139, dport=1026, flags="PA")/NBTSession()/SMB_Header(Command=0x73))
f.append(eth()/IP(dst="10.0.0.2")/UDP(sport=33000, dport=53)/DNS(id=1, rd=1, qd=DNSQR(qname="www.example.com")))
f.append(eth()/IP(dst="10.0.0.5")/UDP(sport=53, dport=33000)/DNS(id=1, qr=1, rcode=0, qd=DNSQR(qname="www.example.com"),
         an=DNSRR(rrname="www.example.com", rdata="93.184.216.34")))
f.append(eth()/IP(dst="10.0.0.5")/UDP(sport=53, dport=33001)/DNS(id=2, qr=1, rcode=3, qd=DNSQR(qname="nowhere.example.org")))
f.append(eth()/IP(dst="10.0.0.5")/UDP(sport=53, dport=33002)/DNS(id=3, qr=1, rcode=2, qd=DNSQR(qname="a.b.c.d.e")))
f.append(eth()/IP(dst="10.0.0.5")/UDP(sport=53, dport=33003)/DNS(id=4, qr=1, rcode=4,
         qd=DNSQR(qname="mail.example.net", qtype="MX")))
f.append(eth()/IP(dst="10.9.9.9")/UDP(sport=40000, dport=40001)/Raw(b"hello"))
f.append(eth("ff:ff:ff:ff:ff:ff")/IP(dst="10.0.0.255")/UDP(sport=137, dport=137)/NBNSHeader()/
         NBNSQueryRequest(QUESTION_NAME="SERVER1", SUFFIX=0x4141))
f.append(eth("ff:ff:ff:ff:ff:ff")/IP(dst="10.0.0.255")/UDP(sport=137, dport=137)/NBNSHeader()/
         NBNSQueryRequest(QUESTION_NAME="WORKGROUP", SUFFIX=0x424E))
f.append(eth("ff:ff:ff:ff:ff:ff")/IP(dst="10.0.0.255")/UDP(sport=138, dport=138)/
         NBTDatagram(SourceName="PC7", DestinationName="WORKGROUP", SUFFIX1=0x4141, SUFFIX2=0x424E))
f.append(eth("ff:ff:ff:ff:ff:ff")/IP(dst="10.0.0.255")/UDP(sport=138, dport=138)/
         NBTDatagram(SourceName="FILESRV", DestinationName="PC9", SUFFIX1=0x4341, SUFFIX2=0x4141))
f.append(eth("ff:ff:ff:ff:ff:ff")/ARP(op=1, hwsrc="00:a0:24:11:22:33", psrc="10.0.0.5", pdst="10.0.0.1"))
f.append(eth()/ARP(op=2, hwsrc="00:60:08:ab:cd:ef", psrc="10.0.0.1", hwdst="00:a0:24:11:22:33", pdst="10.0.0.5"))
f.append(eth("ff:ff:ff:ff:ff:ff")/ARP(op=1, psrc="192.168.1.20", pdst="192.168.1.254"))
f.append(eth()/IP(dst="10.1.2.3")/ICMP(type=8, id=1, seq=1)/Raw(b"ping"))
f.append(eth()/IP(dst="10.0.0.5")/ICMP(type=0, id=1, seq=1)/Raw(b"ping"))
f.append(eth()/IP(dst="10.0.0.5")/ICMP(type=3, code=3)/IP(dst="10.1.1.1", src="10.0.0.5")/UDP(sport=1030, dport=53))
f.append(eth()/IP(dst="10.0.0.5")/ICMP(type=3, code=1)/IP(dst="10.1.1.7", src="10.0.0.5")/TCP(sport=1030, dport=80))
f.append(eth()/IP(dst="10.0.0.5")/ICMP(type=11, code=0)/IP(dst="10.8.8.8", src="10.0.0.5")/UDP(sport=1030, dport=33434))
f.append(dot3()/LLC(dsap=0xAA, ssap=0xAA, ctrl=3)/SNAP(code=0x0800)/IP(dst="172.16.5.4")/UDP(sport=2000, dport=2001)/Raw(b"s"))
f.append(dot3()/LLC(dsap=0x42, ssap=0x42, ctrl=3)/Raw(bytes(35)))
f.append(dot3()/LLC(dsap=0xF0, ssap=0xF1, ctrl=0x73)/Raw(bytes(4)))
f.append(Ether(dst="ff:ff:ff:ff:ff:ff", src="00:a0:24:11:22:33", type=0x8137)/
         Raw(ipx(0x0000ABCD, "00:80:c7:12:34:56", 0x0455, 0x4003)))
f.append(dot3("ff:ff:ff:ff:ff:ff")/Raw(ipx(0, "ff:ff:ff:ff:ff:ff", 0x0452, 0x4000, (3).to_bytes(2, "big") + (4).to_bytes(2, "big"))))
f.append(dot3("ff:ff:ff:ff:ff:ff")/LLC(dsap=0xE0, ssap=0xE0, ctrl=3)/Raw(ipx(0x12345678, "00:00:00:00:00:01", 0x0453, 0x0453)))
f.append(dot3("03:00:00:00:00:01")/LLC(dsap=0xF0, ssap=0xF0, ctrl=3)/Raw(netbios_frame(0x0A, "SERVER1", 0x20, "PC7", 0x00)))
f.append(dot3("03:00:00:00:00:01")/LLC(dsap=0xF0, ssap=0xF0, ctrl=3)/Raw(netbios_frame(0x01, "PC7", 0x00, "PC7", 0x00)))
wrpcap(sys.argv[1], f)
)PY";

TEST(Tshark, AgreesOnEveryFieldBothReport) {
  if (access(kPython, X_OK) != 0 || access(kTshark, X_OK) != 0) GTEST_SKIP() << "python3 or tshark missing";
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("decode_tshark_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "frames.py") << kFrameScript;
  int status = 0;
  run(std::string(kPython) + " " + (dir / "frames.py").string() + " " + (dir / "frames.pcap").string() + " 2>&1", &status);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    std::filesystem::remove_all(dir);
    GTEST_SKIP() << "python3-scapy missing";
  }
  ASSERT_EQ(status, 0);

  std::vector<std::vector<uint8_t>> frames = readPcap((dir / "frames.pcap").string());
  std::vector<Fields> dissected = dissect((dir / "frames.pcap").string());
  std::filesystem::remove_all(dir);
  ASSERT_EQ(frames.size(), 36u);
  ASSERT_EQ(dissected.size(), frames.size());

  int checks = compareWithTshark(frames, dissected);
  std::printf("compared %d fields of %zu frames with tshark\n", checks, frames.size());
  EXPECT_GE(checks, 150);
}

}  // namespace
}  // namespace veltris::agent::decode::test
