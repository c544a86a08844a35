#pragma once
// Many clients polling one agent at once, as consoles do: each client is a
// process of its own (the access library holds one connection per process),
// sends its request at a fixed interval, checks every reply and times it.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace veltris::cli {

struct PollPlan {
  uint32_t clients = 16;
  // Client i sends requests[i % size]. "STATS_PRO", "DETAILS" or "ERRORS"
  // without a number follow the packet sequence number of the previous reply.
  std::vector<std::string> requests = {"STATS_PRO"};
  std::chrono::milliseconds interval{100};
  std::chrono::milliseconds duration{std::chrono::seconds(5)};
  std::string computer;  // empty: this PC
  std::string key;
};

struct PollSummary {
  uint64_t calls = 0;
  uint64_t failures = 0;              // failed calls and replies that break their request's rules
  uint64_t records = 0;               // records behind the totals records
  std::vector<uint32_t> latenciesUs;  // one per call, failed ones included
  std::vector<std::string> errors;    // the first error of each client that had one
};

// Runs the clients and waits for all of them. Call from a process without threads.
PollSummary runPollClients(const PollPlan& plan);

// The latency below which `fraction` of the calls finished (0.5: the median).
uint32_t latencyPercentile(std::vector<uint32_t> latenciesUs, double fraction);

}  // namespace veltris::cli
