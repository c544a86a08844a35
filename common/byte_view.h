#pragma once
// A bounded view over bytes from outside (frames, link headers, DNS messages).
// Every read past the end answers zero, so code can follow offsets taken from
// the bytes themselves without testing them first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "common/byte_order.h"

namespace veltris {

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const uint8_t* data, size_t size) : data_(size == 0 ? nullptr : data), size_(data ? size : 0) {}
  explicit constexpr ByteView(std::span<const uint8_t> bytes) : ByteView(bytes.data(), bytes.size()) {}

  constexpr size_t size() const { return size_; }
  constexpr bool contains(size_t off) const { return off < size_; }

  constexpr uint8_t u8(size_t off) const { return off < size_ ? data_[off] : 0; }
  constexpr uint16_t be16(size_t off) const {
    return available(off) >= 2 ? loadBe16(data_ + off) : static_cast<uint16_t>(u8(off) << 8);
  }
  constexpr uint32_t be32(size_t off) const {
    if (available(off) >= 4) return loadBe32(data_ + off);
    return uint32_t{u8(off)} << 24 | uint32_t{at(off, 1)} << 16 | uint32_t{at(off, 2)} << 8;
  }
  constexpr uint16_t le16(size_t off) const {
    return available(off) >= 2 ? loadLe16(data_ + off) : u8(off);
  }
  constexpr uint32_t le32(size_t off) const {
    if (available(off) >= 4) return loadLe32(data_ + off);
    return uint32_t{at(off, 2)} << 16 | uint32_t{at(off, 1)} << 8 | u8(off);
  }

  // The bytes from `off` on; empty past the end.
  constexpr ByteView sub(size_t off) const { return off < size_ ? ByteView(data_ + off, size_ - off) : ByteView(); }

  // Narrow text at `off`: up to the first NUL, at most `max` bytes, never past the end.
  constexpr std::string_view text(size_t off, size_t max) const {
    if (off >= size_) return {};
    size_t limit = std::min(max, size_ - off);
    size_t n = 0;
    while (n < limit && data_[off + n] != 0) ++n;
    return {reinterpret_cast<const char*>(data_ + off), n};
  }

  // True when the bytes at `off` equal `bytes` (bytes past the end read as zero).
  constexpr bool equals(size_t off, std::string_view bytes) const {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (at(off, i) != static_cast<uint8_t>(bytes[i])) return false;
    }
    return true;
  }
  bool equals(size_t off, size_t n, const uint8_t* other) const {
    size_t take = std::min(n, available(off));
    if (take != 0 && std::memcmp(data_ + off, other, take) != 0) return false;
    for (size_t i = take; i < n; ++i)
      if (other[i] != 0) return false;
    return true;
  }

  // Copies `n` bytes from `off` into `out`; bytes past the end become zero.
  void copy(size_t off, size_t n, uint8_t* out) const {
    if (n <= available(off)) {  // the usual case, a fixed-size copy once inlined
      std::memcpy(out, data_ + off, n);
      return;
    }
    size_t take = std::min(n, available(off));
    if (take != 0) std::memcpy(out, data_ + off, take);
    if (take < n) std::memset(out + take, 0, n - take);
  }

 protected:
  constexpr size_t available(size_t off) const { return off < size_ ? size_ - off : 0; }
  constexpr uint8_t at(size_t off, size_t i) const { return i < available(off) ? data_[off + i] : 0; }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace veltris
