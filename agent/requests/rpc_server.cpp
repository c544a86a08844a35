#include "agent/requests/rpc_server.h"

#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

#include "agent/core/runtime.h"
#include "agent/requests/dispatcher.h"
#include "common/text_field.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tapsor_interface.h"

namespace veltris::agent {
namespace {

namespace tapsor = rpc::tapsor;

constexpr std::array<const char*, 4> kProtocolSequences = {"ncalrpc", "ncacn_ip_tcp",
                                                           "ncacn_nb_nb", "ncacn_spx"};
constexpr unsigned kCallsPerProtocolSequence = 3;
constexpr unsigned kMaxConcurrentCalls = 1234;
constexpr const char* kErrorCaption = "TapsorSv ERROR";

// Inbound calls carry at most RequestRpc's 272 bytes or an ept_map request:
// nobody gets to park more than a few KiB on the agent before a key check.
rpc::Limits agentLimits() {
  rpc::Limits limits;
  limits.maxReceiveFragment = 5840;
  limits.maxRequestStub = 4096;
  limits.maxRequestFragments = 8;
  return limits;
}

uint32_t pingRpc(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  if (!in.empty()) return rpc::fault::kNdr;
  consolePrint("PingRpc\n");
  tapsor::encodePingRpcOut(0, out);
  return 0;
}

uint32_t requestRpc(const RpcServerHooks& hooks, std::span<const uint8_t> in,
                    std::vector<uint8_t>& out) {
  tapsor::RequestRpcIn args;
  if (!tapsor::decodeRequestRpcIn(in, args)) return rpc::fault::kNdr;
  std::vector<uint8_t> reply;
  bool nullReply = false;
  int32_t status = hooks.request(args.accessKey.data(), args.request.data(), reply, nullReply);
  if (!nullReply && reply.size() > INT32_MAX) return rpc::fault::kOutArgsTooBig;
  tapsor::encodeRequestRpcOut(reply, nullReply, status, out);
  return 0;
}

rpc::Interface agentInterface(const RpcServerHooks& hooks) {
  rpc::Interface iface{tapsor::interfaceId(), "Tapsor", {}};
  iface.operations.push_back(
      {tapsor::kPingRpc, "PingRpc",
       [](const rpc::CallContext&, std::span<const uint8_t> in, std::vector<uint8_t>& out) {
         return pingRpc(in, out);
       }});
  iface.operations.push_back(
      {tapsor::kRequestRpc, "RequestRpc",
       [hooks](const rpc::CallContext&, std::span<const uint8_t> in, std::vector<uint8_t>& out) {
         return requestRpc(hooks, in, out);
       },
       // The console's poll is answered by the connection's reader itself.
       [](std::span<const uint8_t> in) {
         return in.size() == tapsor::kRequestStubSize && answeredFromMemory(Request(in.data() + tapsor::kAccessKeySize));
       }});
  return iface;
}

}  // namespace

std::string endpointRegisterFailureText(uint32_t status) {
  switch (status) {
    case rpc::status::kWrongKindOfBinding:
      return "RpcEpRegister failed - Wrong kind of binding";
    case rpc::status::kInvalidBinding:
      return "RpcEpRegister failed - Invalid binding";
    case rpc::status::kNoBindings:
      return "RpcEpRegister failed - No bindings";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "RpcEpRegister failed with rc %d", static_cast<int>(status));
      return text;
    }
  }
}

RpcServerThread::~RpcServerThread() { stop(); }

void RpcServerThread::start(RpcServerHooks hooks) {
  if (!hooks.request) throw std::invalid_argument("RpcServerThread needs a request handler");
  std::lock_guard lock(mutex_);
  if (phase_ != Phase::Idle) throw std::logic_error("RpcServerThread started twice");
  hooks_ = std::move(hooks);
  server_ = std::make_unique<rpc::Server>(agentLimits());
  if (hooks_.trace) {
    server_->setTrace([trace = hooks_.trace](std::string_view peer, std::string_view pdu, std::string_view reason) {
      std::string line = "RPC connection from " + printableText(peer, 64) + " closed: ";
      if (!pdu.empty()) line += std::string(pdu) + ", ";
      trace(line + std::string(reason));
    });
  }
  phase_ = Phase::Starting;
  thread_ = std::thread(&RpcServerThread::run, this);
}

void RpcServerThread::setPhase(Phase phase) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
  changed_.notify_all();
}

void RpcServerThread::fail(const char* text) {
  if (hooks_.messageBox) {
    hooks_.messageBox(kErrorCaption, text);
  } else {
    std::fprintf(stderr, "%s: %s\n", kErrorCaption, text);
  }
  server_.reset();  // closes whatever endpoints were opened
  setPhase(Phase::Ended);
}

void RpcServerThread::run() {
  if (server_->registerInterface(agentInterface(hooks_)) != rpc::status::kOk) {
    return fail("RpcServerRegisterIf failed");
  }
  server_->setTcpAddresses(hooks_.tcpAddresses);
  bool anyProtocolSequence = false;
  for (const char* protseq : kProtocolSequences) {
    uint32_t status = server_->useProtseq(protseq, kCallsPerProtocolSequence);
    consolePrint("RpcServerUseProtseq %s = %d\n", protseq, static_cast<int>(status));
    anyProtocolSequence |= status == rpc::status::kOk;
  }
  if (!anyProtocolSequence) return fail("RpcServerUseProtseq failed");
  std::vector<rpc::Binding> bindings = server_->bindings();
  if (bindings.empty()) return fail("RpcServerInqBindings failed");
  uint32_t status = mapper_.registerEndpoints(tapsor::interfaceId(), bindings);
  if (status != rpc::status::kOk) return fail(endpointRegisterFailureText(status).c_str());
  startEndpointMapper();

  consolePrint("Creating Taskbar Thread \n");
  if (hooks_.startTaskbar) hooks_.startTaskbar();
  consolePrint("To Terminate, close console window or press Ctrl-C\n");
  {
    std::unique_lock lock(mutex_);
    if (!stopRequested_ && server_->listen(kMaxConcurrentCalls) != rpc::status::kOk) {
      lock.unlock();
      mapper_.unregisterEndpoints(tapsor::interfaceId());
      return fail("RpcServerListen failed");
    }
    bindings_ = std::move(bindings);
    phase_ = stopRequested_ ? Phase::Ended : Phase::Listening;
    changed_.notify_all();
  }
  server_->waitForStop();
  mapper_.unregisterEndpoints(tapsor::interfaceId());
  setPhase(Phase::Ended);
}

// A mapper that cannot get its well-known endpoints is not fatal: the agent
// serves on, and clients have to name its endpoint themselves.
void RpcServerThread::startEndpointMapper() {
  rpc::MapperHosting hosting =
      rpc::hostEndpointMapper(*server_, mapper_, rpc::endpointMapperPort());
  std::string agentPort;
  for (const rpc::Binding& binding : server_->bindings()) {
    if (binding.protseq == rpc::Protseq::Tcp && agentPort.empty()) agentPort = binding.endpoint;
  }
  if (hosting.tcp.status == rpc::status::kOk) {
    std::lock_guard lock(mutex_);
    mapperPort_ = static_cast<uint16_t>(std::stoul(hosting.tcp.endpoint));
  } else {
    consolePrint("Endpoint mapper not started (%s); remote consoles must name the agent's "
                "port: ncacn_ip_tcp:<host>[%s]\n",
                hosting.tcp.error.c_str(), agentPort.c_str());
  }
  if (hosting.local.status != rpc::status::kOk) {
    consolePrint("Local endpoint mapper not started (%s)\n", hosting.local.error.c_str());
  }
}

void RpcServerThread::stop() {
  std::unique_lock lock(mutex_);
  stopRequested_ = true;
  rpc::Server* listening = phase_ == Phase::Listening ? server_.get() : nullptr;
  lock.unlock();
  if (listening) listening->stopListening();
  std::lock_guard join(joinMutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool RpcServerThread::waitUntilListening(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return phase_ == Phase::Listening || phase_ == Phase::Ended; });
  return phase_ == Phase::Listening;
}

std::vector<std::string> RpcServerThread::bindings() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> text;
  for (const rpc::Binding& binding : bindings_) text.push_back(rpc::toString(binding));
  return text;
}

uint16_t RpcServerThread::endpointMapperPort() const {
  std::lock_guard lock(mutex_);
  return mapperPort_;
}

}  // namespace veltris::agent
