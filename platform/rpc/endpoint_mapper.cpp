#include "platform/rpc/endpoint_mapper.h"

#include <arpa/inet.h>

#include <atomic>

#include "platform/rpc/ndr.h"
#include "platform/rpc/status.h"

namespace veltris::rpc {
namespace {

// ept_lookup inquiry types (0: every entry) and version options.
constexpr uint32_t kInquiryByInterface = 1;
constexpr uint32_t kInquiryByObject = 2;
constexpr uint32_t kInquiryByBoth = 3;
constexpr uint32_t kVersionAll = 1;
constexpr uint32_t kVersionCompatible = 2;
constexpr uint32_t kVersionExact = 3;
constexpr uint32_t kVersionMajorOnly = 4;
constexpr uint32_t kVersionUpTo = 5;

constexpr uint32_t kHandleMagic = 0x52544c56;  // "VLTR"
constexpr uint32_t kLoopback = 0x7f000001;
constexpr unsigned kMapperBacklog = 16;

std::atomic<uint32_t> nextInstance{1};

bool versionMatches(const SyntaxId& entry, const SyntaxId& asked, uint32_t option) {
  if (entry.uuid != asked.uuid) return false;
  switch (option) {
    case kVersionAll:
      return true;
    case kVersionCompatible:
      return isCompatible(entry, asked);
    case kVersionExact:
      return entry.major == asked.major && entry.minor == asked.minor;
    case kVersionMajorOnly:
      return entry.major == asked.major;
    case kVersionUpTo:
      return entry.major < asked.major || (entry.major == asked.major && entry.minor <= asked.minor);
    default:
      return false;
  }
}

bool lookupMatches(const EptLookupRequest& request, const SyntaxId& iface) {
  bool byInterface = request.inquiryType == kInquiryByInterface ||
                     request.inquiryType == kInquiryByBoth;
  bool byObject =
      request.inquiryType == kInquiryByObject || request.inquiryType == kInquiryByBoth;
  if (request.inquiryType > kInquiryByBoth) return false;
  if (byInterface && (!request.ifId || !versionMatches(iface, *request.ifId, request.versionOption))) {
    return false;
  }
  // Entries here carry no object UUID, so only a nil object matches.
  return !byObject || !request.object || request.object->isNil();
}

bool addressFromBinding(const Binding& binding, TowerAddress& address) {
  address.protseq = binding.protseq;
  address.endpoint = binding.endpoint;
  if (binding.protseq == Protseq::Local) return isValidLocalEndpoint(binding.endpoint);
  uint16_t port = 0;
  if (!parsePort(binding.endpoint, port)) return false;
  in_addr ip{};
  address.ipv4 = ::inet_pton(AF_INET, binding.host.c_str(), &ip) == 1 ? ntohl(ip.s_addr) : 0;
  return true;
}

// The address a TCP tower names for a caller: the IPv4 address its connection
// arrived on; 0.0.0.0 ("the address the mapper was reached on") for a caller
// over IPv6, whose address the IPv4 floor cannot hold; loopback for a local caller.
uint32_t towerAddressFor(const CallContext& context) {
  if (context.localIPv4 != 0) return context.localIPv4;
  return context.protseq == Protseq::Tcp ? 0 : kLoopback;
}

}  // namespace

EndpointMapper::EndpointMapper() : instance_(nextInstance++) {}

uint32_t EndpointMapper::registerEndpoints(const SyntaxId& iface,
                                           const std::vector<Binding>& bindings,
                                           const std::string& annotation) {
  if (bindings.empty()) return status::kNoBindings;
  std::vector<Entry> added;
  for (const Binding& binding : bindings) {
    Entry entry{iface, {}, annotation};
    if (!addressFromBinding(binding, entry.address)) return status::kInvalidBinding;
    added.push_back(std::move(entry));
  }
  std::lock_guard lock(mutex_);
  for (Entry& entry : added) {
    std::erase_if(entries_, [&](const Entry& e) {
      return e.iface == entry.iface && e.address.protseq == entry.address.protseq &&
             e.address.endpoint == entry.address.endpoint;
    });
    entries_.push_back(std::move(entry));
  }
  return status::kOk;
}

void EndpointMapper::unregisterEndpoints(const SyntaxId& iface) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.iface == iface; });
}

size_t EndpointMapper::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

size_t EndpointMapper::startIndex(const ContextHandle& handle) const {
  if (handle.isNull()) return 0;
  const uint8_t* b = handle.uuid.bytes.data();
  if (loadLe32(b) != kHandleMagic || loadLe32(b + 4) != instance_) return SIZE_MAX;
  return loadLe32(b + 8);
}

ContextHandle EndpointMapper::continuation(size_t nextIndex) const {
  ContextHandle handle;
  std::vector<uint8_t> bytes;
  NdrWriter w(bytes);
  w.u32(kHandleMagic);
  w.u32(instance_);
  w.u32(static_cast<uint32_t>(nextIndex));
  w.u32(0);
  std::copy(bytes.begin(), bytes.end(), handle.uuid.bytes.begin());
  return handle;
}

EptMapResponse EndpointMapper::map(const EptMapRequest& request,
                                   const CallContext& context) const {
  EptMapResponse response;
  response.maxTowers = request.maxTowers;
  response.status = fault::kEndpointNotRegistered;
  auto tower = request.tower ? decodeTower(*request.tower) : std::nullopt;
  if (!tower || !tower->address || tower->transfer != ndrTransferSyntax()) return response;
  std::lock_guard lock(mutex_);
  size_t index = startIndex(request.handle);
  for (; index < entries_.size(); ++index) {
    const Entry& e = entries_[index];
    if (!isCompatible(e.iface, tower->iface) || e.address.protseq != tower->address->protseq) {
      continue;
    }
    if (response.towers.size() == request.maxTowers) {
      response.handle = continuation(index);
      break;
    }
    TowerAddress address = e.address;
    if (address.protseq == Protseq::Tcp && address.ipv4 == 0) address.ipv4 = towerAddressFor(context);
    response.towers.push_back(encodeTower(e.iface, address));
  }
  if (!response.towers.empty()) response.status = 0;
  return response;
}

EptLookupResponse EndpointMapper::lookup(const EptLookupRequest& request) const {
  EptLookupResponse response;
  response.maxEntries = request.maxEntries;
  response.status = fault::kEndpointNotRegistered;
  std::lock_guard lock(mutex_);
  size_t index = startIndex(request.handle);
  for (; index < entries_.size(); ++index) {
    const Entry& e = entries_[index];
    if (!lookupMatches(request, e.iface)) continue;
    if (response.entries.size() == request.maxEntries) {
      response.handle = continuation(index);
      break;
    }
    TowerAddress address = e.address;
    if (address.protseq == Protseq::Tcp && address.ipv4 == 0) address.ipv4 = kLoopback;
    response.entries.push_back({Uuid{}, encodeTower(e.iface, address), e.annotation});
  }
  if (!response.entries.empty()) response.status = 0;
  return response;
}

Interface EndpointMapper::makeInterface() {
  Interface iface{endpointMapperInterface(), "epmapper", {}};
  iface.operations.push_back(
      {ept_op::kLookup, "ept_lookup",
       [this](const CallContext&, std::span<const uint8_t> in, std::vector<uint8_t>& out) {
         EptLookupRequest request;
         if (!decodeEptLookupRequest(in, request) || request.maxEntries > kMaxEptResults) {
           return fault::kNdr;
         }
         encodeEptLookupResponse(lookup(request), out);
         return 0u;
       }});
  iface.operations.push_back(
      {ept_op::kMap, "ept_map",
       [this](const CallContext& context, std::span<const uint8_t> in, std::vector<uint8_t>& out) {
         EptMapRequest request;
         if (!decodeEptMapRequest(in, request) || request.maxTowers > kMaxEptResults) {
           return fault::kNdr;
         }
         encodeEptMapResponse(map(request, context), out);
         return 0u;
       }});
  iface.operations.push_back(
      {ept_op::kLookupHandleFree, "ept_lookup_handle_free",
       [](const CallContext&, std::span<const uint8_t> in, std::vector<uint8_t>& out) {
         ContextHandle handle;
         if (!decodeContextHandleOnly(in, handle)) return fault::kNdr;
         encodeHandleFreeResponse(out);
         return 0u;
       }});
  return iface;
}

MapperHosting hostEndpointMapper(Server& server, EndpointMapper& mapper, uint16_t tcpPort) {
  server.registerInterface(mapper.makeInterface());
  MapperHosting hosting;
  hosting.tcp = server.openEndpoint("ncacn_ip_tcp", tcpPort == 0 ? "" : std::to_string(tcpPort),
                                    kMapperBacklog);
  hosting.local = server.openEndpoint("ncalrpc", kLocalEndpointMapper, kMapperBacklog);
  return hosting;
}

}  // namespace veltris::rpc
