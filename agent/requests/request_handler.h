#pragma once
// The request handler behind RequestRpc: checks the access key, slows down
// peers that keep presenting wrong keys, has the dispatcher build the body and
// puts the 32-byte reply header in front of it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agent/core/access_watch.h"
#include "agent/core/runtime.h"
#include "common/reply_records.h"

namespace veltris::agent {

class Request;

constexpr int32_t kRequestDelivered = 0;
constexpr int32_t kKeyMismatch = -2;

// The shape the RPC server calls: 0 with a reply, or -2 with nullReply set.
using RequestHook = std::function<int32_t(const uint8_t key[kAccessKeySize], const uint8_t request[kRequestSize],
                                          std::vector<uint8_t>& reply, bool& nullReply)>;

// All 16 bytes compared, letters a to z taken as A to Z, zero bytes included.
bool accessKeyMatches(const uint8_t supplied[kAccessKeySize], const uint8_t expected[kAccessKeySize]);

// The 32-byte "TASK" header: version stamp, local date and time of `now`, traffic state code.
void writeReplyHeader(uint8_t out[sizeof(ReplyHeader)], uint32_t now, uint32_t trafficState);

struct KeyThrottlePolicy {
  uint32_t maxFailures = 5;      // wrong keys from one peer within the window ...
  uint32_t windowSeconds = 60;
  uint32_t lockoutSeconds = 60;  // ... refuse that peer this long
  size_t maxPeers = 4096;        // peers remembered at once; locked-out peers go last
  // Keys looked at per second for network peers that have not shown the right
  // key yet, all together; beyond it they are refused unseen.
  uint32_t networkKeysPerSecond = 20;
  uint32_t provenSeconds = 3600;  // a peer that showed the right key skips that budget this long
};

// Wrong-key bookkeeping per peer: an address, or "uid:N" for a local user
// (local socket, or TCP from this machine). Each wrong key is logged with the
// peer (never the key); a peer locked out gets -2 without its key being looked at.
class KeyThrottle {
 public:
  using Log = std::function<void(const std::string& line)>;

  explicit KeyThrottle(KeyThrottlePolicy policy = {}, Log log = {});  // empty log: syslog

  // True when the key of this request is not to be looked at: the peer is
  // locked out, or the network budget of this second is spent.
  bool refused(std::string_view peer, uint32_t now);
  // True while `peer` is locked out; spends nothing of the budget.
  bool lockedOut(std::string_view peer, uint32_t now);
  void noteFailure(std::string_view peer, uint32_t now);
  void noteSuccess(std::string_view peer, uint32_t now);
  size_t peerCount();  // peers remembered now

 private:
  struct PeerRecord {
    uint32_t windowStart = 0;
    uint32_t failures = 0;
    uint32_t lockedUntil = 0;
  };

  PeerRecord* recordFor(const std::string& peer, uint32_t now);
  void forgetStale(uint32_t now);
  bool spendNetworkBudget(const std::string& peer, uint32_t now, std::string& logLine);

  KeyThrottlePolicy policy_;
  Log log_;
  std::mutex mutex_;
  std::unordered_map<std::string, PeerRecord> peers_;
  std::unordered_map<std::string, uint32_t> proven_;  // peer -> last right key
  uint32_t budgetSecond_ = 0;
  uint32_t budgetUsed_ = 0;
  uint32_t budgetRefused_ = 0;
};

struct RequestHandlerOptions {
  KeyThrottlePolicy throttle;
  // Empty: syslog (LOG_DAEMON, "TapsorSv"), or standard error without a
  // syslog daemon; in the foreground the console too.
  KeyThrottle::Log securityLog;
  // Called for "OPEN " from a peer that is not locked out. Empty: the
  // handler's own watch of the registry file re-reads "OpenKey" and
  // "AutoIpName" when the file changed, at most once a second.
  std::function<void(GlobalArea&)> reloadAccessParameters;
};

// Dispatches `request` and puts the reply header in front of the body: the
// handler's work once the key has passed.
void serveRequest(AgentRuntime& rt, const Request& request, std::vector<uint8_t>& reply);

class RequestHandler {
 public:
  explicit RequestHandler(AgentRuntime& rt, RequestHandlerOptions options = {});

  // RequestRpc. `peer` is the caller's network address without port, or
  // "uid:N" for a local user (empty: local); it keys the wrong-key throttle
  // and appears in the log.
  // The reply is resized to 32 + n bytes; on -2 it is left untouched.
  int32_t handle(const uint8_t key[kAccessKeySize], const uint8_t request[kRequestSize], std::vector<uint8_t>& reply,
                 bool& nullReply, std::string_view peer = {});

  // A request from inside the agent (the snapshot writer) with the agent's own key.
  int32_t handleOwn(std::string_view requestText, std::vector<uint8_t>& reply);

  // handle() in the RPC server's shape, the peer taken from the RPC call; the
  // handler must outlive it.
  RequestHook hook();

  // The registry watch behind the default reload (null when the options gave one).
  AccessParameterWatch* accessWatch() { return watch_.get(); }

 private:
  AgentRuntime& rt_;
  KeyThrottle throttle_;
  std::unique_ptr<AccessParameterWatch> watch_;
  std::function<void(GlobalArea&)> reload_;
};

}  // namespace veltris::agent
