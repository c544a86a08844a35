#pragma once
// Bounded read access to the stored bytes of a frame. Every read past the end
// answers zero, as the zero-filled 256-byte capture buffer would.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace veltris::agent {

class FrameView {
 public:
  FrameView(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  size_t size() const { return size_; }
  uint8_t u8(size_t off) const { return off < size_ ? bytes_[off] : 0; }
  uint16_t be16(size_t off) const { return static_cast<uint16_t>(u8(off) << 8 | u8(off + 1)); }
  uint32_t be32(size_t off) const { return uint32_t{be16(off)} << 16 | be16(off + 2); }

  // Copies n bytes from off into out, zero past the end.
  void copy(size_t off, size_t n, uint8_t* out) const {
    size_t avail = off < size_ ? size_ - off : 0;
    size_t take = n < avail ? n : avail;
    if (take != 0) std::memcpy(out, bytes_ + off, take);
    if (take < n) std::memset(out + take, 0, n - take);
  }

  // True when the n bytes from off (zero past the end) equal `other`.
  bool equals(size_t off, size_t n, const uint8_t* other) const {
    size_t avail = off < size_ ? size_ - off : 0;
    size_t take = n < avail ? n : avail;
    if (take != 0 && std::memcmp(bytes_ + off, other, take) != 0) return false;
    for (size_t i = take; i < n; ++i)
      if (other[i] != 0) return false;
    return true;
  }

  // The bytes from off on; empty past the end.
  FrameView from(size_t off) const {
    return off < size_ ? FrameView(bytes_ + off, size_ - off) : FrameView(bytes_, 0);
  }

 private:
  const uint8_t* bytes_;
  size_t size_;
};

}  // namespace veltris::agent
