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

std::string hardwareTitle(const std::filesystem::path& idsFile, uint16_t vendor, uint16_t device) {
  std::ifstream in(idsFile);
  std::string line, vendorName;
  bool inVendor = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string_view view(line);
    uint16_t id = 0;
    std::string_view name;
    if (line[0] != '\t') {
      if (inVendor) break;  // the next vendor or section: the device is not listed
      if (parseIdLine(view, id, name) && id == vendor) {
        inVendor = true;
        vendorName = name;
      }
      continue;
    }
    if (!inVendor || view.size() < 2 || view[1] == '\t') continue;  // subsystem lines
    if (parseIdLine(view.substr(1), id, name) && id == device) {
      std::string both = vendorName + " " + std::string(name);
      return both.size() <= kTitleWidth ? both : std::string(name);
    }
  }
  return {};
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
