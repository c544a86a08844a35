#pragma once
// Code-to-text tables. A table is written as a list of {code, text} pairs;
// byte-coded tables are turned at compile time into a direct 256-slot index.
#include <array>
#include <cstddef>
#include <cstdint>

namespace veltris::agent::decode {

struct CodeText {
  uint32_t code;
  const char* text;
};

// The text for `code`, or nullptr when the table has none.
template <size_t N>
constexpr const char* findText(const std::array<CodeText, N>& table, uint32_t code) {
  for (const CodeText& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

using ByteTextIndex = std::array<const char*, 256>;

template <size_t N>
constexpr ByteTextIndex indexByByte(const std::array<CodeText, N>& table) {
  ByteTextIndex index{};
  for (const CodeText& entry : table) {
    if (entry.code < 256 && index[entry.code] == nullptr) index[entry.code] = entry.text;
  }
  return index;
}

}  // namespace veltris::agent::decode
