#pragma once
// Text in fixed-width record fields, and text from outside made safe to log.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace veltris {

// Copies text into a fixed field: at most width-1 characters and a NUL, rest zero.
inline void copyText(char* field, size_t width, std::string_view text) {
  size_t n = std::min(text.size(), width - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, width - n);
}
// The same from a C string, read no further than the field can take.
inline void copyText(char* field, size_t width, const char* text) {
  copyText(field, width, std::string_view(text, ::strnlen(text, width - 1)));
}

// Text from a peer or a request for the console and the event log: at most
// `max` bytes, control characters and DEL shown as '?'.
inline std::string printableText(std::string_view text, size_t max = std::string_view::npos) {
  std::string shown(text.substr(0, max));
  for (char& ch : shown) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
  }
  return shown;
}

}  // namespace veltris
