#include "tools/veltris_cli/text_fields.h"

#include <cmath>
#include <cstdio>

namespace veltris::cli {
namespace {

bool isContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Length of a well-formed UTF-8 sequence of two to four bytes at `i`, else 0.
size_t utf8SequenceAt(std::string_view bytes, size_t i) {
  auto byte = static_cast<uint8_t>(bytes[i]);
  size_t length = byte >= 0xF0 && byte <= 0xF4 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 && byte < 0xE0 ? 2 : 0;
  if (length == 0 || i + length > bytes.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if (!isContinuation(static_cast<uint8_t>(bytes[i + k]))) return 0;
  }
  return length;
}

void appendLatin1(std::string& out, uint8_t byte) {
  out += static_cast<char>(0xC0 | (byte >> 6));
  out += static_cast<char>(0x80 | (byte & 0x3F));
}

}  // namespace

std::string rawText(const char* field, size_t width) {
  size_t length = 0;
  while (length < width && field[length] != '\0') ++length;
  return std::string(field, length);
}

std::string fieldText(const char* field, size_t width) {
  std::string text = rawText(field, width);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string displayText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto byte = static_cast<uint8_t>(bytes[i]);
    if (byte < 0x20 || byte == 0x7F) {
      out += '.';
    } else if (byte < 0x80) {
      out += bytes[i];
    } else if (size_t length = utf8SequenceAt(bytes, i); length > 0) {
      out.append(bytes.substr(i, length));
      i += length - 1;
    } else {
      appendLatin1(out, byte);
    }
  }
  return out;
}

size_t displayWidth(std::string_view utf8) {
  size_t width = 0;
  for (char c : utf8) {
    if (!isContinuation(static_cast<uint8_t>(c))) ++width;  // continuation bytes take no room
  }
  return width;
}

std::string jsonString(std::string_view bytes) {
  std::string out = "\"";
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    auto byte = static_cast<uint8_t>(c);
    if (size_t length = byte >= 0x80 ? utf8SequenceAt(bytes, i) : 0; length > 0) {
      out.append(bytes.substr(i, length));
      i += length - 1;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

namespace {
bool humanByteUnits = false;
}  // namespace

void useHumanByteUnits(bool on) { humanByteUnits = on; }

std::string byteCountText(float bytes) {
  char text[48];
  if (!std::isfinite(bytes)) return bytes != bytes ? "NaN" : (bytes > 0 ? "Infinity" : "-Infinity");
  if (humanByteUnits && std::fabs(bytes) >= 1024.0f) {  // as ls -h: powers of 1024, one decimal
    static constexpr char kUnits[] = "KMGTPE";
    double value = bytes;
    size_t unit = 0;
    for (value /= 1024.0; std::fabs(value) >= 1024.0 && unit + 1 < sizeof kUnits - 1; value /= 1024.0) ++unit;
    std::snprintf(text, sizeof text, "%.1f%c", value, kUnits[unit]);
    return text;
  }
  if (bytes == std::floor(bytes) && std::fabs(bytes) < 1e15f) {
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(bytes));
  }
  return text;
}

}  // namespace veltris::cli
