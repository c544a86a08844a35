// Scrape cost with four adapters and 2000 partners: building the page, and a
// whole HTTP GET over loopback.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "agent/metrics/metrics_server.h"
#include "agent/metrics/metrics_text.h"

namespace {

using namespace veltris::agent;

GlobalArea& fullAgent() {
  static GlobalArea global;
  if (global.adapterCount == 0) {
    for (int i = 0; i < kMaxAdapters; ++i) {
      auto& nic = global.nics[global.adapterCount++];
      nic = std::make_unique<NicArea>();
      std::snprintf(nic->deviceName, sizeof nic->deviceName, "\\Device\\Tapsor_eth%d", i);
      nic->partnerCount = kMaxPartners;
      nic->tcpCount = kMaxTcpConnections;
      for (auto& name : nic->stationNames) name.time = 1;
      nic->counters.sessionFrames[kSent].add(123456789);
    }
  }
  return global;
}

void BM_MetricsPage(benchmark::State& state) {
  GlobalArea& global = fullAgent();
  for (auto _ : state) benchmark::DoNotOptimize(metricsText(global));
}
BENCHMARK(BM_MetricsPage);

void BM_MetricsScrape(benchmark::State& state) {
  static MetricsServer server;
  std::string error;
  if (server.port() == 0 && !server.start(fullAgent(), "127.0.0.1:0", error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.port());
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  char buffer[16384];
  size_t bytes = 0;
  for (auto _ : state) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    send(fd, request.data(), request.size(), 0);
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) bytes += static_cast<size_t>(n);
    close(fd);
  }
  state.counters["bytes/scrape"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MetricsScrape)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
