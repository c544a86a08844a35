#include "tools/veltris_cli/options.h"

#include <cctype>
#include <cstdlib>

namespace veltris::cli {
namespace {

constexpr uint32_t kMaxIntervalMs = 24 * 3600 * 1000;
constexpr uint32_t kMaxRepeat = 100000000;

bool parseCount(const std::string& text, uint32_t limit, uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > limit) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

// "--name VALUE" or "--name=VALUE"; false when the option is not `name`.
bool optionValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value,
                 std::string& error) {
  const std::string& arg = args[i];
  if (arg.compare(0, name.size() + 1, name + "=") == 0) {
    value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg != name) return false;
  if (i + 1 >= args.size()) {
    error = name + " needs a value";
    return true;
  }
  value = args[++i];
  return true;
}

// One option at args[i]; false with `error` set when it is wrong.
bool parseOption(const std::vector<std::string>& args, size_t& i, ParsedCommandLine& parsed) {
  Options& o = parsed.options;
  std::string& error = parsed.error;
  const std::string& arg = args[i];
  std::string value;
  if (arg == "--json")
    o.json = true;
  else if (arg == "-H" || arg == "--human")
    o.humanUnits = true;
  else if (arg == "--follow")
    o.follow = true;
  else if (arg == "--raw")
    o.raw = true;
  else if (optionValue(args, i, "--computer", value, error))
    o.computer = value;
  else if (optionValue(args, i, "--key", value, error))
    o.key = value;
  else if (optionValue(args, i, "--save", value, error))
    o.saveFile = value;
  else if (optionValue(args, i, "--snapshot", value, error))
    o.snapshotFile = value;
  else if (optionValue(args, i, "--repeat", value, error)) {
    if (error.empty() && !parseCount(value, kMaxRepeat, o.repeat)) error = "--repeat needs a count (0: until Ctrl-C)";
  } else if (optionValue(args, i, "--interval", value, error)) {
    uint32_t ms = 0;
    if (error.empty() && !parseCount(value, kMaxIntervalMs, ms)) error = "--interval needs milliseconds";
    o.interval = std::chrono::milliseconds(ms);
  } else {
    error = "unknown option " + arg;
  }
  return error.empty();
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // Options anywhere on the line, except in the command after "CMD": "CMD PING -c 1 x" keeps its dashes.
    const bool inCommand = !words.empty() && words.front() == "CMD";
    const bool negativeNumber = arg.size() >= 2 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1]));
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || inCommand || negativeNumber) {
      words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      parsed.action = ParsedCommandLine::Action::Help;
      return parsed;
    } else if (arg == "-V" || arg == "--version") {
      parsed.action = ParsedCommandLine::Action::Version;
      return parsed;
    } else if (!parseOption(args, i, parsed)) {
      parsed.action = ParsedCommandLine::Action::Error;
      return parsed;
    }
  }
  for (const std::string& word : words) {
    if (!parsed.options.request.empty()) parsed.options.request += ' ';
    parsed.options.request += word;
  }
  if (parsed.options.request.empty()) {
    parsed.action = ParsedCommandLine::Action::Error;
    parsed.error = "no request given";
  }
  return parsed;
}

std::string usageText(const std::string& program) {
  return "Usage: " + program +
         " [OPTIONS] REQUEST... [OPTIONS]\n"
         "Sends one request to a VELTRIS agent and prints the reply's records. Options may\n"
         "stand anywhere, except after CMD, whose words all go to the command (or after --).\n"
         "\n"
         "  --computer NAME  the agent's PC: a name, an address, NAME[port] or a binding string\n"
         "                   (default: this PC)\n"
         "  --key KEY        the access key (default: \"OpenKey\" from this PC's registry)\n"
         "  -H, --human      byte counts in tables as 2.1K, 4.8M, 1.2G (powers of 1024)\n"
         "  --json           print JSON instead of tables; with --repeat one compact document\n"
         "                   per line (NDJSON), the header with \"receivedAt\" (seconds since 1970)\n"
         "  --repeat N       send the request N times (0: until Ctrl-C)\n"
         "  --interval MS    milliseconds from one request to the next (default 1000)\n"
         "  --follow         STATS_PRO, DETAILS, ERRORS: each repeat asks only for what is\n"
         "                   newer than the previous reply's packet sequence number\n"
         "  --save FILE      with SNAPSHOT: write the snapshot reply to FILE\n"
         "  --snapshot FILE  answer the request from a snapshot file instead of an agent\n"
         "                   (a plain file only)\n"
         "  --raw            control characters in replies reach a terminal as they are\n"
         "                   (by default a terminal shows them as \\xNN; a pipe or file\n"
         "                   always gets them as they are)\n"
         "  -h, --help       this text;  -V, --version  the version\n"
         "\n"
         "Requests: TOTAL, STATS_PRO N, DETAILS N, ERRORS N, HISTORY_LIST, TPT YYYYMMDD,\n"
         "TPS YYYYMMDD, OID, BCASTERS HIGH|LOW, BCASTSENT HIGH|LOW, CFG, CMD COMMAND, SNAPSHOT [PATH]\n"
         "\n"
         "  " + program + " export-pcap SNAPSHOT.VSN [PREFIX]\n"
         "writes the frames of a snapshot to pcap files, one per adapter (--help for more).\n"
         "\n"
         "Exit status: 0 done, 1 connection or request failed, 2 bad command line or no key,\n"
         "3 access key refused, 4 malformed reply, 5 the agent does not know the request word\n"
         "(it answers with the totals record alone); 1 also when the agent refused\n"
         "or could not write the file of SNAPSHOT PATH; 130 Ctrl-C, 143 SIGTERM.\n";
}

}  // namespace veltris::cli
