// Broadcast list replies over full rings: "BCASTERS HIGH" with four full
// broadcast rings (18,000 broadcasts, every one from its own station, so each
// is decoded and makes a group), and "BCASTSENT LOW" with 4,500 broadcasts of
// this PC (every one decoded) falling into about a thousand groups.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/requests/detail_replies.h"

namespace veltris::agent {
namespace {

constexpr uint32_t kNow = 1700000000;

// Broadcast traffic of a LAN: ARP requests, NetBIOS name queries over UDP
// 137, and an IPX SAP query, sent from `mac` / 10.x.y.z.
std::vector<uint8_t> lanBroadcast(uint32_t n, const uint8_t (&mac)[6]) {
  std::vector<uint8_t> f(6, 0xFF);
  f.insert(f.end(), mac, mac + 6);
  const uint8_t host = static_cast<uint8_t>(n % 250 + 1);
  switch (n % 3) {
    case 0:  // ARP request for 10.0.(n/250).host
      f.insert(f.end(), {0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01});
      f.insert(f.end(), mac, mac + 6);
      f.insert(f.end(), {10, 0, 0, 5, 0, 0, 0, 0, 0, 0, 10, 0, static_cast<uint8_t>(n / 250 % 4), host});
      break;
    case 1: {  // NetBIOS name query to 10.0.0.255
      f.insert(f.end(), {0x08, 0x00, 0x45, 0, 0, 78, 0x12, 0x34, 0, 0, 128, 17, 0, 0, 10, 0, 0, 5, 10, 0, 0, 255});
      f.insert(f.end(), {0x00, 0x89, 0x00, 0x89, 0, 58, 0, 0});
      f.insert(f.end(), {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0,
                         0x20});
      for (int i = 0; i < 32; ++i) f.push_back(static_cast<uint8_t>('A' + (i < 2 ? host % 16 : 0)));
      f.insert(f.end(), {0, 0, 0x20, 0, 1});
      break;
    }
    default:  // IPX SAP general query
      f.insert(f.end(), {0x81, 0x37, 0xFF, 0xFF, 0, 34, 0, 4, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x04,
                         0x52, 0, 0, 0, 0});
      f.insert(f.end(), mac, mac + 6);
      f.insert(f.end(), {0x40, 0x00, 0, 1, 0, 4});
      break;
  }
  f.resize(std::max<size_t>(f.size(), 60), 0);
  return f;
}

BroadcastRecord makeBroadcast(uint32_t sequence, bool own, uint32_t stationNumber) {
  uint8_t mac[6] = {0x00, 0xA0, 0x24, static_cast<uint8_t>(stationNumber >> 16),
                    static_cast<uint8_t>(stationNumber >> 8), static_cast<uint8_t>(stationNumber)};
  BroadcastRecord r{};
  r.time = kNow - 600 + sequence % 600;
  r.sequence = sequence;
  char station[20];
  std::snprintf(station, sizeof station, "%s%02X%02X%02X%02X%02X%02X", own ? "*" : "", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  std::memcpy(r.station, station, std::strlen(station));
  std::snprintf(r.protoAddr, sizeof r.protoAddr, "IP 10.0.%u.%u", stationNumber / 250 % 250, stationNumber % 250);
  std::vector<uint8_t> frame = lanBroadcast(sequence, mac);
  std::memcpy(r.frame, frame.data(), std::min(frame.size(), sizeof r.frame));
  return r;
}

void fillRing(GlobalArea& global, int adapter, uint32_t& sequence, bool own) {
  NicArea& nic = *global.nics[adapter];
  for (uint32_t i = 0; i < kBroadcastRingSize; ++i) {
    ++sequence;
    nic.broadcasts.publish(i, makeBroadcast(sequence, own, own ? 1 : sequence));
  }
  nic.broadcastCount.store(kBroadcastRingSize);
  global.totals.sequence.store(sequence);
}

std::unique_ptr<GlobalArea> agentWithRings(int adapters, bool own) {
  auto global = std::make_unique<GlobalArea>();
  global->adapterCount = adapters;
  uint32_t sequence = 0;
  for (int i = 0; i < adapters; ++i) {
    global->nics[i] = std::make_unique<NicArea>();
    global->nics[i]->index = i;
    fillRing(*global, i, sequence, own);
  }
  return global;
}

uint32_t entryCount(const std::string& body) {
  uint32_t count = 0;
  std::memcpy(&count, body.data() + 36, sizeof count);
  return count;
}

void BM_BroadcastersHighFourFullRings(benchmark::State& state) {
  auto global = agentWithRings(kMaxAdapters, false);
  std::string body;
  for (auto _ : state) {
    buildBroadcasters(*global, kNow, false, body);
    benchmark::DoNotOptimize(body.data());
  }
  state.counters["groups"] = entryCount(body);
}
BENCHMARK(BM_BroadcastersHighFourFullRings)->Unit(benchmark::kMillisecond);

void BM_BroadcastsSentLowOwnRing(benchmark::State& state) {
  auto global = agentWithRings(1, true);
  std::string body;
  for (auto _ : state) {
    buildBroadcastsSent(*global, kNow, true, body);
    benchmark::DoNotOptimize(body.data());
  }
  state.counters["groups"] = entryCount(body);
}
BENCHMARK(BM_BroadcastsSentLowOwnRing)->Unit(benchmark::kMillisecond);

// A fresh body each time: growing the 4.39 MB buffer is part of the cost.
void BM_BroadcastersHighFreshBody(benchmark::State& state) {
  auto global = agentWithRings(kMaxAdapters, false);
  for (auto _ : state) {
    std::string body;
    buildBroadcasters(*global, kNow, false, body);
    benchmark::DoNotOptimize(body.data());
  }
}
BENCHMARK(BM_BroadcastersHighFreshBody)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veltris::agent

BENCHMARK_MAIN();
