#include "agent/diagnostics/command_table.h"

#include <arpa/inet.h>

#include <array>
#include <cctype>
#include <span>

#include "common/text_field.h"

namespace veltris::agent {
namespace {

using Words = std::span<const std::string_view>;
using Program = std::vector<std::string>;
// Fills `program` from the words behind the command word; returns why the
// command is refused, or an empty text.
using Translator = std::string (*)(Words args, Program& program);

// ---- Checks of single words ------------------------------------------------------

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

bool isSwitch(std::string_view word) { return word.size() > 1 && (word[0] == '-' || word[0] == '/'); }

bool isIpv4(std::string_view text) {
  if (text.size() > 15) return false;
  in_addr address{};
  return ::inet_pton(AF_INET, std::string(text).c_str(), &address) == 1;
}

bool isIpAddress(std::string_view text) {
  if (isIpv4(text)) return true;
  in6_addr address{};
  return text.size() <= 45 && ::inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

// A DNS name, a NetBIOS name of the usual letters or an IP address.
bool isHostText(std::string_view text) {
  if (isIpAddress(text)) return true;
  if (text.empty() || text.size() > 253 || !std::isalnum(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

bool isNetbiosName(std::string_view text) {
  if (text.empty() || text.size() > 15 || text[0] == '-') return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view("-_.$!").find(c) == std::string_view::npos)
      return false;
  }
  return true;
}

bool parseNumber(std::string_view text, long min, long max, long& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  return value >= min && value <= max;
}

std::string quoted(std::string_view word) { return "'" + std::string(word) + "'"; }

// ---- Switches of PING and TRACERT ----------------------------------------------

struct SwitchRule {
  std::string_view windows;  // lower case, without '-' or '/'
  std::string_view passedOn;  // empty: accepted, nothing passed on
  bool takesValue = false;
  long min = 0, max = 0;
  long divisor = 1;  // the value passed on is rounded up to whole units (ms -> s)
};

constexpr std::array<SwitchRule, 7> kPingSwitches{{
    {"n", "-c", true, 1, 100},
    {"l", "-s", true, 0, 65500},
    {"w", "-W", true, 1, 60000, 1000},
    {"i", "-t", true, 1, 255},
    {"a", ""},  // names are shown anyway
    {"4", "-4"},
    {"6", "-6"},
}};

constexpr std::array<SwitchRule, 5> kTracertSwitches{{
    {"d", "-n"},
    {"h", "-m", true, 1, 255},
    {"w", "-w", true, 1, 60000, 1000},
    {"4", "-4"},
    {"6", "-6"},
}};

const SwitchRule* findSwitch(std::span<const SwitchRule> rules, std::string_view word) {
  const std::string name = lower(word.substr(1));
  for (const SwitchRule& rule : rules) {
    if (rule.windows == name) return &rule;
  }
  return nullptr;
}

// Switches from `rules` and exactly one host, in any order; the host goes last.
std::string translateSwitchesAndHost(Words args, std::span<const SwitchRule> rules, Program& program) {
  std::string_view host;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view word = args[i];
    if (!isSwitch(word)) {
      if (!host.empty()) return "more than one host: " + quoted(host) + " and " + quoted(word);
      if (!isHostText(word)) return "not a host name or address: " + quoted(word);
      host = word;
      continue;
    }
    const SwitchRule* rule = findSwitch(rules, word);
    if (rule == nullptr) return "unexpected switch " + quoted(word);
    if (!rule->takesValue) {
      if (!rule->passedOn.empty()) program.emplace_back(rule->passedOn);
      continue;
    }
    long value = 0;
    if (i + 1 >= args.size() || !parseNumber(args[i + 1], rule->min, rule->max, value))
      return "switch " + quoted(word) + " needs a number from " + std::to_string(rule->min) + " to " +
             std::to_string(rule->max);
    ++i;
    program.emplace_back(rule->passedOn);
    program.push_back(std::to_string((value + rule->divisor - 1) / rule->divisor));
  }
  if (host.empty()) return "a host name or address is needed";
  program.emplace_back(host);
  return {};
}

std::string translatePing(Words args, Program& program) {
  for (std::string_view word : args) {
    if (isSwitch(word) && lower(word.substr(1)) == "t") return "pinging until stopped (-t) is not permitted";
  }
  program = {"ping"};
  std::string refusal = translateSwitchesAndHost(args, kPingSwitches, program);
  bool counted = false;
  for (const std::string& word : program) counted = counted || word == "-c";
  if (!counted) program.insert(program.begin() + 1, {"-c", "4"});  // the Windows command stops after 4
  return refusal;
}

std::string translateTracert(Words args, Program& program) {
  program = {"traceroute"};
  return translateSwitchesAndHost(args, kTracertSwitches, program);
}

// ---- NETSTAT, ARP, IPCONFIG, ROUTE PRINT -----------------------------------------

std::string translateNetstat(Words args, Program& program) {
  std::string letters;
  for (std::string_view word : args) {
    if (!isSwitch(word)) return "repeating output (" + quoted(word) + ") is not permitted";
    const std::string flags = lower(word.substr(1));
    if (flags.find_first_not_of("anreso") != std::string::npos) return "unexpected switch " + quoted(word);
    letters += flags;
  }
  auto has = [&](char c) { return letters.find(c) != std::string::npos; };
  if (has('r')) program = {"ip", "route", "show"};
  else if (has('e')) program = {"ip", "-s", "link", "show"};
  else if (has('s')) program = {"ss", "-s"};
  else {
    program = {"ss", "-t"};
    if (has('a')) program.insert(program.end(), {"-u", "-a"});
    program.emplace_back(has('n') ? "-n" : "-r");
    if (has('o')) program.emplace_back("-p");
  }
  return {};
}

std::string translateArp(Words args, Program& program) {
  bool listing = false;
  std::string_view address;
  for (std::string_view word : args) {
    const std::string name = isSwitch(word) ? lower(word.substr(1)) : std::string();
    if (name == "a" || name == "g") listing = true;
    else if (isSwitch(word)) return "unexpected switch " + quoted(word) + " (the table can only be shown)";
    else if (!address.empty() || !isIpv4(word)) return "not an IP address: " + quoted(word);
    else address = word;
  }
  if (!listing) return "ARP shows its table with -a";
  program = {"ip", "neighbour", "show"};
  if (!address.empty()) program.insert(program.end(), {"to", std::string(address)});
  return {};
}

std::string translateIpconfig(Words args, Program& program) {
  if (args.empty()) {
    program = {"ip", "address", "show"};
    return {};
  }
  if (args.size() == 1 && isSwitch(args[0]) && lower(args[0].substr(1)) == "all") {
    program = {"ip", "-details", "-statistics", "address", "show"};
    return {};
  }
  return "unexpected argument " + quoted(args[0]) + " (only /all)";
}

std::string translateRoutePrint(Words args, Program& program) {
  if (!args.empty()) return "unexpected argument " + quoted(args[0]);
  program = {"ip", "route", "show"};
  return {};
}

// ---- NSLOOKUP, NBTSTAT, NET VIEW ----------------------------------------------------

std::string translateNslookup(Words args, Program& program) {
  if (args.empty()) return "a name to look up is needed";
  if (args.size() > 2) return "unexpected argument " + quoted(args[2]);
  for (std::string_view word : args) {
    if (!isHostText(word)) return "not a host name or address: " + quoted(word);
  }
  program = {"nslookup"};
  program.insert(program.end(), args.begin(), args.end());
  return {};
}

// Switch letters are case-sensitive here: -a takes a name, -A an address.
std::string translateNbtstat(Words args, Program& program) {
  if (args.empty()) return "one of -n, -c, -a name, -A address is needed";
  const std::string_view mode = args[0];
  const size_t values = (mode == "-a" || mode == "-A") ? 1 : 0;
  if (args.size() != 1 + values) return "one of -n, -c, -a name, -A address is needed";
  if (mode == "-n") program = {"nmblookup", "-A", "127.0.0.1"};
  else if (mode == "-c") program = {"net", "cache", "list"};
  else if (mode == "-a" && isNetbiosName(args[1])) program = {"nmblookup", "-S", std::string(args[1])};
  else if (mode == "-A" && isIpv4(args[1])) program = {"nmblookup", "-A", std::string(args[1])};
  else if (values == 1) return "not a " + std::string(mode == "-a" ? "computer name: " : "IP address: ") + quoted(args[1]);
  else return "unexpected switch " + quoted(mode);
  return {};
}

std::string translateNetView(Words args, Program& program) {
  if (args.size() > 1) return "unexpected argument " + quoted(args[1]);
  std::string_view host = "127.0.0.1";  // the browse list the local server keeps
  if (!args.empty()) {
    host = args[0];
    if (host.starts_with("\\\\")) host.remove_prefix(2);
    if (!isHostText(host)) return "not a computer name: " + quoted(args[0]);
  }
  program = {"smbclient", "-L", std::string(host), "-N"};
  return {};
}

// ---- The table ----------------------------------------------------------------------

struct CommandRow {
  std::string_view word;
  std::string_view secondWord;  // "PRINT" of ROUTE PRINT; empty for one-word commands
  std::string_view form;        // as the refusal text shows it
  Translator translate;
};

constexpr std::array<CommandRow, 9> kCommandTable{{
    {"PING", "", "PING host [-n count] [-l size] [-w ms] [-i ttl] [-a] [-4|-6]", translatePing},
    {"NETSTAT", "", "NETSTAT [-a] [-n] [-o] [-r] [-e] [-s]", translateNetstat},
    {"ARP", "", "ARP -a [address]", translateArp},
    {"IPCONFIG", "", "IPCONFIG [/all]", translateIpconfig},
    {"ROUTE", "PRINT", "ROUTE PRINT", translateRoutePrint},
    {"TRACERT", "", "TRACERT [-d] [-h hops] [-w ms] host", translateTracert},
    {"NSLOOKUP", "", "NSLOOKUP name [server]", translateNslookup},
    {"NBTSTAT", "", "NBTSTAT -n | -c | -a name | -A address", translateNbtstat},
    {"NET", "VIEW", "NET VIEW [\\\\computer]", translateNetView},
}};

std::vector<std::string_view> splitAtBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < text.size()) {
    const size_t start = text.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    const size_t end = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, end - start));
    at = end;
  }
  return words;
}

// Why the text as a whole is refused, or an empty text.
std::string checkText(std::string_view text) {
  if (text.size() > kMaxCommandText)
    return "the command is longer than " + std::to_string(kMaxCommandText) + " characters";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return "the command contains control characters";
  }
  return {};
}

const CommandRow* findRow(std::span<const std::string_view> words) {
  for (const CommandRow& row : kCommandTable) {
    if (!equalsIgnoringCase(words[0], row.word)) continue;
    if (row.secondWord.empty() || (words.size() > 1 && equalsIgnoringCase(words[1], row.secondWord))) return &row;
  }
  return nullptr;
}

size_t lineLength(const Program& program) {
  size_t length = 0;
  for (const std::string& word : program) length += word.size() + 1;
  return length == 0 ? 0 : length - 1;
}

}  // namespace

CommandTranslation translateCommand(std::string_view commandText) {
  CommandTranslation result;
  result.refusal = checkText(commandText);
  if (!result.refusal.empty()) return result;
  const std::vector<std::string_view> words = splitAtBlanks(commandText);
  if (words.empty()) {
    result.refusal = "no command given";
    return result;
  }
  const CommandRow* row = findRow(words);
  if (row == nullptr) {
    result.refusal = quoted(words[0]) + " is not one of the permitted commands";
    return result;
  }
  const size_t used = row->secondWord.empty() ? 1 : 2;
  result.refusal = row->translate(Words(words).subspan(used), result.program);
  if (result.refusal.empty() && lineLength(result.program) > kMaxProgramLine)
    result.refusal = "the command line is longer than " + std::to_string(kMaxProgramLine) + " characters";
  result.permitted = result.refusal.empty();
  if (!result.permitted) result.program.clear();
  return result;
}

std::string refusalText(std::string_view commandText, std::string_view reason) {
  std::string shown = printableText(commandText, kMaxCommandText);
  if (commandText.size() > kMaxCommandText) shown += "...";
  std::string text = "Command not permitted: '" + shown + "'\r\n";
  text += "  " + std::string(reason) + "\r\n\r\nPermitted commands:\r\n";
  for (const CommandRow& row : kCommandTable) text += "  " + std::string(row.form) + "\r\n";
  return text;
}

std::vector<std::string_view> permittedForms() {
  std::vector<std::string_view> forms;
  for (const CommandRow& row : kCommandTable) forms.push_back(row.form);
  return forms;
}

}  // namespace veltris::agent
