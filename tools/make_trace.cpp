// Writes a capture file of a realistic LAN mix seen from one PC, for replay
// benchmarks and demos:  make_trace FILE [FRAMES] [PARTNERS]
// The PC is 02:00:00:00:00:01 / 10.0.0.1. Mix: TCP sessions with the partners
// (now and then a re-transmit or a reset), ARP and NetBIOS broadcasts, DNS
// queries and answers, some 802.2 LLC (NetBEUI) frames, a few large frames.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/byte_order.h"

namespace {

struct Frame {
  uint8_t bytes[1514] = {};
  uint32_t length = 0;
};

void put16(uint8_t* p, uint16_t v) { veltris::storeBe16(p, v); }
void put32(uint8_t* p, uint32_t v) { veltris::storeBe32(p, v); }

void mac(uint8_t* p, uint32_t host) {
  const uint8_t m[6] = {0x02, 0, 0, 0, static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
  std::memcpy(p, m, 6);
}
uint32_t ip(uint32_t host) { return 0x0A000000u | host; }

void ethernet(Frame& f, const uint8_t* dst, const uint8_t* src, uint16_t type) {
  std::memcpy(f.bytes, dst, 6);
  std::memcpy(f.bytes + 6, src, 6);
  put16(f.bytes + 12, type);
}

uint8_t* ipv4(Frame& f, uint32_t src, uint32_t dst, uint8_t protocol, uint16_t payload) {
  uint8_t* h = f.bytes + 14;
  h[0] = 0x45;
  put16(h + 2, static_cast<uint16_t>(20 + payload));
  h[8] = 64;
  h[9] = protocol;
  put32(h + 12, src);
  put32(h + 16, dst);
  f.length = 14 + 20 + payload;
  if (f.length < 60) f.length = 60;
  return h + 20;
}

void tcp(Frame& f, uint32_t self, uint32_t partner, bool sent, uint32_t seq, uint8_t flags, uint16_t data) {
  uint8_t a[6], b[6];
  mac(a, self);
  mac(b, partner);
  ethernet(f, sent ? b : a, sent ? a : b, 0x0800);
  uint8_t* t = ipv4(f, ip(sent ? self : partner), ip(sent ? partner : self), 6, static_cast<uint16_t>(20 + data));
  put16(t, sent ? 1025 : 139);
  put16(t + 2, sent ? 139 : 1025);
  put32(t + 4, seq);
  t[12] = 0x50;
  t[13] = flags;
}

void arpBroadcast(Frame& f, uint32_t sender, uint32_t target) {
  uint8_t bcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, src[6];
  mac(src, sender);
  ethernet(f, bcast, src, 0x0806);
  uint8_t* a = f.bytes + 14;
  put16(a, 1);
  put16(a + 2, 0x0800);
  a[4] = 6;
  a[5] = 4;
  put16(a + 6, 1);
  std::memcpy(a + 8, src, 6);
  put32(a + 14, ip(sender));
  put32(a + 24, ip(target));
  f.length = 60;
}

void dns(Frame& f, uint32_t self, uint32_t server, bool answer, uint16_t id, uint32_t host) {
  uint8_t a[6], b[6];
  mac(a, self);
  mac(b, server);
  ethernet(f, answer ? a : b, answer ? b : a, 0x0800);
  char name[32];
  int n = std::snprintf(name, sizeof name, "host%u", host);
  uint16_t questionLength = static_cast<uint16_t>(1 + n + 1 + 4 + 4 + 1 + 4 + 1);  // host<n>.lan + type/class
  uint16_t answerLength = answer ? 16 : 0;
  uint16_t payload = static_cast<uint16_t>(8 + 12 + questionLength + answerLength);
  uint8_t* u = ipv4(f, ip(answer ? server : self), ip(answer ? self : server), 17, payload);
  put16(u, answer ? 53 : 1053);
  put16(u + 2, answer ? 1053 : 53);
  put16(u + 4, payload);
  uint8_t* d = u + 8;
  put16(d, id);
  put16(d + 2, answer ? 0x8180 : 0x0100);
  put16(d + 4, 1);
  put16(d + 6, answer ? 1 : 0);
  uint8_t* q = d + 12;
  *q++ = static_cast<uint8_t>(n);
  std::memcpy(q, name, static_cast<size_t>(n));
  q += n;
  *q++ = 3;
  std::memcpy(q, "lan", 3);
  q += 3;
  *q++ = 0;
  put16(q, 1);
  put16(q + 2, 1);
  q += 4;
  if (answer) {
    put16(q, 0xC00C);
    put16(q + 2, 1);
    put16(q + 4, 1);
    put32(q + 6, 300);
    put16(q + 10, 4);
    put32(q + 12, ip(host));
  }
}

void netbeui(Frame& f, uint32_t self, uint32_t partner, bool sent) {
  uint8_t a[6], b[6];
  mac(a, self);
  mac(b, partner);
  std::memcpy(f.bytes, sent ? b : a, 6);
  std::memcpy(f.bytes + 6, sent ? a : b, 6);
  put16(f.bytes + 12, 46);
  f.bytes[14] = 0xF0;
  f.bytes[15] = 0xF0;
  f.bytes[16] = 0x01;
  f.length = 60;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [FRAMES] [PARTNERS]\n", argv[0]);
    return 2;
  }
  const uint64_t frames = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const uint32_t partners = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 500;
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, argv[1]);
  if (out == nullptr) {
    std::fprintf(stderr, "%s: %s\n", argv[1], pcap_geterr(dead));
    return 1;
  }
  const uint32_t self = 1, server = 2;
  std::vector<uint32_t> sequence(partners + 3, 1000);
  uint32_t seed = 12345;
  auto random = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  pcap_pkthdr header{};
  header.ts.tv_sec = 944000000;
  for (uint64_t i = 0; i < frames; ++i) {
    Frame f;
    uint32_t partner = 3 + random() % partners;
    uint32_t pick = random() % 100;
    if (pick < 60) {
      bool sent = (pick & 1) != 0;
      uint16_t data = pick < 5 ? 1400 : static_cast<uint16_t>(20 + random() % 400);
      uint32_t& seq = sequence[partner];
      if (pick != 7) seq += data;  // one frame in a hundred is a re-transmit
      tcp(f, self, partner, sent, seq, pick == 9 ? 0x04 : 0x18, data);
    } else if (pick < 75) {
      arpBroadcast(f, partner, 1 + random() % 250);
    } else if (pick < 88) {
      dns(f, self, server, (pick & 1) != 0, static_cast<uint16_t>(i), partner);
    } else {
      netbeui(f, self, partner, (pick & 1) != 0);
    }
    header.caplen = f.length;
    header.len = f.length;
    header.ts.tv_usec = static_cast<suseconds_t>(i % 1000000);
    if (i % 1000000 == 999999) ++header.ts.tv_sec;
    pcap_dump(reinterpret_cast<u_char*>(out), &header, f.bytes);
  }
  pcap_dump_close(out);
  pcap_close(dead);
  return 0;
}
