#include "platform/capture/hardware_ids.h"

#include <cctype>
#include <charconv>
#include <fstream>

namespace veltris::capture {
namespace {

constexpr size_t kTitleWidth = 63;  // a 64-byte title field with its terminator

bool parseHexId(std::string_view text, uint16_t& id) {
  if (text.size() < 4) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + 4, id, 16);
  return ec == std::errc() && end == text.data() + 4;
}

// "xxxx  name" with a four-digit hexadecimal id.
bool parseIdLine(std::string_view line, uint16_t& id, std::string_view& name) {
  if (line.size() < 7 || line.substr(4, 2) != "  " || !parseHexId(line, id)) return false;
  name = line.substr(6);
  return true;
}

std::string normalisedModuleName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = c == '-' ? '_' : c;
  return out;
}

}  // namespace

bool lookUpHardwareNames(const std::filesystem::path& idsFile, uint16_t vendor, uint16_t device, HardwareNames& names) {
  std::ifstream in(idsFile);
  std::string line;
  bool inVendor = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    uint16_t id = 0;
    std::string_view name;
    if (line[0] != '\t') {
      if (inVendor) return true;  // the next vendor or section: the device is not listed
      inVendor = parseIdLine(line, id, name) && id == vendor;
      if (inVendor) names.vendor = name;
      continue;
    }
    if (inVendor && line.size() > 1 && line[1] != '\t' && parseIdLine(std::string_view(line).substr(1), id, name) &&
        id == device) {  // "\t\t" lines are subsystems
      names.device = name;
      return true;
    }
  }
  return inVendor;
}

std::string hardwareTitle(const std::filesystem::path& idsFile, uint16_t vendor, uint16_t device) {
  HardwareNames names;
  if (!lookUpHardwareNames(idsFile, vendor, device, names)) return {};
  return hardwareTitle(names);
}

std::string hardwareTitle(const HardwareNames& names) {
  if (names.device.empty()) return {};
  std::string both = names.vendor + " " + names.device;
  return both.size() <= kTitleWidth ? both : names.device;
}

std::filesystem::path moduleFile(const std::filesystem::path& modulesDir, std::string_view module) {
  const std::string wanted = normalisedModuleName(module);
  std::ifstream in(modulesDir / "modules.dep");
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::filesystem::path file = line.substr(0, colon);
    const std::string name = file.filename().string();
    const size_t ko = name.find(".ko");
    if (ko == std::string::npos || normalisedModuleName(name.substr(0, ko)) != wanted) continue;
    return file.is_absolute() ? file : modulesDir / file;
  }
  return {};
}

bool readSmallFile(const std::filesystem::path& file, std::string& text, size_t limit) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  text.assign(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  if (in.bad()) return false;
  text.resize(static_cast<size_t>(in.gcount()));
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return true;
}

}  // namespace veltris::capture
