#pragma once
// Loads and stores of 16- and 32-bit values in a stated byte order, at any
// alignment: network headers are big-endian, records and NDR little-endian.
// The shifts compile to one load (and a byte swap) on every target we build for.
#include <cstddef>
#include <cstdint>
#include <span>

namespace veltris {

constexpr uint16_t loadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
constexpr uint32_t loadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
constexpr uint16_t loadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
constexpr uint32_t loadLe32(const uint8_t* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

constexpr void storeBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
constexpr void storeBe32(uint8_t* p, uint32_t v) {
  storeBe16(p, static_cast<uint16_t>(v >> 16));
  storeBe16(p + 2, static_cast<uint16_t>(v));
}
constexpr void storeLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void storeLe32(uint8_t* p, uint32_t v) {
  storeLe16(p, static_cast<uint16_t>(v));
  storeLe16(p + 2, static_cast<uint16_t>(v >> 16));
}

// The same over a span, at `off`; the caller has checked that the bytes are there.
constexpr uint16_t loadBe16(std::span<const uint8_t> s, size_t off) { return loadBe16(s.data() + off); }
constexpr uint32_t loadBe32(std::span<const uint8_t> s, size_t off) { return loadBe32(s.data() + off); }
constexpr uint16_t loadLe16(std::span<const uint8_t> s, size_t off) { return loadLe16(s.data() + off); }
constexpr uint32_t loadLe32(std::span<const uint8_t> s, size_t off) { return loadLe32(s.data() + off); }

}  // namespace veltris
