#pragma once
// IPv6 addresses as text: the canonical form of RFC 5952 (lower-case hex,
// no leading zeros, the longest run of two or more zero groups as "::", the
// first of equal runs), and a fit into a narrower field that keeps the start
// and the end around a marked cut.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace veltris {

constexpr size_t kIpv6AddressSize = 16;
constexpr size_t kIpv6TextMax = 39;  // eight groups of four and seven colons
constexpr std::string_view kIpv6Cut = "..";

// Writes the canonical text of the 16 bytes at `address` into `out` (at least
// kIpv6TextMax + 1 bytes) with a terminator; answers its length.
inline size_t formatIpv6(const uint8_t* address, char* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(address[2 * i] << 8 | address[2 * i + 1]);
  int bestStart = -1;
  int bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int start = i;
    while (i < 8 && groups[i] == 0) ++i;
    if (i - start > bestLength) {
      bestStart = start;
      bestLength = i - start;
    }
  }
  size_t n = 0;
  if (bestStart == 0 && bestLength == 5 && groups[5] == 0xFFFF) {  // IPv4-mapped: dotted tail
    std::memcpy(out, "::ffff:", 7);
    n = 7;
    for (int i = 12; i < 16; ++i) {
      uint8_t b = address[i];
      if (b >= 100) out[n++] = static_cast<char>('0' + b / 100);
      if (b >= 10) out[n++] = static_cast<char>('0' + b / 10 % 10);
      out[n++] = static_cast<char>('0' + b % 10);
      if (i != 15) out[n++] = '.';
    }
    out[n] = '\0';
    return n;
  }
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      out[n++] = ':';
      out[n++] = ':';
      i += bestLength - 1;
      continue;
    }
    if (i != 0 && i != bestStart + bestLength) out[n++] = ':';
    uint16_t g = groups[i];
    int digits = g >= 0x1000 ? 4 : g >= 0x100 ? 3 : g >= 0x10 ? 2 : 1;
    for (int d = digits - 1; d >= 0; --d) out[n++] = kDigits[(g >> (4 * d)) & 0xF];
  }
  out[n] = '\0';
  return n;
}

// Fits `text` into `width` characters: whole when it fits, otherwise its
// start, the cut marker and its end. Answers the length written to `out`
// (room for `width` characters and a terminator).
inline size_t fitAddressText(std::string_view text, size_t width, char* out) {
  if (text.size() <= width) {
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return text.size();
  }
  size_t keep = width - kIpv6Cut.size();
  size_t head = (keep + 1) / 2;
  size_t tail = keep - head;
  std::memcpy(out, text.data(), head);
  std::memcpy(out + head, kIpv6Cut.data(), kIpv6Cut.size());
  std::memcpy(out + head + kIpv6Cut.size(), text.data() + text.size() - tail, tail);
  out[width] = '\0';
  return width;
}

}  // namespace veltris
