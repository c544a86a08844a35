// libFuzzer target: every PDU and stub decoder on the input, then the input cut
// into PDUs and fed to a server association hosting the endpoint mapper and the
// agent interface's stubs.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/rpc/association.h"
#include "platform/rpc/endpoint_mapper.h"
#include "platform/rpc/epm_stubs.h"
#include "platform/rpc/pdu.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tapsor_interface.h"
#include "platform/rpc/tower.h"

namespace veltris::rpc {
namespace {

void decodeEverything(std::span<const uint8_t> input) {
  decodeHeader(input);
  decodeBind(input);
  decodeBindAck(input);
  decodeBindNak(input);
  decodeRequest(input);
  decodeResponse(input);
  decodeFault(input);
  decodeTower(input);
  EptMapRequest mapRequest;
  decodeEptMapRequest(input, mapRequest);
  EptMapResponse mapResponse;
  decodeEptMapResponse(input, mapResponse);
  EptLookupRequest lookupRequest;
  decodeEptLookupRequest(input, lookupRequest);
  EptLookupResponse lookupResponse;
  decodeEptLookupResponse(input, lookupResponse);
  tapsor::RequestRpcIn in;
  tapsor::decodeRequestRpcIn(input, in);
  tapsor::RequestRpcOut out;
  tapsor::decodeRequestRpcOut(input, out);
}

Interface agentInterface() {
  Interface iface{tapsor::interfaceId(), "agent", {}};
  iface.operations.push_back({tapsor::kPingRpc, "PingRpc",
                              [](const CallContext&, std::span<const uint8_t> in,
                                 std::vector<uint8_t>& out) {
                                if (!in.empty()) return fault::kNdr;
                                tapsor::encodePingRpcOut(0, out);
                                return 0u;
                              }});
  iface.operations.push_back({tapsor::kRequestRpc, "RequestRpc",
                              [](const CallContext&, std::span<const uint8_t> in,
                                 std::vector<uint8_t>& out) {
                                tapsor::RequestRpcIn request;
                                if (!tapsor::decodeRequestRpcIn(in, request)) return fault::kNdr;
                                bool refused = request.accessKey[0] != 'K';
                                tapsor::encodeRequestRpcOut(request.request, refused,
                                                            refused ? tapsor::kKeyMismatch : 0,
                                                            out);
                                return 0u;
                              }});
  return iface;
}

void feedAssociation(std::span<const uint8_t> input) {
  static EndpointMapper mapper;
  static const bool registered = mapper.registerEndpoints(
      tapsor::interfaceId(), {Binding{Protseq::Tcp, "127.0.0.1", "4000"},
                              Binding{Protseq::Local, "", "LRPC-fuzz"}}) == 0;
  static const auto agent = std::make_shared<const Interface>(agentInterface());
  static const auto epm = std::make_shared<const Interface>(mapper.makeInterface());
  (void)registered;
  Limits limits;
  limits.maxRequestStub = 64 * 1024;
  limits.maxReplyStub = 1u << 20;
  Association association(
      [](const SyntaxId& id) {
        if (isCompatible(agent->id, id)) return agent;
        return isCompatible(epm->id, id) ? epm : std::shared_ptr<const Interface>{};
      },
      limits, CallContext{Protseq::Tcp, "4000", 0x7f000001, "fuzz"});
  CollectingSink sink;
  while (input.size() >= kCommonHeaderSize) {
    size_t length = decodeHeader(input)->fragLength;
    if (length < kCommonHeaderSize || length > input.size() ||
        length > association.maxIncomingFragment()) {
      return;
    }
    if (association.receive(input.first(length), sink) == Verdict::Close) return;
    sink.pdus.clear();
    input = input.subspan(length);
  }
}

}  // namespace
}  // namespace veltris::rpc

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  veltris::rpc::decodeEverything(input);
  veltris::rpc::feedAssociation(input);
  return 0;
}
