#include "tools/veltris_cli/load/poll_clients.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "tools/veltris_cli/agent_session.h"
#include "tools/veltris_cli/request_words.h"

namespace veltris::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMaxAdapters = 4;

struct ClientReport {
  uint64_t calls = 0;
  uint64_t failures = 0;
  uint64_t records = 0;
  std::vector<uint32_t> latenciesUs;
  std::string error;  // the first one
};

// True when every record behind the totals record is a T.
template <typename T>
bool holdsOnly(const Reply& reply) {
  for (size_t i = 1; i < reply.records.size(); ++i) {
    if (!std::holds_alternative<T>(reply.records[i])) return false;
  }
  return true;
}

// Rules every reply to the polled words keeps: totals first, the sequence
// number never going back, only the records the word asks for, and details
// only of packets newer than the number asked for.
std::string replyProblem(const std::string& request, const Reply& reply, uint32_t previousSequence) {
  const auto* totals = reply.records.empty() ? nullptr : std::get_if<TotalsRecord>(&reply.records[0]);
  if (totals == nullptr) return "the reply to \"" + request + "\" does not begin with a totals record";
  if (totals->sequence.get() < previousSequence) return "the packet sequence number went back";
  const std::string word = request.substr(0, request.find(' '));
  const uint32_t asked = sequenceNumberOf(request);
  if (word == "STATS_PRO") {
    if (!holdsOnly<PartnerStatRecord>(reply)) return "a STATS_PRO reply with other records";
    for (size_t i = 1; i < reply.records.size(); ++i) {
      const uint32_t adapter = std::get<PartnerStatRecord>(reply.records[i]).adapterNumber.get();
      if (adapter < 1 || adapter > kMaxAdapters) return "a STAT record of adapter " + std::to_string(adapter);
    }
  } else if (word == "DETAILS" || word == "ERRORS") {
    if (!holdsOnly<DetailRecord>(reply)) return "a " + word + " reply with other records";
    for (size_t i = 1; i < reply.records.size(); ++i) {
      const DetailRecord& detail = std::get<DetailRecord>(reply.records[i]);
      if (detail.sequence.get() <= asked)
        return "a DETL record of packet " + std::to_string(detail.sequence.get()) + " in the reply to \"" + request +
               "\"";
      if (detail.adapter.get() < 1 || detail.adapter.get() > kMaxAdapters) return "a DETL record of a bad adapter";
    }
  }
  return "";
}

void noteFailure(ClientReport& report, const std::string& error) {
  ++report.failures;
  if (report.error.empty()) report.error = error;
}

ClientReport pollAsClient(const PollPlan& plan, const std::string& request) {
  ClientReport report;
  AgentSession session;
  bool open = false;
  const bool follow = takesSequenceNumber(request) && request.find(' ') == std::string::npos;
  uint32_t sequence = 0;
  uint32_t lastTotals = 0;
  const auto end = Clock::now() + plan.duration;
  for (auto next = Clock::now(); next < end; next += plan.interval) {
    std::this_thread::sleep_until(next);
    SessionError error;
    const auto start = Clock::now();
    if (!open) {
      open = session.open(plan.computer, plan.key, error);
      if (!open) {
        ++report.calls;
        noteFailure(report, error.message);
        continue;
      }
    }
    const std::string text = follow ? withSequenceNumber(request, sequence) : request;
    Reply reply;
    const bool delivered = session.exchange(text, reply, error);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    ++report.calls;
    report.latenciesUs.push_back(static_cast<uint32_t>(std::min<int64_t>(us, UINT32_MAX)));
    if (!delivered) {
      noteFailure(report, error.message);
      session.close();  // as a console does: a failed request ends the connection
      open = false;
      continue;
    }
    if (std::string problem = replyProblem(text, reply, lastTotals); !problem.empty()) noteFailure(report, problem);
    report.records += reply.records.empty() ? 0 : reply.records.size() - 1;
    replySequence(reply, lastTotals);
    if (follow) sequence = lastTotals;
  }
  return report;
}

// The report crosses the pipe as 64-bit counts, the latencies, then the error text.
void appendU64(std::vector<uint8_t>& out, uint64_t value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

std::vector<uint8_t> encodeReport(const ClientReport& report) {
  std::vector<uint8_t> out;
  for (uint64_t value : {report.calls, report.failures, report.records, uint64_t{report.latenciesUs.size()}}) {
    appendU64(out, value);
  }
  const auto* latencies = reinterpret_cast<const uint8_t*>(report.latenciesUs.data());
  out.insert(out.end(), latencies, latencies + report.latenciesUs.size() * sizeof(uint32_t));
  out.insert(out.end(), report.error.begin(), report.error.end());
  return out;
}

bool decodeReport(const std::vector<uint8_t>& in, ClientReport& report) {
  uint64_t head[4];
  if (in.size() < sizeof head) return false;
  std::memcpy(head, in.data(), sizeof head);
  if ((in.size() - sizeof head) / sizeof(uint32_t) < head[3]) return false;
  report.calls = head[0];
  report.failures = head[1];
  report.records = head[2];
  report.latenciesUs.resize(head[3]);
  std::memcpy(report.latenciesUs.data(), in.data() + sizeof head, head[3] * sizeof(uint32_t));
  report.error.assign(in.begin() + static_cast<long>(sizeof head + head[3] * sizeof(uint32_t)), in.end());
  return true;
}

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::vector<uint8_t> readToEnd(int fd) {
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  return bytes;
}

struct Child {
  pid_t pid = -1;
  int reportFd = -1;
};

Child startClient(const PollPlan& plan, const std::string& request) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    writeAll(fds[1], encodeReport(pollAsClient(plan, request)));
    ::_exit(0);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return {};
  }
  return {pid, fds[0]};
}

void addReport(PollSummary& summary, const ClientReport& report) {
  summary.calls += report.calls;
  summary.failures += report.failures;
  summary.records += report.records;
  summary.latenciesUs.insert(summary.latenciesUs.end(), report.latenciesUs.begin(), report.latenciesUs.end());
  if (!report.error.empty()) summary.errors.push_back(report.error);
}

}  // namespace

PollSummary runPollClients(const PollPlan& plan) {
  std::vector<Child> children;
  for (uint32_t i = 0; i < plan.clients; ++i) {
    children.push_back(startClient(plan, plan.requests[i % plan.requests.size()]));
  }
  PollSummary summary;
  for (size_t i = 0; i < children.size(); ++i) {
    ClientReport report;
    const Child& child = children[i];
    const bool started = child.pid > 0;
    const bool reported = started && decodeReport(readToEnd(child.reportFd), report);
    int status = 0;
    if (started) {
      ::close(child.reportFd);
      ::waitpid(child.pid, &status, 0);
    }
    if (!reported) {
      report = {};
      noteFailure(report, "client " + std::to_string(i + 1) +
                              (started ? " ended without a report (status " + std::to_string(status) + ")"
                                       : " could not be started"));
    }
    addReport(summary, report);
  }
  return summary;
}

uint32_t latencyPercentile(std::vector<uint32_t> latenciesUs, double fraction) {
  if (latenciesUs.empty()) return 0;
  std::sort(latenciesUs.begin(), latenciesUs.end());
  const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(latenciesUs.size())));
  return latenciesUs[std::clamp<size_t>(rank, 1, latenciesUs.size()) - 1];
}

}  // namespace veltris::cli
