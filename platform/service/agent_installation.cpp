#include "platform/service/agent_installation.h"

#include <unistd.h>

#include <array>
#include <string>

#include "common/agent_service.h"
#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/system_root.h"

namespace veltris::service {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> firstPresent(std::initializer_list<const char*> folders, const std::string& name,
                                     bool executable) {
  for (const char* folder : folders) {
    const fs::path candidate = platform::systemRoot() / folder / name;
    std::error_code ec;
    if (!fs::is_regular_file(candidate, ec)) continue;
    if (executable && ::access(candidate.c_str(), X_OK) != 0) continue;
    return candidate;
  }
  return std::nullopt;
}

}  // namespace

AgentInstallation findAgentInstallation() {
  AgentInstallation found;
  const std::string unit = std::string(kServiceName) + ".service";
  found.packagedUnit = firstPresent({"usr/lib/systemd/system", "lib/systemd/system"}, unit, false);
  found.installedUnit = firstPresent({"etc/systemd/system"}, unit, false);
  found.program = firstPresent({"usr/sbin", "usr/local/sbin", "sbin", "usr/bin", "usr/local/bin"}, kServiceName, true);
  std::string title;
  found.setupTitle = reg::Registry::system().queryString(kTapsorVersionKey, "Title", title) == reg::kSuccess &&
                     !title.empty();
  std::error_code ec;
  fs::directory_iterator sockets(platform::rpcSocketDirectory(), ec);
  found.running = !ec && sockets != fs::directory_iterator();
  return found;
}

}  // namespace veltris::service
