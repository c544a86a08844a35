#include "tools/veltris_cli/request_words.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace veltris::cli {
namespace {

enum class Argument { None, Any, Number, Day, Required };

struct Word {
  const char* word;
  Argument argument;
};

constexpr std::array<Word, 15> kWords = {{
    {"TOTAL", Argument::None},
    {"OPEN", Argument::Any},
    {"SNAPSHOT", Argument::Any},
    {"CMD", Argument::Required},
    {"CFG", Argument::None},
    {"HISTORY_LIST", Argument::None},
    {"TPT", Argument::Day},
    {"TPS", Argument::Day},
    {"DETAILS", Argument::Number},
    {"ERRORS", Argument::Number},
    {"STATS_PRO", Argument::Number},
    {"OID", Argument::None},
    {"BCASTSENT", Argument::Any},
    {"BCASTERS", Argument::Any},
    {"ADDRESSES6", Argument::Number},
}};

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

const Word* findWord(const std::string& word) {
  for (const Word& w : kWords) {
    if (word == w.word) return &w;
  }
  return nullptr;
}

bool isDecimal(const std::string& text) {
  size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  return text.size() > start && text.size() <= 11 &&
         std::all_of(text.begin() + static_cast<long>(start), text.end(),
                     [](unsigned char c) { return std::isdigit(c); });
}

bool isDay(const std::string& text) {
  return text.size() == 8 && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string argumentProblem(const Word& word, const std::string& argument, bool follow) {
  const std::string name = word.word;
  switch (word.argument) {
    case Argument::None:
      return argument.empty() ? "" : name + " takes no argument";
    case Argument::Required:
      return argument.empty() ? name + " needs a command, for example \"CMD CONFIG\"" : "";
    case Argument::Day:
      return isDay(argument) ? "" : name + " needs a day as YYYYMMDD, for example \"" + name + " 19990415\"";
    case Argument::Number:
      if (argument.empty() && follow) return "";
      return isDecimal(argument)
                 ? ""
                 : name + " needs a packet sequence number (0 for everything), for example \"" + name + " 0\"";
    case Argument::Any:
      return "";
  }
  return "";
}

}  // namespace

RequestCheck checkRequest(const std::string& text, bool follow) {
  RequestCheck check;
  check.request = text == "CFG" ? "CFG " : text;  // the agent compares "CFG " with its blank
  if (text.empty()) {
    check.error = "no request given";
    return check;
  }
  if (check.request.size() > kMaxRequestLength) {
    check.error = "the request has " + std::to_string(check.request.size()) + " characters; at most " +
                  std::to_string(kMaxRequestLength) + " fit";
    return check;
  }
  const size_t blank = text.find(' ');
  const std::string word = text.substr(0, blank);
  const std::string argument = blank == std::string::npos ? "" : text.substr(blank + 1);
  const Word* known = findWord(word);
  if (known == nullptr) {
    check.unknownWord = true;
    const Word* folded = findWord(upper(word));
    check.note =
        folded != nullptr
            ? "request words are upper case: the agent does not know \"" + word + "\" (did you mean \"" + folded->word +
                  "\"?) and answers with the totals record alone"
            : "the agent does not know the request word \"" + word + "\" and answers with the totals record alone";
    if (follow) check.error = "--follow needs STATS_PRO, DETAILS or ERRORS";
    return check;
  }
  check.error = argumentProblem(*known, argument, follow);
  if (check.error.empty() && follow && known->argument != Argument::Number) {
    check.error = "--follow needs STATS_PRO, DETAILS or ERRORS";
  }
  return check;
}

bool takesSequenceNumber(const std::string& request) {
  const std::string word = request.substr(0, request.find(' '));
  return word == "STATS_PRO" || word == "DETAILS" || word == "ERRORS";
}

std::string withSequenceNumber(const std::string& request, uint32_t sequence) {
  return request.substr(0, request.find(' ')) + " " + std::to_string(sequence);
}

uint32_t sequenceNumberOf(const std::string& request) {
  const size_t blank = request.find(' ');
  if (blank == std::string::npos) return 0;
  return static_cast<uint32_t>(std::strtol(request.c_str() + blank + 1, nullptr, 10));
}

}  // namespace veltris::cli
