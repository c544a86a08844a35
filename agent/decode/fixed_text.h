#pragma once
// A text of at most N characters, built by appends that drop whatever does not
// fit. The number appenders print as "%u", "%-5u" and "%0nX" would, without
// the cost of a formatted print per field on the decoding path.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "agent/core/partner_keys.h"

namespace veltris::agent::decode {

template <size_t N>
class FixedText {
 public:
  static constexpr size_t kCapacity = N;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {chars_.data(), size_}; }
  void clear() { size_ = 0; }
  void truncate(size_t n) {
    if (n < size_) size_ = n;
  }

  FixedText& add(std::string_view s) {
    size_t n = std::min(s.size(), N - size_);
    std::memcpy(chars_.data() + size_, s.data(), n);
    size_ += n;
    return *this;
  }
  FixedText& add(char c) {
    if (size_ < N) chars_[size_++] = c;
    return *this;
  }
  FixedText& set(std::string_view s) {
    clear();
    return add(s);
  }

  // "%u" (and "%d", "%hu", "%lu" of values that are never negative).
  FixedText& dec(uint32_t v) {
    char digits[10];
    size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) add(digits[--n]);
    return *this;
  }
  // "%-Wu": the number left-aligned in `width` columns.
  FixedText& decLeft(uint32_t v, size_t width) {
    size_t start = size_;
    dec(v);
    while (size_ - start < width && size_ < N) add(' ');
    return *this;
  }
  // "%0WX": upper-case hexadecimal, at least `width` digits.
  FixedText& hex(uint32_t v, int width) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    int digits = 1;
    while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
    if (digits < width) digits = width;
    for (int i = digits - 1; i >= 0; --i) add(i >= 8 ? '0' : kDigits[(v >> (4 * i)) & 0xF]);
    return *this;
  }
  // "%d.%d.%d.%d".
  FixedText& dotted(const uint8_t (&a)[4]) {
    return dec(a[0]).add('.').dec(a[1]).add('.').dec(a[2]).add('.').dec(a[3]);
  }
  // The canonical text of an IPv6 address.
  FixedText& ipv6(const uint8_t (&a)[16]) {
    char text[agent::kIpv6TextSize];
    return add(std::string_view(text, agent::formatIpv6(text, a)));
  }

 private:
  std::array<char, N> chars_;
  size_t size_ = 0;
};

}  // namespace veltris::agent::decode
