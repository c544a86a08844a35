// veltris-settings-helper: the privileged steps of the settings dialog, run
// through pkexec. It reads what is stored (never the key itself), checks or
// creates the history folder, writes "DataPath" and "OpenKey", and opens a
// history folder outside the state directory to the service.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/service/history_folder.h"
#include "tray/settings_protocol.h"

namespace {

using namespace veltris::tray::helper;
using veltris::kParametersKey;
namespace reg = veltris::reg;
namespace service = veltris::service;

void usage(std::FILE* to) {
  std::fprintf(to,
               "Usage: veltris-settings-helper read              DataPath=<folder> and KeyStored=yes|no on stdout\n"
               "       veltris-settings-helper check DIRECTORY   exit 0 when it exists, %d when not\n"
               "       veltris-settings-helper mkdir DIRECTORY   create it with its parents, exit %d on failure\n"
               "       veltris-settings-helper write             DataPath=<folder> and/or OpenKey=<password>\n"
               "                                                 lines on stdin; what is not given stays\n"
               "Folders must be absolute and outside the system's own folders (exit %d).\n"
               "Writes the VELTRIS agent's settings for the desktop programs; run through pkexec.\n",
               kFolderMissing, kCreateFailed, kFolderRefused);
}

int fail(int code, const std::string& text) {
  std::fprintf(stderr, "veltris-settings-helper: %s\n", text.c_str());
  return code;
}

int registryFailure(int code, const reg::Registry& registry) {
  return fail(code, registry.file().string() + ": " + registry.lastError());
}

int readSettings() {
  reg::Registry registry = reg::Registry::system();
  StoredSettings stored;
  std::string key;
  long rc = registry.queryString(kParametersKey, "DataPath", stored.dataPath);
  if (rc != reg::kSuccess && rc != reg::kFileNotFound) return registryFailure(kReadFailed, registry);
  rc = registry.queryString(kParametersKey, "OpenKey", key);
  if (rc != reg::kSuccess && rc != reg::kFileNotFound) return registryFailure(kReadFailed, registry);
  stored.keyStored = !key.empty();
  if (stored.dataPath.size() > kMaxValueLength) stored.dataPath.resize(kMaxValueLength);
  std::fputs(formatStored(stored).c_str(), stdout);
  return kDone;
}

int checkFolder(const std::string& folder) {
  if (std::string why = service::historyFolderRefusal(folder); !why.empty())
    return fail(kFolderRefused, "'" + folder + "' cannot hold the history: " + why);
  return ::chdir(folder.c_str()) == 0 ? kDone : kFolderMissing;
}

int makeFolder(const std::string& folder) {
  if (std::string why = service::historyFolderRefusal(folder); !why.empty())
    return fail(kFolderRefused, "'" + folder + "' cannot hold the history: " + why);
  std::string error;
  if (!service::createHistoryFolder(folder, error)) return fail(kCreateFailed, error);
  return kDone;
}

int writeSettings() {
  SettingsChange change;
  std::string error;
  if (!parseChange(std::cin, change, error)) return fail(kUsage, "write: " + error);
  if (change.dataPath)
    if (std::string why = service::historyFolderRefusal(*change.dataPath); !why.empty())
      return fail(kFolderRefused, "'" + *change.dataPath + "' cannot hold the history: " + why);

  reg::Registry registry = reg::Registry::system();
  std::string oldPath;
  const long rc = registry.queryString(kParametersKey, "DataPath", oldPath);
  if (rc != reg::kSuccess && rc != reg::kFileNotFound) return registryFailure(kKeyFailed, registry);

  // The drop-in first: a folder the service could not reach is not stored.
  service::DropInResult dropIn;
  if (change.dataPath) {
    dropIn = service::updateHistoryDropIn(*change.dataPath);
    if (!dropIn.ok) return fail(kWriteFailed, dropIn.error);
  }
  auto undoDropIn = [&] {
    if (dropIn.change != service::DropInChange::Unchanged) service::updateHistoryDropIn(oldPath);
  };
  if (registry.createKey(kParametersKey) != reg::kSuccess) {
    undoDropIn();
    return registryFailure(kKeyFailed, registry);
  }
  if ((change.dataPath && registry.setString(kParametersKey, "DataPath", *change.dataPath) != reg::kSuccess) ||
      (change.openKey && registry.setString(kParametersKey, "OpenKey", *change.openKey) != reg::kSuccess)) {
    undoDropIn();
    return registryFailure(kWriteFailed, registry);
  }

  // The running agent picks up a new key by itself; a new folder needs a restart.
  const bool folderChanged =
      change.dataPath && (*change.dataPath != oldPath || dropIn.change != service::DropInChange::Unchanged);
  if (folderChanged) {
    const service::ReloadResult reload = service::reloadAgentUnit(true);
    if (!reload.error.empty()) return fail(kServiceFailed, "the settings are stored, but " + reload.error);
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
    std::printf("veltris-settings-helper 19990415\n");
    return 0;
  }
  if ((verb == "check" || verb == "mkdir") && argc == 3) {
    const std::string folder = argv[2];
    if (folder.empty() || folder.size() > kMaxValueLength) return fail(kUsage, "a folder of 1 to 255 characters");
    return verb == "check" ? checkFolder(folder) : makeFolder(folder);
  }
  if (verb == "read" && argc == 2) return readSettings();
  if (verb == "write" && argc == 2) return writeSettings();
  usage(stderr);
  return kUsage;
}
