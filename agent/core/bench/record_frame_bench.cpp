// Filing frames as the read loop does (device read aside): handlers, record
// frame, rings, counters, under the NIC area's lock. A mix of LAN traffic with
// a full partner table (500 entries), over IPv4 and the same mix over IPv6.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "agent/capture/net_monitor.h"
#include "tests/support/filing_harness.h"
#include "tests/support/ipv6_frames.h"

namespace veltris::agent {
namespace {

using namespace testing;

constexpr int kPeers = 150;
constexpr size_t kTcpSequenceOffset = 14 + 20 + 4;
constexpr size_t kTcp6SequenceOffset = 14 + 40 + 4;
const Mac kDnsMac = stationMac(0xD0D);
const Ip4 kDnsIp = {192, 168, 1, 2};
const Ip6 kStationIp6 = ip6("2001:db8::10");
const Ip6 kDnsIp6 = ip6("2001:db8::2");

Ip6 stationIp6(int n) {
  Ip6 a = ip6("2001:db8::");
  a[13] = static_cast<uint8_t>(n >> 16);
  a[14] = static_cast<uint8_t>(n >> 8);
  a[15] = static_cast<uint8_t>(n);
  return a;
}

enum class Family { V4, V6 };

struct Template {
  uint8_t bytes[256] = {};
  capture::FrameRead read;
  int connection = -1;     // TCP connection whose sequence the frame carries
  uint32_t advance = 0;    // sequence advance after the frame; 0 repeats it (re-transmit)
};

class TrafficMix {
 public:
  explicit TrafficMix(Family family = Family::V4) : v6_(family == Family::V6) { build(); }

  // The next frame, with its TCP sequence number brought up to date.
  Template& next() {
    Template& t = frames_[position_];
    position_ = position_ + 1 == frames_.size() ? 0 : position_ + 1;
    if (t.connection >= 0) {
      uint32_t& seq = sequences_[t.connection];
      uint8_t* p = t.bytes + (v6_ ? kTcp6SequenceOffset : kTcpSequenceOffset);
      p[0] = static_cast<uint8_t>(seq >> 24);
      p[1] = static_cast<uint8_t>(seq >> 16);
      p[2] = static_cast<uint8_t>(seq >> 8);
      p[3] = static_cast<uint8_t>(seq);
      seq += t.advance;
    }
    return t;
  }
  size_t size() const { return frames_.size(); }

 private:
  void add(const Bytes& frame, uint32_t wire = 0, int connection = -1, uint32_t advance = 0) {
    Template& t = frames_.emplace_back();
    std::memcpy(t.bytes, frame.data(), std::min<size_t>(frame.size(), 256));
    t.read.stored = static_cast<uint32_t>(std::min<size_t>(frame.size(), 256));
    t.read.wireLength = wire != 0 ? wire : static_cast<uint32_t>(frame.size());
    t.connection = connection;
    t.advance = advance;
  }

  void build() {
    for (int round = 0; round < 10; ++round) {
      for (int k = 0; k < 100; ++k) addOne(round * 100 + k, k);
    }
    sequences_.assign(2 * kPeers + 1, 1);
  }

  // One frame of the mix: k (0..99) picks its kind, n varies the stations.
  void addOne(int n, int k) {
    if (v6_) return addOne6(n, k);
    int peer = (n * 7) % kPeers + 1;
    Mac mac = stationMac(peer);
    Ip4 ip = stationIp(peer);
    if (k < 30) {  // TCP sent, full-sized, every tenth a re-transmit
      Bytes f = tcpFrame(mac, kStationMac, kStationIp, ip, 1025, 445, 0, kAck | kPsh, 200);
      add(f, 1514, peer, k % 10 == 9 ? 0 : 1460);
    } else if (k < 60) {  // TCP received
      Bytes f = tcpFrame(kStationMac, mac, ip, kStationIp, 445, 1025, 0, kAck | kPsh, 100);
      add(f, 0, kPeers + peer, k % 10 == 9 ? 0 : 100);
    } else if (k < 64) {  // DNS query and reply
      add(ipFrame(kDnsMac, kStationMac, kStationIp, kDnsIp, 17, udp(3000, 53, dnsQuery(static_cast<uint16_t>(n), "host.lan"))));
    } else if (k < 68) {
      add(ipFrame(kStationMac, kDnsMac, kDnsIp, kStationIp, 17, udp(53, 3000, dnsReplyA(static_cast<uint16_t>(n), "host.lan", ip))));
    } else if (k < 78) {  // NetBIOS datagram broadcasts
      add(ipFrame(kBroadcastMac, mac, ip, {192, 168, 1, 255}, 17, udp(138, 138, netbiosDatagram("WKS", 0x00, ip))));
    } else if (k < 84) {  // ARP from others
      add(arpRequestFrame(mac, ip, kStationIp));
    } else if (k < 86) {  // ARP from this PC
      add(arpRequestFrame(kStationMac, kStationIp, ip));
    } else if (k < 92) {  // NetBEUI sessions, one receiver-not-ready
      add(ieee8023(kStationMac, mac, llc(0xF0, 0xF0, k == 91 ? 0x05 : 0x01, Bytes(40, 0))));
    } else if (k < 96) {  // ping
      add(ipFrame(mac, kStationMac, kStationIp, ip, 1, icmp(8)));
    } else {  // IPv6 multicast
      add(ethernet({0x33, 0x33, 0, 0, 0, 1}, mac, 0x86DD, Bytes(60, 0)));
    }
  }

  // The same mix over IPv6: neighbour solicitations for ARP, mDNS for the
  // NetBIOS datagrams, ICMPv6 echo for ping.
  void addOne6(int n, int k) {
    int peer = (n * 7) % kPeers + 1;
    Mac mac = stationMac(peer);
    Ip6 ip = stationIp6(peer);
    const Ip6 mdns = ip6("ff02::fb");
    if (k < 30) {
      add(tcp6Frame(mac, kStationMac, kStationIp6, ip, 1025, 445, 0, kAck | kPsh, 180), 1514, peer,
          k % 10 == 9 ? 0 : 1440);
    } else if (k < 60) {
      add(tcp6Frame(kStationMac, mac, ip, kStationIp6, 445, 1025, 0, kAck | kPsh, 100), 0, kPeers + peer,
          k % 10 == 9 ? 0 : 100);
    } else if (k < 64) {
      add(ip6Frame(kDnsMac, kStationMac, kStationIp6, kDnsIp6, 17, udp(3000, 53, dnsQuery(static_cast<uint16_t>(n), "host.lan"))));
    } else if (k < 68) {
      add(ip6Frame(kStationMac, kDnsMac, kDnsIp6, kStationIp6, 17, udp(53, 3000, dnsReplyA(static_cast<uint16_t>(n), "host.lan", stationIp(peer)))));
    } else if (k < 78) {
      add(ip6Frame(multicastMac(mdns), mac, ip, mdns, 17, udp(5353, 5353, dnsQuery(0, "wks.local"))));
    } else if (k < 84) {
      add(solicitationFrame(mac, ip, kStationIp6));
    } else if (k < 86) {
      add(solicitationFrame(kStationMac, kStationIp6, ip));
    } else if (k < 92) {
      add(ieee8023(kStationMac, mac, llc(0xF0, 0xF0, k == 91 ? 0x05 : 0x01, Bytes(40, 0))));
    } else if (k < 96) {
      add(ip6Frame(mac, kStationMac, kStationIp6, ip, kIcmpv6, icmpv6(128)));
    } else {
      add(ethernet({0x01, 0x00, 0x5E, 0, 0, 1}, mac, 0x0800, ipv4(2, stationIp(peer), {224, 0, 0, 1}, Bytes(8, 0))));
    }
  }

  bool v6_;
  std::vector<Template> frames_;
  std::vector<uint32_t> sequences_;
  size_t position_ = 0;
};

// The mix's stations, then further stations until the partner table is full.
void fillPartnerTable(FilingHarness& h, TrafficMix& mix) {
  for (size_t i = 0; i < mix.size(); ++i) {
    Template& t = mix.next();
    fileCompletedRead(*h.filer, h.time, t.bytes, t.read);
  }
  for (int extra = 1000; h.nic.partnerCount < kMaxPartners; ++extra) {
    Bytes f = ipFrame(kStationMac, stationMac(extra), stationIp(extra), kStationIp, 17, udp(1, 2, {}));
    h.file(f);
  }
}

// The realistic mix over IPv4 or, in place of it, IPv6.
void fileMix(benchmark::State& state, Family family) {
  auto h = std::make_unique<FilingHarness>();
  TrafficMix mix(family);
  fillPartnerTable(*h, mix);
  for (auto _ : state) {
    Template& t = mix.next();
    fileCompletedRead(*h->filer, h->time, t.bytes, t.read);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["partners"] = h->nic.partnerCount;
  TrafficTotals totals = h->global.totals.load();
  state.counters["errors"] = totals.errorsSent + totals.errorsReceived;
}

void BM_FileFrames(benchmark::State& state) { fileMix(state, Family::V4); }
BENCHMARK(BM_FileFrames);

void BM_FileFramesIpv6(benchmark::State& state) { fileMix(state, Family::V6); }
BENCHMARK(BM_FileFramesIpv6);

// Unicast frames from stations that find the table full: formatted texts each time.
void BM_FileFramesTableFull(benchmark::State& state) {
  auto h = std::make_unique<FilingHarness>();
  TrafficMix mix;
  fillPartnerTable(*h, mix);
  std::vector<Template> strangers(256);
  for (int i = 0; i < 256; ++i) {
    Bytes f = ipFrame(kStationMac, stationMac(5000 + i), stationIp(5000 + i), kStationIp, 17, udp(1, 2, {}));
    std::memcpy(strangers[i].bytes, f.data(), f.size());
    strangers[i].read = {static_cast<uint32_t>(f.size()), static_cast<uint32_t>(f.size())};
  }
  size_t i = 0;
  for (auto _ : state) {
    Template& t = strangers[i++ & 255];
    fileCompletedRead(*h->filer, h->time, t.bytes, t.read);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileFramesTableFull);

}  // namespace
}  // namespace veltris::agent

BENCHMARK_MAIN();
