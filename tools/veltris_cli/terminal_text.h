#pragma once
// Text for a terminal: control characters that a hostile agent or snapshot
// could use to drive the terminal (escape sequences, title changes) are shown
// as \xNN instead. Tab and newline pass; so do printable UTF-8 characters.
#include <streambuf>
#include <string>

namespace veltris::cli {

class TerminalSafeBuffer : public std::streambuf {
 public:
  explicit TerminalSafeBuffer(std::streambuf* target) : target_(target) {}
  ~TerminalSafeBuffer() override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  void put(unsigned char byte);
  void escape(unsigned char byte);
  std::streambuf* target_;
  int continuation_ = 0;  // UTF-8 continuation bytes still expected
  bool heldC2_ = false;   // a 0xC2 lead byte: C1 controls (U+0080..U+009F) follow it
};

// The bytes of `text` as TerminalSafeBuffer shows them.
std::string terminalSafe(const std::string& text);

}  // namespace veltris::cli
