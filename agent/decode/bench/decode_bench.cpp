// Frame decoding speed over a realistic mix of LAN traffic: mostly TCP
// (some of it SMB), DNS, NetBIOS name and datagram services, ARP, ICMP,
// IPX/SAP, NetBEUI and a few frames of unknown types.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "agent/decode/frame_decoder.h"

namespace veltris::agent::decode {
namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, std::initializer_list<int> values) {
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
}
void put16(Bytes& b, unsigned v) { put(b, {int(v >> 8), int(v & 0xFF)}); }
void put32(Bytes& b, unsigned v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
void putText(Bytes& b, const char* s) { b.insert(b.end(), s, s + std::strlen(s)); }

Bytes ethernet(unsigned type, bool broadcast = false) {
  Bytes b;
  if (broadcast) {
    put(b, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  } else {
    put(b, {0x00, 0x60, 0x08, 0xAB, 0xCD, 0xEF});
  }
  put(b, {0x00, 0xA0, 0x24, 0x11, 0x22, 0x33});
  put16(b, type);
  return b;
}

Bytes ip(unsigned protocol, unsigned totalLength, bool broadcast = false) {
  Bytes b = ethernet(0x0800, broadcast);
  put(b, {0x45, 0});
  put16(b, totalLength);
  put(b, {0x12, 0x34, 0x40, 0, 64, int(protocol), 0, 0, 10, 0, 0, 5, 10, 0, 0, broadcast ? 255 : 9});
  return b;
}

Bytes tcp(unsigned source, unsigned destination, unsigned flags, unsigned data) {
  Bytes b = ip(6, 40 + data);
  put16(b, source);
  put16(b, destination);
  put32(b, 123456789);
  put32(b, 987654321);
  put(b, {0x50, int(flags), 0x20, 0, 0, 0, 0, 0});
  return b;
}

Bytes smb(unsigned command) {
  Bytes b = tcp(1025, 139, 0x18, 60);
  put(b, {0, 0, 0, 60, 0xFF, 'S', 'M', 'B', int(command), 0, 0, 0, 0, 0x18, 0x01, 0xC8});
  b.resize(b.size() + 20, 0);
  put(b, {4, 0xFF, 0, 0, 0, 0, 0, 1, 0, 20, 0, 0});
  putText(b, "\\\\SERVER\\PUBLIC");
  return b;
}

Bytes udp(unsigned source, unsigned destination, bool broadcast = false) {
  Bytes b = ip(17, 200, broadcast);
  put16(b, source);
  put16(b, destination);
  put16(b, 180);
  put16(b, 0);
  return b;
}

void encodedName(Bytes& b, const char* name, int type) {
  char plain[16];
  std::memset(plain, ' ', 15);
  std::memcpy(plain, name, std::strlen(name));
  plain[15] = static_cast<char>(type);
  b.push_back(32);
  for (char c : plain) put(b, {'A' + ((uint8_t(c) >> 4) & 0xF), 'A' + (uint8_t(c) & 0xF)});
  b.push_back(0);
}

Bytes dns(bool reply) {
  Bytes b = reply ? udp(53, 33000) : udp(33000, 53);
  put(b, {0x12, 0x34, reply ? 0x81 : 0x01, reply ? 0x80 : 0x00, 0, 1, 0, reply ? 1 : 0, 0, 0, 0, 0});
  for (const char* label : {"www", "example", "com"}) {
    b.push_back(static_cast<uint8_t>(std::strlen(label)));
    putText(b, label);
  }
  put(b, {0, 0, 1, 0, 1});
  return b;
}

Bytes nameQuery() {
  Bytes b = udp(137, 137, true);
  put(b, {0x80, 0x01, 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0});
  encodedName(b, "SERVER1", 0x20);
  return b;
}

Bytes datagram() {
  Bytes b = udp(138, 138, true);
  put(b, {0x11, 0x02, 0x80, 0x01, 10, 0, 0, 5, 0, 138, 0, 150, 0, 0});
  encodedName(b, "PC7", 0x00);
  encodedName(b, "WORKGROUP", 0x1D);
  return b;
}

Bytes arp() {
  Bytes b = ethernet(0x0806, true);
  put(b, {0, 1, 8, 0, 6, 4, 0, 1, 0x00, 0xA0, 0x24, 0x11, 0x22, 0x33, 10, 0, 0, 5, 0, 0, 0, 0, 0, 0, 10, 0, 0, 1});
  return b;
}

Bytes ping() {
  Bytes b = ip(1, 84);
  put(b, {8, 0, 0, 0, 0, 1, 0, 1});
  return b;
}

Bytes sap() {
  Bytes b = ethernet(34, true);
  put(b, {0xFF, 0xFF, 0, 34, 0, 4, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x52});
  put(b, {0, 0, 0, 1, 0x00, 0xA0, 0x24, 0x11, 0x22, 0x33, 0x40, 0x00, 0, 3, 0, 4});
  return b;
}

Bytes netbeui() {
  Bytes b = ethernet(40);
  put(b, {0xF0, 0xF0, 0x0A, 0x0C});
  return b;
}

Bytes netbiosFrame() {
  Bytes b = ethernet(47);
  b[0] = 0x03;
  b[1] = b[2] = b[3] = b[4] = 0;
  b[5] = 0x01;
  put(b, {0xF0, 0xF0, 0x03, 44, 0, 0xFF, 0xEF, 0x0A, 0, 0, 0, 0, 0, 0, 0});
  putText(b, "SERVER1        ");
  b.push_back(0x20);
  putText(b, "PC7            ");
  b.push_back(0x00);
  return b;
}

Bytes ipv6(unsigned nextHeader, unsigned payloadLength, bool multicast = false) {
  Bytes b = ethernet(0x86DD);
  if (multicast) {
    b[0] = b[1] = 0x33;
  }
  put32(b, 0x60000000);
  put16(b, payloadLength);
  put(b, {int(nextHeader), 64});
  put(b, {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0xA0, 0x24, 0xFF, 0xFE, 0x11, 0x22, 0x33});
  if (multicast) {
    put(b, {0xFF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0, 0, 7});
  } else {
    put(b, {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7});
  }
  return b;
}

Bytes tcp6(unsigned source, unsigned destination, unsigned flags, unsigned data) {
  Bytes b = ipv6(6, 20 + data);
  put16(b, source);
  put16(b, destination);
  put32(b, 123456789);
  put32(b, 987654321);
  put(b, {0x50, int(flags), 0x20, 0, 0, 0, 0, 0});
  return b;
}

Bytes dns6(unsigned port, bool reply) {
  Bytes b = ipv6(17, 60, port != 53);
  put16(b, reply ? port : 33000);
  put16(b, reply ? 33000 : port);
  put16(b, 60);
  put16(b, 0);
  put(b, {0x12, 0x34, reply ? 0x81 : 0x01, reply ? 0x80 : 0x00, 0, 1, 0, reply ? 1 : 0, 0, 0, 0, 0});
  for (const char* label : {"www", "example", "com"}) {
    b.push_back(static_cast<uint8_t>(std::strlen(label)));
    putText(b, label);
  }
  put(b, {0, 0, 28, 0, 1});
  return b;
}

Bytes icmp6(unsigned type) {
  Bytes b = ipv6(58, 32, type == 135);
  put(b, {int(type), 0, 0, 0, 0, 0, 0, 0});
  put(b, {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7});
  put(b, {1, 1, 0x00, 0xA0, 0x24, 0x11, 0x22, 0x33});
  return b;
}

Bytes mldReport() {
  Bytes b = ipv6(0, 36, true);
  put(b, {58, 0, 5, 2, 0, 0, 1, 0});
  put(b, {143, 0, 0, 0, 0, 0, 0, 1, 4, 0, 0, 0});
  put(b, {0xFF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0, 0, 7});
  return b;
}

Bytes dhcp6() {
  Bytes b = ipv6(17, 40, true);
  put(b, {0x02, 0x22, 0x02, 0x23, 0, 40, 0, 0, 1, 0x1A, 0x2B, 0x3C});
  return b;
}

// A dual-stack LAN's IPv6 side: TCP sessions, DNS, neighbour discovery,
// multicast DNS and listener reports, DHCPv6.
std::vector<Bytes> ipv6Mix() {
  std::vector<Bytes> mix;
  for (int i = 0; i < 6; ++i) mix.push_back(tcp6(50000 + i, 443, 0x10, 1400));
  for (int i = 0; i < 2; ++i) mix.push_back(tcp6(22, 51000 + i, 0x18, 40));
  mix.push_back(tcp6(50100, 443, 0x02, 0));
  mix.push_back(tcp6(1026, 139, 0x18, 60));
  mix.push_back(dns6(53, false));
  mix.push_back(dns6(53, true));
  mix.push_back(dns6(5353, false));
  mix.push_back(dns6(5355, true));
  mix.push_back(icmp6(135));
  mix.push_back(icmp6(136));
  mix.push_back(icmp6(128));
  mix.push_back(icmp6(1));
  mix.push_back(mldReport());
  mix.push_back(dhcp6());
  for (Bytes& frame : mix) frame.resize(256, 0);
  return mix;
}

// Weighted like an office LAN of the time: most frames are TCP sessions.
std::vector<Bytes> realisticMix() {
  std::vector<Bytes> mix;
  for (int i = 0; i < 6; ++i) mix.push_back(tcp(1025 + i, 80, 0x10, 1460));
  for (int i = 0; i < 3; ++i) mix.push_back(tcp(23, 1030 + i, 0x18, 1));
  mix.push_back(tcp(4000, 5000, 0x02, 0));
  mix.push_back(smb(0x72));
  mix.push_back(smb(0x75));
  mix.push_back(smb(0x2E));
  mix.push_back(dns(false));
  mix.push_back(dns(true));
  mix.push_back(nameQuery());
  mix.push_back(datagram());
  mix.push_back(arp());
  mix.push_back(ping());
  mix.push_back(sap());
  mix.push_back(netbeui());
  mix.push_back(netbiosFrame());
  mix.push_back(ethernet(0x86DD));
  for (Bytes& frame : mix) frame.resize(256, 0);  // as a ring slot holds them
  return mix;
}

void decodeFrames(benchmark::State& state, const std::vector<Bytes>& frames) {
  DecodeContext context;
  agent::AddressLists lists;
  lists.gateways[0] = 0x0100000A;
  context.addresses = &lists;
  PortNames::system();  // the table is built once, outside the timing
  DetailRecord record{};
  size_t next = 0;
  for (auto _ : state) {
    prepareDecodedFields(record);
    describeFrame(context, frames[next], record);
    benchmark::DoNotOptimize(record);
    if (++next == frames.size()) next = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RealisticMix(benchmark::State& state) { decodeFrames(state, realisticMix()); }
void BM_Ipv6Mix(benchmark::State& state) { decodeFrames(state, ipv6Mix()); }
void BM_TcpData(benchmark::State& state) { decodeFrames(state, {tcp(1025, 80, 0x10, 1460)}); }
void BM_SmbTreeConnect(benchmark::State& state) { decodeFrames(state, {smb(0x75)}); }
void BM_DnsReply(benchmark::State& state) { decodeFrames(state, {dns(true)}); }
void BM_NetbiosDatagram(benchmark::State& state) { decodeFrames(state, {datagram()}); }
void BM_Arp(benchmark::State& state) { decodeFrames(state, {arp()}); }

BENCHMARK(BM_RealisticMix);
BENCHMARK(BM_Ipv6Mix);
BENCHMARK(BM_TcpData);
BENCHMARK(BM_SmbTreeConnect);
BENCHMARK(BM_DnsReply);
BENCHMARK(BM_NetbiosDatagram);
BENCHMARK(BM_Arp);

}  // namespace
}  // namespace veltris::agent::decode

BENCHMARK_MAIN();
