// "SNAPSHOT" (no path) of a busy agent: four adapters with full packet, error
// and broadcast rings and full partner tables (2000 partners). The whole reply
// as the request handler builds it: every nested request, the four capture
// images and the round trip through the temporary file. The PC has no IP
// address here, so the external "CMD" items (NETSTAT, ARP, IPCONFIG, ROUTE,
// each a process of its own) are not part of the figure.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "agent/diagnostics/role_labels.h"
#include "agent/requests/dispatcher.h"
#include "agent/requests/request_handler.h"
#include "agent/requests/snapshot_writer.h"
#include "platform/netconfig/config_source.h"

namespace veltris::agent {
namespace {

// An Ethernet frame from `mac` of `length` bytes: ARP requests, TCP segments
// and NetBIOS name queries in turn.
std::vector<uint8_t> frame(uint32_t n, uint8_t adapter, uint32_t length) {
  const uint8_t mac[6] = {0x00, 0xA0, 0x24, adapter, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  std::vector<uint8_t> f;
  if (n % 3 == 0) {
    f.assign(6, 0xFF);
    f.insert(f.end(), mac, mac + 6);
    f.insert(f.end(), {0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01});
    f.insert(f.end(), mac, mac + 6);
    f.insert(f.end(), {10, adapter, 0, static_cast<uint8_t>(n), 0, 0, 0, 0, 0, 0, 10, adapter, 0, 1});
  } else if (n % 3 == 1) {
    f = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    f.insert(f.end(), mac, mac + 6);
    f.insert(f.end(), {0x08, 0x00, 0x45, 0, 0x05, 0xDC, 0x12, 0x34, 0x40, 0, 64, 6, 0, 0, 10, adapter, 1,
                       static_cast<uint8_t>(n), 10, adapter, 0, 1});
    f.insert(f.end(), {0x00, 0x8B, 0x04, 0x01, 0, 0, 0, static_cast<uint8_t>(n), 0, 0, 0, 1, 0x50, 0x18, 0x20, 0, 0,
                       0, 0, 0, 0x00, 0x00, 0x05, 0xA0, 0xFF, 'S', 'M', 'B', 0x25});
  } else {
    f.assign(6, 0xFF);
    f.insert(f.end(), mac, mac + 6);
    f.insert(f.end(), {0x08, 0x00, 0x45, 0, 0, 78, 0x12, 0x34, 0, 0, 128, 17, 0, 0, 10, adapter, 2,
                       static_cast<uint8_t>(n), 10, adapter, 255, 255, 0x00, 0x89, 0x00, 0x89, 0, 58, 0, 0});
    f.insert(f.end(), {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0, 0x20});
    f.insert(f.end(), 32, static_cast<uint8_t>('A' + n % 16));
    f.insert(f.end(), {0, 0, 0x20, 0, 1});
  }
  f.resize(std::max<size_t>(f.size(), std::min<uint32_t>(length, 256)), 0);
  return f;
}

PacketRecord packetEntry(uint32_t sequence, uint32_t time, uint8_t adapter, uint32_t errorKind) {
  PacketRecord r{};
  r.complete = 1;
  r.time = time;
  r.sequence = sequence;
  r.length = sequence % 3 == 1 ? 1514 : 60;
  std::snprintf(r.station, sizeof r.station, "00A024%02X%04X", adapter, sequence & 0xFFFF);
  std::snprintf(r.protoAddr, sizeof r.protoAddr, "IP 10.%u.1.%u", adapter, sequence % 250);
  r.frameKind = sequence % 6;
  r.errorKind = errorKind;
  const std::vector<uint8_t> bytes = frame(sequence, adapter, r.length.get());
  std::memcpy(r.frame, bytes.data(), std::min(bytes.size(), sizeof r.frame));
  return r;
}

void fillAdapter(NicArea& nic, uint8_t adapter, uint32_t now, uint32_t& sequence) {
  {
    std::lock_guard lock(nic.tableMutex);
    for (int i = 0; i < kMaxPartners; ++i) {
      Partner& p = nic.partners[i];
      std::memset(&p.record, 0, sizeof p.record);
      std::snprintf(p.record.station, sizeof p.record.station, "0200%02X%06X", adapter, i);
      std::snprintf(p.record.protoAddr, sizeof p.record.protoAddr, "IP 10.%d.%d.%d", adapter, i / 250, i % 250);
      std::snprintf(p.record.hostName, sizeof p.record.hostName, "HOST-%d-%d.EXAMPLE.COM", adapter, i);
      p.record.changeStamp = static_cast<uint32_t>(1 + i);
      p.record.lastSeen = now - static_cast<uint32_t>(i);
      p.record.framesSent = static_cast<uint32_t>(i * 3);
    }
    nic.partnerCount = kMaxPartners;
  }
  for (uint32_t i = 0; i < kBroadcastRingSize; ++i) {
    BroadcastRecord b{};
    b.time = now - 600 + i % 600;
    b.sequence = ++sequence;
    std::snprintf(b.station, sizeof b.station, "%s00A024%02X%04X", i % 10 == 0 ? "*" : "", adapter, i % 700);
    std::snprintf(b.protoAddr, sizeof b.protoAddr, "IP 10.%u.2.%u", adapter, i % 250);
    const std::vector<uint8_t> bytes = frame(i * 3, adapter, 60);
    std::memcpy(b.frame, bytes.data(), std::min(bytes.size(), sizeof b.frame));
    nic.broadcasts.publish(i, b);
  }
  nic.broadcastCount = kBroadcastRingSize;
  for (uint32_t i = 0; i < kErrorRingSize; ++i) nic.errors.publish(i, packetEntry(++sequence, now - 60, adapter, 1 + i % 6));
  nic.errorCount = kErrorRingSize;
  const uint32_t captured = 100000;
  for (uint32_t k = captured - kPacketRingSize + 1; k <= captured; ++k) {
    nic.packets.publish((k - 1) % kPacketRingSize, packetEntry(++sequence, now - (captured - k) / 10, adapter, 0));
  }
  nic.readsCompleted = captured;
}

struct BusyAgent {
  BusyAgent() {
    char pattern[] = "/tmp/veltris-snapshot-bench-XXXXXX";
    dir = ::mkdtemp(pattern);
    if (::chdir(dir.c_str()) != 0) std::abort();  // the history folder
    // A configuration without addresses: no external command runs.
    installDiagnostics(rt, netconfig::makeRegistrySource(dir / "registry.reg", dir / "windows"));
    std::strcpy(rt.global.hostName, "BENCHPC");
    const uint32_t now = rt.clock->now();
    uint32_t sequence = 0;
    for (int a = 0; a < kMaxAdapters; ++a) {
      rt.global.nics[a] = std::make_unique<NicArea>();
      rt.global.nics[a]->index = a;
      fillAdapter(*rt.global.nics[a], static_cast<uint8_t>(a), now, sequence);
    }
    rt.global.adapterCount = kMaxAdapters;
    rt.global.totals.sequence = sequence;
  }
  ~BusyAgent() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
  AgentRuntime rt;
};

BusyAgent& agent() {
  static BusyAgent instance;
  return instance;
}

void BM_SnapshotReplyFourFullAdapters(benchmark::State& state) {
  BusyAgent& a = agent();
  const Request request("SNAPSHOT");
  std::vector<uint8_t> reply;
  for (auto _ : state) {
    serveRequest(a.rt, request, reply);
    benchmark::DoNotOptimize(reply.data());
    if (reply.size() < 1000000 || std::memcmp(reply.data() + 32, "VSN ", 4) != 0) state.SkipWithError("no snapshot");
  }
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_SnapshotReplyFourFullAdapters)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each item of the snapshot on its own, to see where the time goes.
void BM_SnapshotItem(benchmark::State& state) {
  BusyAgent& a = agent();
  const std::string text = snapshotRequests(a.rt.clock->now(), false).at(static_cast<size_t>(state.range(0)));
  state.SetLabel(text);
  const Request request(text);
  std::vector<uint8_t> reply;
  for (auto _ : state) {
    serveRequest(a.rt, request, reply);
    benchmark::DoNotOptimize(reply.data());
  }
}
BENCHMARK(BM_SnapshotItem)->DenseRange(0, 11)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CaptureImageOfAFullRing(benchmark::State& state) {
  BusyAgent& a = agent();
  for (auto _ : state) {
    std::string image = buildCaptureImage(*a.rt.global.nics[0]);
    benchmark::DoNotOptimize(image.data());
  }
}
BENCHMARK(BM_CaptureImageOfAFullRing)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace veltris::agent

BENCHMARK_MAIN();
