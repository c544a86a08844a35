#include "tools/veltris_cli/terminal_text.h"

#include <sstream>

namespace veltris::cli {

TerminalSafeBuffer::~TerminalSafeBuffer() {
  if (heldC2_) target_->sputc(static_cast<char>(0xC2));  // never completed: not a C1 control
  target_->pubsync();
}

void TerminalSafeBuffer::escape(unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char text[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
  target_->sputn(text, 4);
}

void TerminalSafeBuffer::put(unsigned char byte) {
  if (heldC2_) {
    heldC2_ = false;
    continuation_ = 0;
    if (byte >= 0x80 && byte <= 0x9F) {  // a C1 control in UTF-8
      escape(0xC2);
      escape(byte);
      return;
    }
    target_->sputc(static_cast<char>(0xC2));
    if (byte >= 0xA0 && byte <= 0xBF) {
      target_->sputc(static_cast<char>(byte));
      return;
    }
  }
  if (continuation_ > 0 && byte >= 0x80 && byte <= 0xBF) {
    --continuation_;
    target_->sputc(static_cast<char>(byte));
    return;
  }
  continuation_ = 0;
  if ((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
    escape(byte);  // C0 controls, DEL, and a stray byte an 8-bit terminal takes as a C1 control
  } else if (byte == 0xC2) {
    heldC2_ = true;
  } else {
    if (byte >= 0xC3 && byte <= 0xF4) continuation_ = byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
    target_->sputc(static_cast<char>(byte));
  }
}

TerminalSafeBuffer::int_type TerminalSafeBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  put(static_cast<unsigned char>(traits_type::to_char_type(c)));
  return c;
}

std::streamsize TerminalSafeBuffer::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i) put(static_cast<unsigned char>(s[i]));
  return n;
}

int TerminalSafeBuffer::sync() { return target_->pubsync(); }

std::string terminalSafe(const std::string& text) {
  std::ostringstream out;
  {
    TerminalSafeBuffer buffer(out.rdbuf());
    buffer.sputn(text.data(), static_cast<std::streamsize>(text.size()));
  }
  return out.str();
}

}  // namespace veltris::cli
