#pragma once
// UTF-8 / UTF-16LE helpers for the registry file: regedit stores hex(1), hex(2)
// and hex(7) data as UTF-16LE, we keep strings as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/byte_order.h"

namespace veltris::reg::detail {

// Offset of the first byte that is not well-formed UTF-8, or text.size() when all is.
size_t firstInvalidUtf8(std::string_view text);
inline bool validUtf8(std::string_view text) { return firstInvalidUtf8(text) == text.size(); }
size_t countUtf8Chars(std::string_view text);  // text must be valid UTF-8

// Both false on malformed input (odd length, lone surrogate, bad UTF-8).
bool utf16leToUtf8(const std::vector<uint8_t>& in, std::vector<uint8_t>& out);
bool utf8ToUtf16le(const std::vector<uint8_t>& in, std::vector<uint8_t>& out);

// REG_DWORD data: 4 bytes, little-endian.
inline std::vector<uint8_t> dwordBytes(uint32_t v) {
  std::vector<uint8_t> bytes(4);
  storeLe32(bytes.data(), v);
  return bytes;
}
inline uint32_t dwordOf(const std::vector<uint8_t>& d) { return loadLe32(d.data()); }  // d holds 4 bytes

inline std::string_view asText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace veltris::reg::detail
