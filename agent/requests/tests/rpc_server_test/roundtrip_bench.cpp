// RequestRpc round trip over TCP loopback: our client against the ServerRPC
// thread with the fake handler. Reports the median and 99th percentile of single
// calls besides Google Benchmark's mean.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "agent/requests/rpc_server.h"
#include "agent/requests/tests/rpc_server_test/fake_agent.h"
#include "platform/rpc/client.h"
#include "platform/rpc/tapsor_interface.h"

namespace {

using namespace veltris;
using Clock = std::chrono::steady_clock;

class BenchAgent {
 public:
  BenchAgent() {
    char pattern[] = "/tmp/vbenchXXXXXX";
    root_ = ::mkdtemp(pattern);
    ::setenv("VELTRIS_ROOT", root_.c_str(), 1);
    ::setenv("VELTRIS_EPM_PORT", "0", 1);
    server_.start(agent::testing::fakeAgentHooks());
    server_.waitUntilListening(std::chrono::seconds(10));
    for (const std::string& text : server_.bindings()) {
      rpc::Binding binding;
      if (rpc::parseBinding(text, binding) == 0 && binding.protseq == rpc::Protseq::Tcp) {
        tcp_ = "ncacn_ip_tcp:127.0.0.1[" + binding.endpoint + "]";
      }
    }
  }
  ~BenchAgent() {
    server_.stop();
    std::filesystem::remove_all(root_);
  }
  const std::string& tcpBinding() const { return tcp_; }

 private:
  std::filesystem::path root_;
  agent::RpcServerThread server_;
  std::string tcp_;
};

void runRoundTrips(benchmark::State& state, const std::string& requestText) {
  static BenchAgent agent;
  rpc::Client client;
  if (client.open(agent.tcpBinding(), rpc::tapsor::interfaceId()) != 0) {
    state.SkipWithError(client.lastError().c_str());
    return;
  }
  rpc::tapsor::RequestRpcIn in{agent::testing::keyBytes(agent::testing::kFakeKey),
                               agent::testing::requestBytes(requestText)};
  std::vector<uint8_t> stub = rpc::tapsor::encodeRequestRpcIn(in);
  std::vector<uint8_t> reply;
  std::vector<double> micros;
  for (auto _ : state) {
    auto begin = Clock::now();
    if (client.call(rpc::tapsor::kRequestRpc, stub, reply, std::chrono::seconds(10)) != 0) {
      state.SkipWithError("call failed");
      break;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}

void BM_RequestRpcTcpSmallReply(benchmark::State& state) { runRoundTrips(state, "STATS_PRO 0"); }
void BM_RequestRpcTcp1MiBReply(benchmark::State& state) { runRoundTrips(state, "BIG 1048576"); }

BENCHMARK(BM_RequestRpcTcpSmallReply)->MinTime(2.0);
BENCHMARK(BM_RequestRpcTcp1MiBReply)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
