#pragma once
// Whether the agent is installed on this PC (below the system root), from any
// of the ways it gets there: the Debian package's unit, the unit that
// "TapsorSv -install" writes, the program itself, SETUP's driver keys, or the
// local sockets of an agent that runs here.
// Needs no right to read the registry: a user who may not still sees the rest.
#include <filesystem>
#include <optional>

namespace veltris::service {

struct AgentInstallation {
  std::optional<std::filesystem::path> packagedUnit;   // <root>/usr/lib or <root>/lib systemd/system
  std::optional<std::filesystem::path> installedUnit;  // <root>/etc/systemd/system
  std::optional<std::filesystem::path> program;        // TapsorSv in a system program folder
  bool setupTitle = false;                             // "Title" under Tapsor\CurrentVersion
  bool running = false;                                // an agent's local sockets under <root>/run/veltris

  bool unit() const { return packagedUnit || installedUnit; }
  bool any() const { return unit() || program || setupTitle || running; }
};

AgentInstallation findAgentInstallation();
inline bool agentInstalledHere() { return findAgentInstallation().any(); }

}  // namespace veltris::service
