#include "platform/access/agent_connection.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/access/veltris.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tapsor_interface.h"
#include "platform/rpc/tcp_address.h"

namespace veltris::access {
namespace {

namespace tapsor = rpc::tapsor;
using namespace std::chrono_literals;

constexpr auto kPingTimeout = 10s;
constexpr auto kRequestTimeout = 60s;
constexpr auto kLongRequestTimeout = 300s;  // external commands, snapshots
constexpr size_t kMaxRequestText = tapsor::kRequestSize - 1;
constexpr char kSnapshotPrefix[] = "*SNAPSHOT*";
constexpr char kSnapshotTag[] = "VSN ";
constexpr size_t kReplyHeaderSize = 32;
constexpr int32_t kFailed = -1;
static_assert(snapshot::kNoStoredReply == TAPSOR_SNAPSHOT_NO_REPLY);

std::string trimmed(std::string text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t first = 0;
  while (first < text.size() && blank(text[first])) ++first;
  return text.substr(first);
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "fe80::1%eth0", "[2001:db8::1]" or "[::1][1234]": an IPv6 literal, bare or
// in brackets, then an endpoint as after a name; "" for any other text.
std::string ipv6Binding(const std::string& name) {
  std::string host = name;
  std::string endpoint;
  if (name.front() == '[') {
    size_t close = name.find(']');
    if (close == std::string::npos) return {};
    host = name.substr(1, close - 1);
    endpoint = name.substr(close + 1);
    if (!endpoint.empty() && endpoint.front() != '[') return {};
  }
  if (!rpc::isIpv6Literal(host)) return {};
  return "ncacn_ip_tcp:" + host + endpoint;
}

}  // namespace

std::vector<std::string> bindingsForComputer(const char* computer) {
  std::string name = trimmed(computer ? computer : "");
  if (startsWith(name, kSnapshotPrefix)) return {};
  while (!name.empty() && name.front() == '\\') name.erase(0, 1);
  if (name.empty()) return {"ncalrpc:", "ncacn_ip_tcp:127.0.0.1"};
  if (std::string binding = ipv6Binding(name); !binding.empty()) return {binding};
  if (name.find(':') != std::string::npos) return {name};  // already a binding string
  return {"ncacn_ip_tcp:" + name};
}

std::string snapshotPath(const char* computer) {
  std::string name = trimmed(computer ? computer : "");
  if (!startsWith(name, kSnapshotPrefix)) return {};
  return trimmed(name.substr(std::strlen(kSnapshotPrefix)));
}

std::chrono::milliseconds requestTimeout(const std::string& request) {
  for (const char* word : {"CMD ", "CFG ", "SNAPSHOT"}) {
    if (startsWith(request, word)) return kLongRequestTimeout;
  }
  return kRequestTimeout;
}

int32_t AgentConnection::open(const char* computer) {
  std::lock_guard lock(mutex_);
  client_.reset();
  snapshot_.reset();
  forgetReply();
  key_ = {};
  std::vector<std::string> bindings = bindingsForComputer(computer);
  if (bindings.empty()) return openSnapshot(snapshotPath(computer));
  int32_t status = static_cast<int32_t>(rpc::status::kServerUnavailable);
  for (const std::string& binding : bindings) {
    status = openBinding(binding);
    if (status == 0) break;
  }
  return status;
}

int32_t AgentConnection::openSnapshot(const std::string& path) {
  if (path.empty()) return TAPSOR_SNAPSHOT_UNREADABLE;
  snapshot::SnapshotFile file;
  switch (file.load(path)) {
    case snapshot::LoadResult::Ok:
      break;
    case snapshot::LoadResult::Unreadable:
      return TAPSOR_SNAPSHOT_UNREADABLE;
    case snapshot::LoadResult::NotASnapshot:
      return TAPSOR_SNAPSHOT_NOT_A_SNAPSHOT;
    case snapshot::LoadResult::CutShort:
      return TAPSOR_SNAPSHOT_CUT_SHORT;
  }
  snapshot_ = std::make_unique<snapshot::SnapshotAgent>(std::move(file));
  return 0;
}

// Binds and pings, so that an open connection is known to reach the agent.
int32_t AgentConnection::openBinding(const std::string& binding) {
  auto client = std::make_unique<rpc::Client>();
  uint32_t status = client->open(binding, tapsor::interfaceId());
  std::vector<uint8_t> reply;
  if (status == rpc::status::kOk) status = client->call(tapsor::kPingRpc, {}, reply, kPingTimeout);
  int32_t pingStatus = 0;
  if (status == rpc::status::kOk && !tapsor::decodePingRpcOut(reply, pingStatus)) {
    status = rpc::status::kBadStubData;
  }
  if (status != rpc::status::kOk) return static_cast<int32_t>(status);
  if (pingStatus != 0) return pingStatus;
  client_ = std::move(client);
  return 0;
}

int32_t AgentConnection::write(const char* request) {
  std::lock_guard lock(mutex_);
  forgetReply();
  std::string text(request ? request : "");
  text.resize(std::min(text.size(), kMaxRequestText));
  if (snapshot_) {  // any key is good for a snapshot
    uint8_t buffer[tapsor::kRequestSize] = {};
    std::copy(text.begin(), text.end(), buffer);
    return snapshot_->answer(buffer, reply_);
  }
  if (!client_) return static_cast<int32_t>(rpc::status::kInvalidBinding);
  if (text.size() >= 5 && ::strncasecmp(text.c_str(), "OPEN ", 5) == 0) {
    key_ = {};
    std::string password = text.substr(5, key_.size());
    std::copy(password.begin(), password.end(), key_.begin());
  }
  tapsor::RequestRpcIn in;
  in.accessKey = key_;
  std::copy(text.begin(), text.end(), in.request.begin());  // the rest stays zero
  std::vector<uint8_t> stub;
  uint32_t status =
      client_->call(tapsor::kRequestRpc, tapsor::encodeRequestRpcIn(in), stub, requestTimeout(text));
  if (status != rpc::status::kOk) return static_cast<int32_t>(status);
  tapsor::RequestRpcOut out;
  if (!tapsor::decodeRequestRpcOut(stub, out)) return static_cast<int32_t>(rpc::status::kBadStubData);
  if (out.status != 0) return out.status;
  reply_ = std::move(out.reply);
  return 0;
}

int32_t AgentConnection::read(void* record, int32_t size) {
  std::lock_guard lock(mutex_);
  if (record == nullptr || size <= 0) return kFailed;
  auto wanted = static_cast<size_t>(size);
  if (reply_.size() - cursor_ < wanted) {  // no whole record left: the tag will not match
    std::memset(record, 0, wanted);
    cursor_ = reply_.size();
    return kFailed;
  }
  std::memcpy(record, reply_.data() + cursor_, wanted);
  cursor_ += wanted;
  return 0;
}

int32_t AgentConnection::save(const char* path) {
  std::lock_guard lock(mutex_);
  if (path == nullptr || *path == '\0') return kFailed;
  // A reply that holds the signature alone is the agent's empty snapshot: no file for it.
  if (reply_.size() <= kReplyHeaderSize + 4 ||
      std::memcmp(reply_.data() + kReplyHeaderSize, kSnapshotTag, 4) != 0) {
    return kFailed;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(reply_.data() + kReplyHeaderSize),
             static_cast<std::streamsize>(reply_.size() - kReplyHeaderSize));
  file.close();
  if (!file) {
    std::remove(path);
    return kFailed;
  }
  return 0;
}

int32_t AgentConnection::close() {
  std::lock_guard lock(mutex_);
  client_.reset();
  snapshot_.reset();
  forgetReply();
  key_ = {};
  return 0;
}

void AgentConnection::forgetReply() {
  reply_.clear();
  reply_.shrink_to_fit();
  cursor_ = 0;
}

}  // namespace veltris::access
