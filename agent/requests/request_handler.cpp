#include "agent/requests/request_handler.h"

#include "platform/rpc/interface.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "agent/requests/dispatcher.h"
#include "platform/service/service_manager.h"
#include "platform/system_root.h"

namespace veltris::agent {
namespace {

constexpr size_t kMaxPeerText = 64;

uint8_t foldLetter(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

// The peer as it is remembered and logged: bounded, printable, "local" when empty.
std::string peerName(std::string_view peer) {
  if (peer.empty()) return "local";
  std::string name(peer.substr(0, kMaxPeerText));
  for (char& ch : name) {
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7f) ch = '?';
  }
  return name;
}

void syslogLine(const std::string& line) {
  if (!veltris::service::logEvent("TapsorSv", veltris::service::EventType::Warning, line))
    std::fprintf(stderr, "TapsorSv: %s\n", line.c_str());  // nobody would read the log
}

// Wrong-key and lock-out lines: syslog (standard error when no syslog daemon
// listens), and the console when the agent runs in the foreground.
KeyThrottle::Log securityLog(bool foreground) {
  if (!foreground) return syslogLine;
  return [](const std::string& line) {
    consolePrint("%s\n", line.c_str());
    veltris::service::logEvent("TapsorSv", veltris::service::EventType::Warning, line);
  };
}

// Local users are told apart by their uid and limited on their own; everyone
// else shares the network budget.
bool isLocalUser(const std::string& peer) { return peer == "local" || peer.starts_with("uid:"); }

std::string formatLine(const char* format, const std::string& peer, uint32_t a, uint32_t b) {
  char line[160];
  std::snprintf(line, sizeof line, format, peer.c_str(), a, b);
  return line;
}

// A body buffer kept per thread between requests, so a large reply does not
// touch fresh pages each time. Nested requests (the snapshot writer's) each
// take their own buffer from the pool.
struct ReusedBody {
  static constexpr size_t kKeptCapacity = 1u << 20;
  static constexpr size_t kKeptBuffers = 2;

  ReusedBody() {
    if (!spare().empty()) {
      body = std::move(spare().back());
      spare().pop_back();
    }
    body.clear();
  }
  ~ReusedBody() {
    if (body.capacity() <= kKeptCapacity && spare().size() < kKeptBuffers) spare().push_back(std::move(body));
  }
  static std::vector<std::string>& spare() {
    thread_local std::vector<std::string> buffers;
    return buffers;
  }

  std::string body;
};

}  // namespace

bool accessKeyMatches(const uint8_t supplied[kAccessKeySize], const uint8_t expected[kAccessKeySize]) {
  uint8_t difference = 0;  // no early exit: the time taken says nothing about the key
  for (size_t i = 0; i < kAccessKeySize; ++i) difference |= foldLetter(supplied[i]) ^ foldLetter(expected[i]);
  return difference == 0;
}

void writeReplyHeader(uint8_t out[sizeof(ReplyHeader)], uint32_t now, uint32_t trafficState) {
  time_t t = now;
  struct tm local{};
  localtime_r(&t, &local);
  char date[40];
  char clock[40];
  std::snprintf(date, sizeof date, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  ReplyHeader header;
  std::memcpy(header.tag, kReplyHeaderTag, 4);
  std::memcpy(header.version, kVersionStamp, 8);
  std::memcpy(header.date, date, 8);
  std::memcpy(header.time, clock, 8);
  header.trafficState = trafficState;
  std::memcpy(out, &header, sizeof header);
}

// ---- KeyThrottle -----------------------------------------------------------

KeyThrottle::KeyThrottle(KeyThrottlePolicy policy, Log log) : policy_(policy), log_(std::move(log)) {
  if (!log_) log_ = syslogLine;
  if (policy_.maxPeers == 0) policy_.maxPeers = 1;
}

bool KeyThrottle::refused(std::string_view peer, uint32_t now) {
  const std::string name = peerName(peer);
  std::string logLine;
  bool refuse = false;
  {
    std::lock_guard lock(mutex_);
    auto it = peers_.find(name);
    if (it != peers_.end() && now < it->second.lockedUntil) return true;
    refuse = !spendNetworkBudget(name, now, logLine);
  }
  if (!logLine.empty()) log_(logLine);
  return refuse;
}

bool KeyThrottle::lockedOut(std::string_view peer, uint32_t now) {
  const std::string name = peerName(peer);
  std::lock_guard lock(mutex_);
  auto it = peers_.find(name);
  return it != peers_.end() && now < it->second.lockedUntil;
}

bool KeyThrottle::spendNetworkBudget(const std::string& peer, uint32_t now, std::string& logLine) {
  if (isLocalUser(peer)) return true;
  auto proven = proven_.find(peer);
  if (proven != proven_.end()) {
    if (now - proven->second < policy_.provenSeconds) return true;
    proven_.erase(proven);
  }
  if (budgetSecond_ != now) {
    if (budgetRefused_ > 0) {
      logLine = formatLine("RequestRpc: %s and others: %u access keys refused unseen beyond %u a second",
                           peer, budgetRefused_, policy_.networkKeysPerSecond);
    }
    budgetSecond_ = now;
    budgetUsed_ = 0;
    budgetRefused_ = 0;
  }
  if (budgetUsed_ < policy_.networkKeysPerSecond) {
    ++budgetUsed_;
    return true;
  }
  ++budgetRefused_;
  return false;
}

void KeyThrottle::noteFailure(std::string_view peer, uint32_t now) {
  const std::string name = peerName(peer);
  std::string failureLine;
  std::string lockoutLine;
  {
    std::lock_guard lock(mutex_);
    PeerRecord* r = recordFor(name, now);
    if (r == nullptr) {  // every remembered peer is locked out: only the budget limits this one
      failureLine = formatLine("RequestRpc: wrong access key from %s (%u within %u s)", name, 1,
                               policy_.windowSeconds);
    } else {
      if (r->failures == 0 || now - r->windowStart >= policy_.windowSeconds) {
        r->windowStart = now;
        r->failures = 0;
      }
      ++r->failures;
      failureLine = formatLine("RequestRpc: wrong access key from %s (%u within %u s)", name, r->failures,
                               policy_.windowSeconds);
      if (r->failures >= policy_.maxFailures) {
        lockoutLine = formatLine("RequestRpc: requests from %s refused for %u s after %u wrong access keys", name,
                                 policy_.lockoutSeconds, r->failures);
        r->lockedUntil = now + policy_.lockoutSeconds;
        r->failures = 0;
      }
    }
  }
  log_(failureLine);
  if (!lockoutLine.empty()) log_(lockoutLine);
}

void KeyThrottle::noteSuccess(std::string_view peer, uint32_t now) {
  const std::string name = peerName(peer);
  std::lock_guard lock(mutex_);
  if (!peers_.empty()) peers_.erase(name);
  if (isLocalUser(name)) return;
  if (proven_.size() >= policy_.maxPeers) {
    std::erase_if(proven_, [&](const auto& entry) { return now - entry.second >= policy_.provenSeconds; });
  }
  if (proven_.size() < policy_.maxPeers || proven_.count(name)) proven_[name] = now;
}

size_t KeyThrottle::peerCount() {
  std::lock_guard lock(mutex_);
  return peers_.size();
}

// The peer's record; when the table is full the oldest window that is not
// locked out makes room. Null when every remembered peer is locked out.
KeyThrottle::PeerRecord* KeyThrottle::recordFor(const std::string& peer, uint32_t now) {
  auto it = peers_.find(peer);
  if (it != peers_.end()) return &it->second;
  if (peers_.size() >= policy_.maxPeers) forgetStale(now);
  if (peers_.size() >= policy_.maxPeers) {
    auto oldest = peers_.end();
    for (auto p = peers_.begin(); p != peers_.end(); ++p) {
      if (now < p->second.lockedUntil) continue;
      if (oldest == peers_.end() || p->second.windowStart < oldest->second.windowStart) oldest = p;
    }
    if (oldest == peers_.end()) return nullptr;
    peers_.erase(oldest);
  }
  return &peers_[peer];
}

void KeyThrottle::forgetStale(uint32_t now) {
  std::erase_if(peers_, [&](const auto& entry) {
    const PeerRecord& r = entry.second;
    return now >= r.lockedUntil && now - r.windowStart >= policy_.windowSeconds;
  });
}

// ---- RequestHandler ----------------------------------------------------------

RequestHandler::RequestHandler(AgentRuntime& rt, RequestHandlerOptions options)
    : rt_(rt),
      throttle_(options.throttle, options.securityLog ? std::move(options.securityLog) : securityLog(rt.debug)),
      reload_(std::move(options.reloadAccessParameters)) {
  if (!reload_) {
    watch_ = std::make_unique<AccessParameterWatch>(rt.global, platform::registryFile());
    reload_ = [watch = watch_.get()](GlobalArea&) { watch->reloadIfChanged(); };
  }
}

int32_t RequestHandler::handle(const uint8_t key[kAccessKeySize], const uint8_t request[kRequestSize],
                               std::vector<uint8_t>& reply, bool& nullReply, std::string_view peer) {
  const uint32_t now = rt_.clock->now();
  nullReply = true;
  const Request text(request);
  RequestCounters& counters = rt_.global.requests;
  const int row = requestWordRow(text);
  if (throttle_.refused(peer, now)) {
    counters.count(row, kRequestLockedOut);
    return kKeyMismatch;
  }
  if (text.matches(0, "OPEN ", 5, true)) reload_(rt_.global);
  uint8_t expected[kAccessKeySize];
  {
    std::lock_guard lock(rt_.global.labelMutex);
    std::memcpy(expected, rt_.global.accessKey, sizeof expected);
  }
  if (!accessKeyMatches(key, expected)) {
    throttle_.noteFailure(peer, now);
    counters.count(row, kRequestWrongKey);
    if (throttle_.lockedOut(peer, now)) counters.lockouts.fetch_add(1, std::memory_order_relaxed);
    return kKeyMismatch;
  }
  throttle_.noteSuccess(peer, now);
  counters.count(row, kRequestOk);
  serveRequest(rt_, text, reply);
  nullReply = false;
  return kRequestDelivered;
}

int32_t RequestHandler::handleOwn(std::string_view requestText, std::vector<uint8_t>& reply) {
  const Request text(requestText);
  if (text.matches(0, "OPEN ", 5, true)) reload_(rt_.global);
  serveRequest(rt_, text, reply);
  return kRequestDelivered;
}

void serveRequest(AgentRuntime& rt, const Request& request, std::vector<uint8_t>& reply) {
  ReusedBody reused;
  std::string& body = reused.body;
  dispatchRequest(rt, request, body);
  reply.resize(sizeof(ReplyHeader) + body.size());  // a full heap throws: a failed call
  writeReplyHeader(reply.data(), rt.clock->now(), rt.global.trafficState.load(std::memory_order_relaxed));
  std::memcpy(reply.data() + sizeof(ReplyHeader), body.data(), body.size());
}

RequestHook RequestHandler::hook() {
  return [this](const uint8_t* key, const uint8_t* request, std::vector<uint8_t>& reply, bool& nullReply) {
    // On an RPC call thread the runtime knows who is calling.
    const rpc::CallContext* call = rpc::currentCallContext();
    std::string_view peer;
    if (call != nullptr) peer = call->user.empty() ? call->peer : call->user;
    return handle(key, request, reply, nullReply, peer);
  };
}

}  // namespace veltris::agent
