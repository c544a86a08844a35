#pragma once
// Writing OID answers into the caller's request data, little-endian as NDIS does.
#include <cstdint>
#include <cstring>

#include "common/byte_order.h"

namespace veltris::capture {

// NDIS version reported as OID_GEN_DRIVER_VERSION: 4.0, the NDIS of NT 4.0.
constexpr uint32_t kNdisVersion = 0x0400;
// OID_GEN_MAC_OPTIONS: the adapter does not loop sent frames back; the capture path does.
constexpr uint32_t kMacOptionNoLoopback = 0x08;

// A number answer fills the requested width (1 to 8 bytes), low byte first.
inline bool answerNumber(void* data, uint32_t len, uint64_t value) {
  if (data == nullptr || len == 0 || len > 8) return false;
  auto* out = static_cast<uint8_t*>(data);
  for (uint32_t i = 0; i < len; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
  return true;
}

// An address answer needs at least 6 bytes; any further bytes are zeroed.
inline bool answerAddress(void* data, uint32_t len, const uint8_t* address) {
  if (data == nullptr || len < 6) return false;
  std::memset(data, 0, len);
  std::memcpy(data, address, 6);
  return true;
}

inline uint32_t loadLittleEndian32(const void* data) { return loadLe32(static_cast<const uint8_t*>(data)); }

// The 16-bit version word of OID_GEN_VENDOR_DRIVER_VERSION: major in the high byte.
inline uint32_t versionWord(uint32_t major, uint32_t minor) { return (major & 0xFF) << 8 | (minor & 0xFF); }

}  // namespace veltris::capture
