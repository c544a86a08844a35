#include "platform/system_root.h"

#include <cstdlib>

namespace veltris::platform {

std::filesystem::path systemRoot() {
  const char* root = std::getenv("VELTRIS_ROOT");
  if (root == nullptr || *root == '\0') return "/";
  return root;
}

std::filesystem::path registryFile() { return systemRoot() / "etc/veltris/registry.reg"; }
std::filesystem::path windowsDirectory() { return systemRoot() / "var/lib/veltris"; }
std::filesystem::path rpcSocketDirectory() { return systemRoot() / "run/veltris"; }
std::filesystem::path unitDirectory() { return systemRoot() / "etc/systemd/system"; }

}  // namespace veltris::platform
