#pragma once
// Where the NT "system" folders live on this machine: everything hangs off one
// root (VELTRIS_ROOT, default "/") so tests can run against a private tree.
#include <filesystem>

namespace veltris::platform {

std::filesystem::path systemRoot();
std::filesystem::path registryFile();       // <root>/etc/veltris/registry.reg
std::filesystem::path windowsDirectory();   // <root>/var/lib/veltris
std::filesystem::path rpcSocketDirectory(); // <root>/run/veltris
std::filesystem::path unitDirectory();      // <root>/etc/systemd/system

}  // namespace veltris::platform
