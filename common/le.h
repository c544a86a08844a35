#pragma once
// Little-endian fields for byte-exact records: each is a byte array with
// explicit load/store, so a record can be packed and copied as bytes and no
// code ever casts unaligned memory to a multi-byte integer.
#include <bit>
#include <cstdint>
#include <cstring>

namespace veltris {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);

template <typename T>
struct Le {
  static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
  uint8_t bytes[sizeof(T)];

  T get() const {
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) v = swap(v);
    return v;
  }
  void set(T v) {
    if constexpr (std::endian::native == std::endian::big) v = swap(v);
    std::memcpy(bytes, &v, sizeof(T));
  }
  Le& operator=(T v) {
    set(v);
    return *this;
  }
  operator T() const { return get(); }

 private:
  static T swap(T v) {
    uint8_t b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    for (unsigned i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    std::memcpy(&v, b, sizeof(T));
    return v;
  }
};

using LeU16 = Le<uint16_t>;
using LeU32 = Le<uint32_t>;
using LeI32 = Le<int32_t>;
using LeF32 = Le<float>;

static_assert(sizeof(LeU32) == 4 && alignof(LeU32) == 1);
static_assert(sizeof(LeF32) == 4 && alignof(LeF32) == 1);

// Big-endian reads from a byte span (network headers).
inline uint16_t loadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t loadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Copies text into a fixed field: at most width-1 characters and a NUL, rest zero.
inline void copyText(char* field, size_t width, const char* text) {
  size_t n = 0;
  while (n + 1 < width && text[n] != '\0') ++n;
  std::memcpy(field, text, n);
  std::memset(field + n, 0, width - n);
}

}  // namespace veltris
