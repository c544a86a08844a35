#include "platform/netconfig/resolver_files.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace veltris::netconfig {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool isIpv4(std::string_view text) {
  if (text.empty() || text.size() > 15) return false;
  char copy[16] = {};
  text.copy(copy, text.size());
  in_addr parsed{};
  return ::inet_pton(AF_INET, copy, &parsed) == 1;
}

// Calls `visit` with each line, without its line end.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    visit(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// Samba compares parameter names ignoring case and blanks.
std::string parameterName(std::string_view text) {
  std::string name;
  for (char c : text)
    if (!isBlank(c)) name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return name;
}

std::vector<std::string> winsAddresses(std::string_view value) {
  std::vector<std::string> addresses;
  size_t at = 0;
  while (at < value.size()) {
    while (at < value.size() && (isBlank(value[at]) || value[at] == ',')) ++at;
    size_t end = at;
    while (end < value.size() && !isBlank(value[end]) && value[end] != ',') ++end;
    std::string_view entry = value.substr(at, end - at);
    if (const size_t colon = entry.rfind(':'); colon != std::string_view::npos) entry.remove_prefix(colon + 1);
    if (isIpv4(entry)) addresses.emplace_back(entry);
    at = end;
  }
  return addresses;
}

// Joins lines ending in a backslash with the next, as Samba does.
std::vector<std::string> logicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string pending;
  forEachLine(text, [&](std::string_view line) {
    line = trimmed(line);
    if (!line.empty() && line.back() == '\\') {
      line.remove_suffix(1);
      pending.append(line).push_back(' ');
      return;
    }
    pending.append(line);
    lines.push_back(std::move(pending));
    pending.clear();
  });
  if (!pending.empty()) lines.push_back(std::move(pending));
  return lines;
}

}  // namespace

bool readConfigFile(const std::filesystem::path& file, std::string& text) {
  text.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  text.resize(kConfigFileLimit);
  size_t used = 0;
  while (used < text.size()) {
    const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<size_t>(got);
  }
  ::close(fd);
  text.resize(used);
  return true;
}

std::vector<std::string> resolverNameServers(std::string_view text) {
  std::vector<std::string> servers;
  forEachLine(text, [&](std::string_view line) {
    line = trimmed(line);
    constexpr std::string_view kKeyword = "nameserver";
    if (!line.starts_with(kKeyword) || line.size() == kKeyword.size() || !isBlank(line[kKeyword.size()])) return;
    std::string_view address = trimmed(line.substr(kKeyword.size()));
    address = address.substr(0, std::min(address.find_first_of(" \t#;"), address.size()));
    if (isIpv4(address)) servers.emplace_back(address);
  });
  return servers;
}

std::vector<std::string> sambaWinsServers(std::string_view text) {
  std::vector<std::string> servers;
  bool global = true;  // parameters before any section belong to the global one
  for (const std::string& line : logicalLines(text)) {
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      global = parameterName(std::string_view(line).substr(1, close == std::string::npos ? 0 : close - 1)) == "global";
      continue;
    }
    const size_t equals = line.find('=');
    if (!global || equals == std::string::npos) continue;
    if (parameterName(std::string_view(line).substr(0, equals)) != "winsserver") continue;
    servers = winsAddresses(std::string_view(line).substr(equals + 1));
  }
  return servers;
}

}  // namespace veltris::netconfig
