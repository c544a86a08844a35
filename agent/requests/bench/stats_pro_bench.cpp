// "STATS_PRO 0" against four full partner tables (2000 entries): the whole
// reply as the request handler builds it, header and 2000 "STAT" records.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "agent/requests/dispatcher.h"
#include "agent/requests/request_handler.h"

namespace veltris::agent {
namespace {

void fillPartnerTable(NicArea& nic, int adapter, uint32_t now) {
  std::lock_guard lock(nic.tableMutex);
  for (int i = 0; i < kMaxPartners; ++i) {
    Partner& p = nic.partners[i];
    std::memset(&p.record, 0, sizeof p.record);
    std::snprintf(p.record.station, sizeof p.record.station, "0200%02X%06X", adapter, i);
    std::snprintf(p.record.protoAddr, sizeof p.record.protoAddr, "IP 10.%d.%d.%d", adapter, i / 250, i % 250);
    std::snprintf(p.record.hostName, sizeof p.record.hostName, "HOST-%d-%d.EXAMPLE.COM", adapter, i);
    p.record.changeStamp = static_cast<uint32_t>(1 + i);
    p.record.lastSeen = now - static_cast<uint32_t>(i * 37);
    p.record.framesSent = static_cast<uint32_t>(i * 3);
    p.record.framesReceived = static_cast<uint32_t>(i * 5);
    p.bytesSent = static_cast<uint64_t>(i) * 1500;
    p.bytesReceived = static_cast<uint64_t>(i) * 900;
  }
  nic.partnerCount = kMaxPartners;
}

struct FullAgent {
  FullAgent() {
    const uint32_t now = rt.clock->now();
    for (int a = 0; a < kMaxAdapters; ++a) {
      rt.global.nics[a] = std::make_unique<NicArea>();
      rt.global.nics[a]->index = a;
      fillPartnerTable(*rt.global.nics[a], a, now);
    }
    rt.global.adapterCount = kMaxAdapters;
    std::memcpy(rt.global.accessKey, "BENCHKEY", 8);
    rt.global.totals.sequence = 100000;
  }
  AgentRuntime rt;
};

FullAgent& agent() {
  static FullAgent instance;
  return instance;
}

void BM_StatsProReply(benchmark::State& state) {
  FullAgent& a = agent();
  RequestHandler handler(a.rt);
  uint8_t key[kAccessKeySize] = {};
  std::memcpy(key, "benchkey", 8);
  uint8_t request[kRequestSize] = {};
  std::memcpy(request, "STATS_PRO 0", 11);
  std::vector<uint8_t> reply;
  bool nullReply = false;
  for (auto _ : state) {
    int32_t status = handler.handle(key, request, reply, nullReply, "127.0.0.1");
    benchmark::DoNotOptimize(reply.data());
    if (status != kRequestDelivered || reply.size() != 32 + 100 + 2000 * 124) state.SkipWithError("wrong reply");
  }
  state.counters["records"] = 2000;
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_StatsProReply)->Unit(benchmark::kMicrosecond);

void BM_StatsProNoChanges(benchmark::State& state) {
  FullAgent& a = agent();
  std::string body;
  const Request request("STATS_PRO 100000");
  for (auto _ : state) {
    body.clear();
    dispatchRequest(a.rt, request, body);
    benchmark::DoNotOptimize(body.data());
  }
}
BENCHMARK(BM_StatsProNoChanges)->Unit(benchmark::kMicrosecond);

void BM_Total(benchmark::State& state) {
  FullAgent& a = agent();
  RequestHandler handler(a.rt);
  uint8_t key[kAccessKeySize] = {};
  std::memcpy(key, "BENCHKEY", 8);
  uint8_t request[kRequestSize] = {};
  std::memcpy(request, "TOTAL", 5);
  std::vector<uint8_t> reply;
  bool nullReply = false;
  for (auto _ : state) {
    handler.handle(key, request, reply, nullReply, "127.0.0.1");
    benchmark::DoNotOptimize(reply.data());
  }
}
BENCHMARK(BM_Total)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace veltris::agent

BENCHMARK_MAIN();
