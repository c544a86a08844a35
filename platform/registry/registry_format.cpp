#include "platform/registry/registry_format.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "platform/registry/registry_text.h"

namespace veltris::reg::detail {
namespace {

constexpr uint32_t kTypeSz = 1, kTypeExpandSz = 2, kTypeBinary = 3, kTypeDword = 4, kTypeMultiSz = 7;
constexpr size_t kQuoteLimit = 60;  // characters of offending text quoted in a message

bool isStringType(uint32_t type) { return type == kTypeSz || type == kTypeExpandSz || type == kTypeMultiSz; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

std::string quoted(std::string_view text) {
  if (text.size() > kQuoteLimit) return "\"" + std::string(text.substr(0, kQuoteLimit)) + "...\"";
  return "\"" + std::string(text) + "\"";
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> parseHexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    const int nibble = hexDigit(c);
    if (nibble < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(nibble);
  }
  return value;
}

// Reads a quoted string at text[pos] (the opening quote); only \\ and \" are escapes.
bool readQuoted(std::string_view text, size_t& pos, std::string& out, std::string& why) {
  out.clear();
  for (size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
        why = "unknown escape in quoted text (only \\\\ and \\\" are allowed)";
        return false;
      }
      ++i;
    }
    out += text[i];
  }
  why = "missing closing quote";
  return false;
}

bool parseHexList(std::string_view list, std::vector<uint8_t>& out, std::string& why) {
  out.clear();
  list = trim(list);
  if (list.empty()) return true;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view token = trim(list.substr(start, comma - start));
    const bool trailingComma = token.empty() && comma == list.size() && start > 0;
    if (trailingComma) break;
    const auto byte = token.size() <= 2 ? parseHexNumber(token) : std::nullopt;
    if (!byte) {
      why = "bad hex byte " + quoted(token);
      return false;
    }
    out.push_back(static_cast<uint8_t>(*byte));
    start = comma + 1;
  }
  return true;
}

class Parser {
 public:
  Parser(std::string_view text, RegTree& tree, ParseError& error) : text_(text), tree_(tree), error_(error) {}

  bool run() {
    if (!checkEncoding()) return false;
    std::string_view raw;
    while (nextLine(raw)) {
      const std::string_view line = trim(raw);
      if (line.empty() || line.front() == ';') continue;
      if (!sawHeader_) {
        if (!checkHeader(line)) return false;
        continue;
      }
      const size_t number = lineNumber_;
      bool ok;
      if (line.front() == '[')
        ok = keyLine(line);
      else if (line.front() == '"' || line.front() == '@')
        ok = valueLine(line, number);
      else
        ok = fail(number, "unexpected text " + quoted(line) + " (expected a [key] or a \"name\"=value line)");
      if (!ok) return false;
    }
    return true;
  }

 private:
  bool fail(size_t line, std::string message) {
    error_.line = line;
    error_.message = std::move(message);
    return false;
  }

  size_t lineOf(size_t offset) const {
    return 1 + static_cast<size_t>(std::count(text_.begin(), text_.begin() + offset, '\n'));
  }

  bool checkEncoding() {
    if (text_.size() >= 2 &&
        ((text_[0] == '\xFF' && text_[1] == '\xFE') || (text_[0] == '\xFE' && text_[1] == '\xFF'))) {
      return fail(1, "file is UTF-16 text; expected UTF-8");
    }
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    const size_t bad = firstInvalidUtf8(text_);
    if (bad != text_.size()) return fail(lineOf(bad), "text is not valid UTF-8");
    const size_t nul = text_.find('\0');
    if (nul != std::string_view::npos) return fail(lineOf(nul), "NUL character in text");
    return true;
  }

  bool nextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const size_t end = std::min(text_.find('\n', pos_), text_.size());
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++lineNumber_;
    return true;
  }

  bool checkHeader(std::string_view line) {
    if (line == kRegistryHeader) {
      sawHeader_ = true;
      return true;
    }
    if (line == "REGEDIT4")
      return fail(lineNumber_, "REGEDIT4 files are not supported; expected \"Windows Registry Editor Version 5.00\"");
    return fail(lineNumber_, "expected \"Windows Registry Editor Version 5.00\" as the first line");
  }

  bool keyLine(std::string_view line) {
    if (line.back() != ']') return fail(lineNumber_, "key line does not end with ']'");
    std::string_view name = line.substr(1, line.size() - 2);
    const bool deletion = !name.empty() && name.front() == '-';
    if (deletion) name.remove_prefix(1);
    KeyPath path;
    std::string why;
    if (!parseKeyPath(name, path, why)) return fail(lineNumber_, why);
    if (deletion) {
      if (path.parts.size() < 2) return fail(lineNumber_, "a root key cannot be deleted");
      tree_.erase(path);
      current_ = nullptr;
    } else {
      current_ = &tree_.ensure(path);
      current_->markExplicit();
    }
    inDeletedKey_ = deletion;
    return true;
  }

  bool valueLine(std::string_view line, size_t number) {
    if (current_ == nullptr) {
      return fail(number, inDeletedKey_ ? "value line under a deleted key" : "value line before any [key] line");
    }
    std::string name, why;
    size_t pos = 1;
    if (line.front() == '"') {
      pos = 0;
      if (!readQuoted(line, pos, name, why)) return fail(number, "value name: " + why);
      if (!validValueName(name, why)) return fail(number, why);
    }
    std::string_view rest = trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return fail(number, "expected '=' after the value name");
    rest = trim(rest.substr(1));
    std::string joined;
    if (startsWithNoCase(rest, "hex") && rest.back() == '\\') {
      if (!joinContinuation(rest, joined)) return fail(number, "hex list continues past the end of the file");
      rest = joined;
    }
    return valueData(name, rest, number);
  }

  // Hex lists may go on over several lines, each but the last ending in a backslash.
  bool joinContinuation(std::string_view first, std::string& joined) {
    joined = first;
    while (!joined.empty() && joined.back() == '\\') {
      joined.pop_back();
      std::string_view next;
      if (!nextLine(next)) return false;
      joined += trim(next);
    }
    return true;
  }

  bool valueData(const std::string& name, std::string_view data, size_t number) {
    std::string why;
    if (data == "-") {
      current_->eraseValue(name);
      return true;
    }
    if (!data.empty() && data.front() == '"') {
      std::string text;
      size_t pos = 0;
      if (!readQuoted(data, pos, text, why)) return fail(number, "value data: " + why);
      if (!trim(data.substr(pos)).empty()) return fail(number, "text after the closing quote");
      std::vector<uint8_t> bytes(text.begin(), text.end());
      bytes.push_back(0);
      current_->setValue(name, kTypeSz, std::move(bytes));
      return true;
    }
    if (startsWithNoCase(data, "dword:")) {
      const auto number32 = parseHexNumber(trim(data.substr(6)));
      if (!number32) return fail(number, "dword needs 1 to 8 hex digits, found " + quoted(data.substr(6)));
      current_->setValue(name, kTypeDword, dwordBytes(*number32));
      return true;
    }
    return hexData(name, data, number);
  }

  bool hexData(const std::string& name, std::string_view data, size_t number) {
    uint32_t type = kTypeBinary;
    std::string_view list;
    if (startsWithNoCase(data, "hex:")) {
      list = data.substr(4);
    } else if (startsWithNoCase(data, "hex(")) {
      const size_t close = data.find("):");
      const auto parsed = close == std::string_view::npos ? std::nullopt : parseHexNumber(data.substr(4, close - 4));
      if (!parsed) return fail(number, "bad hex(type) prefix in " + quoted(data));
      type = *parsed;
      list = data.substr(close + 2);
    } else {
      return fail(number, "unknown value data " + quoted(data));
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!parseHexList(list, bytes, why)) return fail(number, why);
    if (isStringType(type)) {
      std::vector<uint8_t> text;
      if (!utf16leToUtf8(bytes, text))
        return fail(number, "hex(" + std::to_string(type) + ") data is not UTF-16LE text");
      bytes = std::move(text);
    }
    current_->setValue(name, type, std::move(bytes));
    return true;
  }

  std::string_view text_;
  RegTree& tree_;
  ParseError& error_;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
  bool sawHeader_ = false;
  bool inDeletedKey_ = false;
  RegKey* current_ = nullptr;
};

// ---- writing ----

void appendEscaped(std::string_view text, std::string& out) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// A REG_SZ goes out as "text" when it is one NUL-terminated line.
bool fitsQuotedForm(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  const std::string_view text = asText(data).substr(0, data.size() - 1);
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

// Bytes as "xx,xx,..." with regedit's wrapping: lines stay within 80 columns.
void appendHexList(const std::vector<uint8_t>& bytes, size_t column, std::string& out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
    column += 2;
    if (i + 1 == bytes.size()) break;
    out += ',';
    ++column;
    if (column >= 77) {
      out += "\\\n  ";
      column = 2;
    }
  }
}

bool appendValue(const RegValue& value, std::string& out, std::string& why) {
  const size_t lineStart = out.size();
  if (value.name.empty())
    out += '@';
  else
    appendEscaped(value.name, out);
  out += '=';
  if (value.type == kTypeSz && fitsQuotedForm(value.data)) {
    appendEscaped(asText(value.data).substr(0, value.data.size() - 1), out);
  } else if (value.type == kTypeDword && value.data.size() == 4) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", dwordOf(value.data));
    out += "dword:";
    out += digits;
  } else {
    std::vector<uint8_t> utf16;
    const std::vector<uint8_t>* bytes = &value.data;
    if (isStringType(value.type)) {
      if (!utf8ToUtf16le(value.data, utf16)) {
        why = "value \"" + value.name + "\" holds text that is not UTF-8";
        return false;
      }
      bytes = &utf16;
    }
    if (value.type == kTypeBinary) {
      out += "hex:";
    } else {
      char prefix[24];
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
      out += prefix;
    }
    appendHexList(*bytes, out.size() - lineStart, out);
  }
  out += '\n';
  return true;
}

bool appendKey(const RegKey& key, bool isRoot, std::string& path, std::string& out, std::string& why) {
  const bool written = key.isExplicit() || key.hasValues() || (!isRoot && !key.hasChildren());
  if (written) {
    out += '[';
    out += path;
    out += "]\n";
    for (const RegValue* value : key.values()) {
      if (!appendValue(*value, out, why)) return false;
    }
    out += '\n';
  }
  for (const RegKey* child : key.children()) {
    const size_t length = path.size();
    path += '\\';
    path += child->name();
    const bool ok = appendKey(*child, false, path, out, why);
    path.resize(length);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool parseRegistryText(std::string_view text, RegTree& tree, ParseError& error) {
  return Parser(text, tree, error).run();
}

bool formatRegistryText(const RegTree& tree, std::string& out, std::string& why) {
  out = kRegistryHeader;
  out += "\n\n";
  for (const RegKey* root : tree.top().children()) {
    std::string path = root->name();
    if (!appendKey(*root, true, path, out, why)) return false;
  }
  return true;
}

}  // namespace veltris::reg::detail
