#pragma once
// NDR stubs of the endpoint mapper interface (e1af8308-5d1f-11c9-91a4-08002b14a0fa
// v3.0): ept_lookup (opnum 2), ept_map (opnum 3), ept_lookup_handle_free (opnum 4).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/rpc/uuid.h"

namespace veltris::rpc {

const SyntaxId& endpointMapperInterface();

namespace ept_op {
inline constexpr uint16_t kLookup = 2;
inline constexpr uint16_t kMap = 3;
inline constexpr uint16_t kLookupHandleFree = 4;
}  // namespace ept_op

inline constexpr uint32_t kMaxEptResults = 500;  // the IDL's range for max_towers/max_ents

struct ContextHandle {
  uint32_t attributes = 0;
  Uuid uuid;
  bool isNull() const { return attributes == 0 && uuid.isNil(); }
};

struct EptMapRequest {
  std::optional<Uuid> object;
  std::optional<std::vector<uint8_t>> tower;
  ContextHandle handle;
  uint32_t maxTowers = 0;
};

struct EptMapResponse {
  ContextHandle handle;
  uint32_t maxTowers = 0;
  std::vector<std::vector<uint8_t>> towers;
  uint32_t status = 0;
};

struct EptLookupRequest {
  uint32_t inquiryType = 0;
  std::optional<Uuid> object;
  std::optional<SyntaxId> ifId;
  uint32_t versionOption = 0;
  ContextHandle handle;
  uint32_t maxEntries = 0;
};

struct EptEntry {
  Uuid object;
  std::vector<uint8_t> tower;
  std::string annotation;
};

struct EptLookupResponse {
  ContextHandle handle;
  uint32_t maxEntries = 0;
  std::vector<EptEntry> entries;
  uint32_t status = 0;
};

void encodeEptMapRequest(const EptMapRequest& request, std::vector<uint8_t>& out);
bool decodeEptMapRequest(std::span<const uint8_t> stub, EptMapRequest& request);
void encodeEptMapResponse(const EptMapResponse& response, std::vector<uint8_t>& out);
bool decodeEptMapResponse(std::span<const uint8_t> stub, EptMapResponse& response);

void encodeEptLookupRequest(const EptLookupRequest& request, std::vector<uint8_t>& out);
bool decodeEptLookupRequest(std::span<const uint8_t> stub, EptLookupRequest& request);
void encodeEptLookupResponse(const EptLookupResponse& response, std::vector<uint8_t>& out);
bool decodeEptLookupResponse(std::span<const uint8_t> stub, EptLookupResponse& response);

bool decodeContextHandleOnly(std::span<const uint8_t> stub, ContextHandle& handle);
void encodeHandleFreeResponse(std::vector<uint8_t>& out);

}  // namespace veltris::rpc
