#include "platform/registry/registry_text.h"

namespace veltris::reg::detail {
namespace {

// Length of the UTF-8 sequence at text[pos] (1-4), or 0 when malformed.
// Rejects overlong forms, surrogates and code points above U+10FFFF.
size_t utf8SequenceLength(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

uint32_t decodeUtf8(std::string_view text, size_t pos, size_t length) {
  static constexpr uint8_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t code = static_cast<uint8_t>(text[pos]) & kLeadMask[length];
  for (size_t i = 1; i < length; ++i) code = (code << 6) | (static_cast<uint8_t>(text[pos + i]) & 0x3F);
  return code;
}

void appendUtf8(uint32_t code, std::vector<uint8_t>& out) {
  if (code < 0x80) {
    out.push_back(static_cast<uint8_t>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<uint8_t>(0xC0 | (code >> 6)));
    out.push_back(static_cast<uint8_t>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<uint8_t>(0xE0 | (code >> 12)));
    out.push_back(static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<uint8_t>(0xF0 | (code >> 18)));
    out.push_back(static_cast<uint8_t>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (code & 0x3F)));
  }
}

void appendUtf16le(uint16_t unit, std::vector<uint8_t>& out) {
  out.resize(out.size() + 2);
  storeLe16(out.data() + out.size() - 2, unit);
}

}  // namespace

size_t firstInvalidUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t length = utf8SequenceLength(text, pos);
    if (length == 0) return pos;
    pos += length;
  }
  return text.size();
}

size_t countUtf8Chars(std::string_view text) {
  size_t count = 0;
  for (char c : text) {
    if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

bool utf16leToUtf8(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  if (in.size() % 2 != 0) return false;
  out.clear();
  out.reserve(in.size());
  const auto unitAt = [&](size_t i) { return uint32_t{loadLe16(in.data() + i)}; };
  for (size_t i = 0; i < in.size(); i += 2) {
    uint32_t code = unitAt(i);
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 4 > in.size()) return false;
      const uint32_t low = unitAt(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    appendUtf8(code, out);
  }
  return true;
}

bool utf8ToUtf16le(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  const std::string_view text = asText(in);
  out.clear();
  out.reserve(in.size() * 2);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t length = utf8SequenceLength(text, pos);
    if (length == 0) return false;
    const uint32_t code = decodeUtf8(text, pos, length);
    if (code >= 0x10000) {
      appendUtf16le(static_cast<uint16_t>(0xD800 + ((code - 0x10000) >> 10)), out);
      appendUtf16le(static_cast<uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)), out);
    } else {
      appendUtf16le(static_cast<uint16_t>(code), out);
    }
    pos += length;
  }
  return true;
}

}  // namespace veltris::reg::detail
