#pragma once
// The bounded view over the stored bytes of a frame: at most 256 of them, as
// the capture buffer and the packet ring keep. Reads past the end answer zero,
// as the zero-filled capture buffer would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_view.h"

namespace veltris {

constexpr uint32_t kStoredFrameBytes = 256;  // bytes kept of each frame

class FrameView : public ByteView {
 public:
  constexpr FrameView() = default;
  constexpr FrameView(const uint8_t* data, size_t size) : ByteView(data, std::min<size_t>(size, kStoredFrameBytes)) {}
  explicit constexpr FrameView(std::span<const uint8_t> bytes) : FrameView(bytes.data(), bytes.size()) {}

  // The bytes from `off` on, as a child decoder sees them; empty past the end.
  constexpr FrameView sub(size_t off) const {
    return off < size_ ? FrameView(data_ + off, size_ - off) : FrameView();
  }
};

}  // namespace veltris
