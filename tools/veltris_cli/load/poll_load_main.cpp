// veltris-poll-load: many clients polling one agent, for benchmarks.
//   veltris-poll-load [--clients N] [--interval MS] [--seconds S] [--computer NAME] --key KEY REQUEST...
// Prints the calls, the failed calls and the latency percentiles.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/veltris_cli/load/poll_clients.h"

namespace {

using veltris::cli::PollPlan;

bool parseArguments(int argc, char** argv, PollPlan& plan) {
  std::string request;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--clients" && hasValue)
      plan.clients = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    else if (arg == "--interval" && hasValue)
      plan.interval = std::chrono::milliseconds(std::strtoul(argv[++i], nullptr, 10));
    else if (arg == "--seconds" && hasValue)
      plan.duration = std::chrono::seconds(std::strtoul(argv[++i], nullptr, 10));
    else if (arg == "--computer" && hasValue)
      plan.computer = argv[++i];
    else if (arg == "--key" && hasValue)
      plan.key = argv[++i];
    else if (arg.rfind("--", 0) == 0)
      return false;
    else
      request += (request.empty() ? "" : " ") + arg;
  }
  if (!request.empty()) plan.requests = {request};
  return plan.clients > 0 && plan.clients <= 1000 && plan.interval.count() > 0 && !plan.key.empty();
}

}  // namespace

int main(int argc, char** argv) {
  PollPlan plan;
  if (!parseArguments(argc, argv, plan)) {
    std::fprintf(stderr,
                 "usage: %s [--clients N] [--interval MS] [--seconds S] [--computer NAME] --key KEY REQUEST...\n",
                 argv[0]);
    return 2;
  }
  veltris::cli::PollSummary summary = veltris::cli::runPollClients(plan);
  std::printf("clients %u, request \"%s\" every %lld ms for %lld s\n", plan.clients, plan.requests[0].c_str(),
              static_cast<long long>(plan.interval.count()),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(plan.duration).count()));
  std::printf("calls %llu, failed %llu, records %llu\n", static_cast<unsigned long long>(summary.calls),
              static_cast<unsigned long long>(summary.failures), static_cast<unsigned long long>(summary.records));
  std::printf("latency p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
              veltris::cli::latencyPercentile(summary.latenciesUs, 0.50) / 1000.0,
              veltris::cli::latencyPercentile(summary.latenciesUs, 0.99) / 1000.0,
              veltris::cli::latencyPercentile(summary.latenciesUs, 1.0) / 1000.0);
  for (const std::string& error : summary.errors) std::printf("error: %s\n", error.c_str());
  return summary.failures == 0 ? 0 : 1;
}
