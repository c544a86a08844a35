#pragma once
// NetBIOS: the names and the headers of NetBIOS Frames (over LLC) and of the
// datagram service (over UDP), and the one decoder of first-level encoded names.
#include <cstddef>
#include <cstdint>

#include "common/byte_view.h"

namespace veltris::agent::wire {
namespace netbios {

constexpr size_t kNameChars = 15;  // and a 16th byte: the name type (suffix)

// NetBIOS Frames, after the LLC header: length (0-1), delimiter 0xEFFF (2-3),
// command (4), data (5-11), destination name (12-27), source name (28-43);
// names of 15 characters and a type, not encoded.
constexpr size_t kCommand = 4;
constexpr size_t kDestinationName = 12;
constexpr size_t kSourceName = 28;
constexpr uint8_t kAddNameQuery = 0x01;
constexpr uint8_t kDatagram = 0x08;
constexpr uint8_t kNameQuery = 0x0A;

// Name service (UDP 137): 12-byte header, name length (12), encoded name from 13.
constexpr size_t kQuestionName = 13;
// Datagram service (UDP 138): 14-byte header, source name length (14), encoded
// source name from 15, destination name 34 bytes further.
constexpr size_t kDatagramSourceName = 15;
constexpr size_t kDatagramDestinationName = kDatagramSourceName + 34;

// The 16 bytes of the first-level encoded name at `off` (32 letters, two per byte).
inline void decodeFirstLevel(ByteView view, size_t off, uint8_t (&out)[kNameChars + 1]) {
  for (size_t i = 0; i <= kNameChars; ++i) {
    uint8_t high = static_cast<uint8_t>(view.u8(off + 2 * i) - 'A');
    uint8_t low = static_cast<uint8_t>(view.u8(off + 2 * i + 1) - 'A');
    out[i] = static_cast<uint8_t>(high * 16 + low);
  }
}

// Characters of a 15-character name without its trailing blanks.
inline size_t trimmedLength(const uint8_t* name) {
  size_t n = kNameChars;
  while (n > 0 && name[n - 1] == ' ') --n;
  return n;
}

}  // namespace netbios
}  // namespace veltris::agent::wire
