// Text replies ("TXT4"): reports and command output, printed as they are.
#include <string>

#include "tools/veltris_cli/record_printers.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {
namespace {

std::string withoutCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

void printTextReply(const TextReply& r, std::ostream& out) {
  std::string text = withoutCarriageReturns(rawText(r.text));
  out << text;
  if (!text.empty() && text.back() != '\n') out << '\n';
}

JsonObject textReplyJson(const TextReply& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag)).text("text", rawText(r.text));
  return json;
}

}  // namespace veltris::cli
