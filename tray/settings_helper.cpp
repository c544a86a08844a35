// veltris-settings-helper: the one privileged step of the tray's settings
// dialog, run through pkexec. It checks or creates the history folder and
// writes "DataPath" and "OpenKey"; nothing else.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "common/registry_names.h"
#include "common/version.h"
#include "platform/registry/registry.h"
#include "tray/settings_protocol.h"

namespace {

using namespace veltris::tray::helper;
using veltris::kParametersKey;

void usage(std::FILE* to) {
  std::fprintf(to,
               "Usage: veltris-settings-helper check DIRECTORY   exit 0 when it exists, %d when not\n"
               "       veltris-settings-helper mkdir DIRECTORY   create it (one level), exit %d on failure\n"
               "       veltris-settings-helper write             DataPath and OpenKey as two lines on stdin\n"
               "Writes the VELTRIS agent's settings for veltris-tray; run through pkexec.\n",
               kFolderMissing, kCreateFailed);
}

bool validValue(const std::string& value) {
  return value.size() <= kMaxValueLength && value.find('\0') == std::string::npos;
}

int writeParameters() {
  std::string dataPath, openKey;
  if (!std::getline(std::cin, dataPath) || !std::getline(std::cin, openKey) || !validValue(dataPath) ||
      !validValue(openKey) || dataPath.empty() || openKey.empty()) {
    std::fprintf(stderr, "veltris-settings-helper: expected two lines (DataPath, OpenKey) of 1 to %zu characters\n",
                 kMaxValueLength);
    return kUsage;
  }
  veltris::reg::Registry registry = veltris::reg::Registry::system();
  if (registry.createKey(kParametersKey) != veltris::reg::kSuccess) {
    std::fprintf(stderr, "veltris-settings-helper: %s: %s\n", registry.file().c_str(), registry.lastError().c_str());
    return kKeyFailed;
  }
  if (registry.setString(kParametersKey, "DataPath", dataPath) != veltris::reg::kSuccess ||
      registry.setString(kParametersKey, "OpenKey", openKey) != veltris::reg::kSuccess) {
    std::fprintf(stderr, "veltris-settings-helper: %s: %s\n", registry.file().c_str(), registry.lastError().c_str());
    return kWriteFailed;
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "--help") {
    usage(stdout);
    return 0;
  }
  if (verb == "--version") {
    std::printf("veltris-settings-helper %s\n", veltris::kProgramVersion);
    return 0;
  }
  if ((verb == "check" || verb == "mkdir") && argc == 3 && argv[2][0] != '\0' &&
      std::strlen(argv[2]) <= kMaxValueLength) {
    if (verb == "check") return ::chdir(argv[2]) == 0 ? kDone : kFolderMissing;
    if (::mkdir(argv[2], 0755) == 0) return kDone;
    std::fprintf(stderr, "veltris-settings-helper: cannot create '%s': %s\n", argv[2], std::strerror(errno));
    return kCreateFailed;
  }
  if (verb == "write" && argc == 2) return writeParameters();
  usage(stderr);
  return kUsage;
}
