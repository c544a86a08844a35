#pragma once
// Turning the fixed-width text fields of reply records into printable text.
// Fields end at their first NUL or at their width, whichever comes first;
// the agent's texts are single bytes (Latin-1), or UTF-8 where they come from
// Linux programs: well-formed UTF-8 passes, any other byte counts as Latin-1.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltris::cli {

// The field's bytes up to its first NUL, never past `width`.
std::string rawText(const char* field, size_t width);

// As rawText, without the blanks that pad the field on the right.
std::string fieldText(const char* field, size_t width);

template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return fieldText(field, N);
}
template <size_t N>
std::string rawText(const char (&field)[N]) {
  return rawText(field, N);
}

// The text as UTF-8, with control characters shown as '.' (tables).
std::string displayText(std::string_view bytes);

// Characters that a UTF-8 text takes on a terminal, one per code point.
size_t displayWidth(std::string_view utf8);

// A JSON string literal: quoted and escaped; UTF-8 passes, other bytes above
// 0x7E count as Latin-1 and become \u00XX.
std::string jsonString(std::string_view bytes);

// A byte count kept as float32: whole numbers without a fraction.
std::string byteCountText(float bytes);
// From then on byte counts in tables read "2.1K", "4.8M" (option -H); JSON keeps the numbers.
void useHumanByteUnits(bool on);

}  // namespace veltris::cli
