#include "platform/rpc/epm_stubs.h"

#include <algorithm>

#include "platform/rpc/ndr.h"

namespace veltris::rpc {
namespace {

constexpr uint32_t kFirstReferent = 0x00020000;  // what NT stubs use; any non-zero id will do
constexpr size_t kMaxTowerLength = 1024;
constexpr uint32_t kMaxAnnotation = 64;

// twr_t: conformance count, tower_length, octets.
bool readTower(NdrReader& r, std::vector<uint8_t>& tower) {
  r.align(4);
  uint32_t maxCount = r.u32();
  uint32_t length = r.u32();
  if (!r.ok() || maxCount != length || length > kMaxTowerLength) return false;
  auto bytes = r.bytes(length);
  tower.assign(bytes.begin(), bytes.end());
  return r.ok();
}

void writeTower(NdrWriter& w, const std::vector<uint8_t>& tower) {
  w.align(4);
  w.u32(static_cast<uint32_t>(tower.size()));
  w.u32(static_cast<uint32_t>(tower.size()));
  w.bytes(tower);
}

ContextHandle readHandle(NdrReader& r) {
  r.align(4);
  ContextHandle handle;
  handle.attributes = r.u32();
  handle.uuid = r.uuid();
  return handle;
}

void writeHandle(NdrWriter& w, const ContextHandle& handle) {
  w.align(4);
  w.u32(handle.attributes);
  w.uuid(handle.uuid);
}

// Header of a conformant varying array: max count, offset 0, actual count.
void writeArrayHeader(NdrWriter& w, uint32_t maxCount, uint32_t actual) {
  w.align(4);
  w.u32(maxCount);
  w.u32(0);
  w.u32(actual);
}

bool readArrayHeader(NdrReader& r, uint32_t expected, uint32_t& maxCount) {
  r.align(4);
  maxCount = r.u32();
  uint32_t offset = r.u32();
  uint32_t actual = r.u32();
  return r.ok() && offset == 0 && actual == expected && actual <= maxCount &&
         actual <= kMaxEptResults;
}

void writeAnnotation(NdrWriter& w, const std::string& text) {
  std::string clipped = text.substr(0, kMaxAnnotation - 1);
  w.u32(0);
  w.u32(static_cast<uint32_t>(clipped.size() + 1));
  w.bytes({reinterpret_cast<const uint8_t*>(clipped.data()), clipped.size()});
  w.u8(0);
}

bool readAnnotation(NdrReader& r, std::string& text) {
  uint32_t offset = r.u32();
  uint32_t actual = r.u32();
  if (!r.ok() || offset != 0 || actual > kMaxAnnotation) return false;
  auto bytes = r.bytes(actual);
  text.assign(bytes.begin(), std::find(bytes.begin(), bytes.end(), uint8_t{0}));
  return r.ok();
}

}  // namespace

const SyntaxId& endpointMapperInterface() {
  static const SyntaxId id = syntaxId("e1af8308-5d1f-11c9-91a4-08002b14a0fa", 3, 0);
  return id;
}

void encodeEptMapRequest(const EptMapRequest& request, std::vector<uint8_t>& out) {
  NdrWriter w(out);
  w.u32(request.object ? 1 : 0);
  if (request.object) w.uuid(*request.object);
  w.u32(request.tower ? 2 : 0);
  if (request.tower) writeTower(w, *request.tower);
  writeHandle(w, request.handle);
  w.u32(request.maxTowers);
}

bool decodeEptMapRequest(std::span<const uint8_t> stub, EptMapRequest& request) {
  NdrReader r(stub);
  if (r.u32() != 0) request.object = r.uuid();
  if (r.u32() != 0) {
    request.tower.emplace();
    if (!readTower(r, *request.tower)) return false;
  }
  request.handle = readHandle(r);
  request.maxTowers = r.u32();
  return r.ok();
}

void encodeEptMapResponse(const EptMapResponse& response, std::vector<uint8_t>& out) {
  NdrWriter w(out);
  writeHandle(w, response.handle);
  auto count = static_cast<uint32_t>(response.towers.size());
  w.u32(count);
  writeArrayHeader(w, response.maxTowers, count);
  for (uint32_t i = 0; i < count; ++i) w.u32(kFirstReferent + 4 * i);
  for (const auto& tower : response.towers) writeTower(w, tower);
  w.align(4);
  w.u32(response.status);
}

bool decodeEptMapResponse(std::span<const uint8_t> stub, EptMapResponse& response) {
  NdrReader r(stub);
  response.handle = readHandle(r);
  uint32_t count = r.u32();
  if (!readArrayHeader(r, count, response.maxTowers)) return false;
  std::vector<uint32_t> referents;
  for (uint32_t i = 0; i < count && r.ok(); ++i) referents.push_back(r.u32());
  for (uint32_t referent : referents) {
    if (referent == 0) continue;
    response.towers.emplace_back();
    if (!readTower(r, response.towers.back())) return false;
  }
  r.align(4);
  response.status = r.u32();
  return r.ok();
}

void encodeEptLookupRequest(const EptLookupRequest& request, std::vector<uint8_t>& out) {
  NdrWriter w(out);
  w.u32(request.inquiryType);
  w.u32(request.object ? 1 : 0);
  if (request.object) w.uuid(*request.object);
  w.u32(request.ifId ? 2 : 0);
  if (request.ifId) w.syntax(*request.ifId);
  w.u32(request.versionOption);
  writeHandle(w, request.handle);
  w.u32(request.maxEntries);
}

bool decodeEptLookupRequest(std::span<const uint8_t> stub, EptLookupRequest& request) {
  NdrReader r(stub);
  request.inquiryType = r.u32();
  if (r.u32() != 0) request.object = r.uuid();
  if (r.u32() != 0) request.ifId = r.syntax();
  request.versionOption = r.u32();
  request.handle = readHandle(r);
  request.maxEntries = r.u32();
  return r.ok();
}

void encodeEptLookupResponse(const EptLookupResponse& response, std::vector<uint8_t>& out) {
  NdrWriter w(out);
  writeHandle(w, response.handle);
  auto count = static_cast<uint32_t>(response.entries.size());
  w.u32(count);
  writeArrayHeader(w, response.maxEntries, count);
  for (uint32_t i = 0; i < count; ++i) {
    w.align(4);
    w.uuid(response.entries[i].object);
    w.u32(kFirstReferent + 4 * i);
    writeAnnotation(w, response.entries[i].annotation);
  }
  for (const EptEntry& entry : response.entries) writeTower(w, entry.tower);
  w.align(4);
  w.u32(response.status);
}

bool decodeEptLookupResponse(std::span<const uint8_t> stub, EptLookupResponse& response) {
  NdrReader r(stub);
  response.handle = readHandle(r);
  uint32_t count = r.u32();
  if (!readArrayHeader(r, count, response.maxEntries)) return false;
  std::vector<uint32_t> referents;
  for (uint32_t i = 0; i < count && r.ok(); ++i) {
    r.align(4);
    EptEntry entry;
    entry.object = r.uuid();
    referents.push_back(r.u32());
    if (!readAnnotation(r, entry.annotation)) return false;
    response.entries.push_back(std::move(entry));
  }
  for (size_t i = 0; i < referents.size(); ++i) {
    if (referents[i] != 0 && !readTower(r, response.entries[i].tower)) return false;
  }
  r.align(4);
  response.status = r.u32();
  return r.ok();
}

bool decodeContextHandleOnly(std::span<const uint8_t> stub, ContextHandle& handle) {
  NdrReader r(stub);
  handle = readHandle(r);
  return r.ok();
}

void encodeHandleFreeResponse(std::vector<uint8_t>& out) {
  NdrWriter w(out);
  writeHandle(w, ContextHandle{});
  w.u32(0);
}

}  // namespace veltris::rpc
