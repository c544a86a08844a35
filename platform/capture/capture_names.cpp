#include "platform/capture/capture_names.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

namespace veltris::capture {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])));
    if (c != suffix[i]) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The part before a well-formed "@station" suffix, else the whole name.
std::string_view withoutStation(std::string_view adapterName) {
  const size_t at = adapterName.rfind('@');
  std::array<uint8_t, 6> mac{};
  if (at == std::string_view::npos || !parseMacAddress(adapterName.substr(at + 1), mac)) return adapterName;
  return adapterName.substr(0, at);
}

}  // namespace

bool parseMacAddress(std::string_view text, std::array<uint8_t, 6>& mac) {
  if (text.size() != 17) return false;
  const char separator = text[2];
  if (separator != ':' && separator != '-') return false;
  for (size_t i = 0; i < 6; ++i) {
    const int high = hexDigit(text[i * 3]), low = hexDigit(text[i * 3 + 1]);
    if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != separator)) return false;
    mac[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::string macText(const uint8_t* mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

bool isCaptureFileName(std::string_view adapterName) {
  if (adapterName.empty()) return false;
  if (isRegularFile(std::string(adapterName))) return true;
  const std::string_view path = withoutStation(adapterName);
  return path.find('/') != std::string_view::npos || endsWithIgnoringCase(path, ".pcap") ||
         endsWithIgnoringCase(path, ".pcapng") || endsWithIgnoringCase(path, ".cap") ||
         isRegularFile(std::string(path));
}

bool parseCaptureFileName(std::string_view adapterName, CaptureFileName& name, std::string& error) {
  name = CaptureFileName{};
  const size_t at = adapterName.rfind('@');
  if (at == std::string_view::npos || isRegularFile(std::string(adapterName))) {
    name.path = adapterName;
    return true;
  }
  if (!parseMacAddress(adapterName.substr(at + 1), name.station)) {
    error = "bad station address after '@' in \"" + std::string(adapterName) +
            "\": expected six hexadecimal bytes such as 02:00:00:00:00:05";
    return false;
  }
  name.path = adapterName.substr(0, at);
  name.hasStation = true;
  return true;
}

std::string absoluteCaptureFileName(std::string_view adapterName) {
  CaptureFileName name;
  std::string error;
  if (!isCaptureFileName(adapterName) || !parseCaptureFileName(adapterName, name, error)) return std::string(adapterName);
  const std::filesystem::path path(name.path);
  if (path.is_absolute()) return std::string(adapterName);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return std::string(adapterName);
  return absolute.lexically_normal().string() + std::string(adapterName.substr(name.path.size()));
}

}  // namespace veltris::capture
