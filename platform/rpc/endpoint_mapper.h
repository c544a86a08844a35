#pragma once
// The endpoint mapper: a table of {interface, endpoint} that servers register
// (RpcEpRegister) and clients query with ept_map / ept_lookup to find a dynamic
// endpoint. The agent's process hosts it on TCP 135 (or VELTRIS_EPM_PORT) and on
// the local endpoint "epmapper".
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/rpc/binding.h"
#include "platform/rpc/epm_stubs.h"
#include "platform/rpc/interface.h"
#include "platform/rpc/server.h"
#include "platform/rpc/tower.h"

namespace veltris::rpc {

class EndpointMapper {
 public:
  EndpointMapper();

  // Status 0; kNoBindings for an empty vector; kInvalidBinding for a binding
  // without a usable endpoint. Registering an endpoint again replaces it.
  uint32_t registerEndpoints(const SyntaxId& iface, const std::vector<Binding>& bindings,
                             const std::string& annotation = {});
  void unregisterEndpoints(const SyntaxId& iface);
  size_t size() const;

  // The mapper's RPC interface; its handlers refer to this object, which must
  // outlive every server that registers the interface.
  Interface makeInterface();

  EptMapResponse map(const EptMapRequest& request, const CallContext& context) const;
  EptLookupResponse lookup(const EptLookupRequest& request) const;

 private:
  struct Entry {
    SyntaxId iface;
    TowerAddress address;
    std::string annotation;
  };

  size_t startIndex(const ContextHandle& handle) const;
  ContextHandle continuation(size_t nextIndex) const;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  uint32_t instance_;  // tells this mapper's lookup handles from others'
};

struct MapperHosting {
  ListenerResult tcp;
  ListenerResult local;
};

// Registers the mapper's interface with `server` and listens on its two
// well-known endpoints (tcpPort 0: a dynamic port). A failure of either is
// reported, not fatal: the server keeps its other endpoints.
MapperHosting hostEndpointMapper(Server& server, EndpointMapper& mapper, uint16_t tcpPort);

}  // namespace veltris::rpc
