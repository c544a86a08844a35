#include "runner/program_packages.h"

#include <unistd.h>

#include <array>
#include <utility>

namespace veltris::runner {
namespace {

// Every program of the agent's command table.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kPackages{{
    {"ping", "iputils-ping"},
    {"ip", "iproute2"},
    {"ss", "iproute2"},
    {"traceroute", "traceroute"},
    {"nslookup", "bind9-dnsutils"},
    {"nmblookup", "samba-common-bin"},
    {"net", "samba-common-bin"},
    {"smbclient", "smbclient"},
}};

bool onSearchPath(std::string_view program, std::string_view searchPath) {
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = searchPath.find(':', start);
    if (end == std::string_view::npos) end = searchPath.size();
    std::string folder(searchPath.substr(start, end - start));
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + std::string(program);
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string_view packageOfProgram(std::string_view program) {
  for (const auto& [name, package] : kPackages)
    if (name == program) return package;
  return {};
}

std::string missingProgramNote(std::string_view program, std::string_view searchPath) {
  const std::string_view package = packageOfProgram(program);
  if (package.empty() || onSearchPath(program, searchPath)) return {};
  return "NOTE: " + std::string(program) + " is not installed; it comes with the package " + std::string(package) +
         " (apt install " + std::string(package) + ")\n";
}

}  // namespace veltris::runner
