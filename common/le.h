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

}  // namespace veltris
