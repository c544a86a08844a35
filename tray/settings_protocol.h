#pragma once
// How the desktop programs talk to veltris-settings-helper: its exit codes and
// the lines of its "read" answer and "write" input.
//   read:  prints "DataPath=<folder>" and "KeyStored=yes|no" (never the key).
//   write: reads "DataPath=<folder>" and/or "OpenKey=<password>" lines; a value
//          that is not given is not written.
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace veltris::tray::helper {

constexpr int kDone = 0;
constexpr int kUsage = 2;
constexpr int kFolderMissing = 3;
constexpr int kCreateFailed = 4;
constexpr int kKeyFailed = 5;
constexpr int kWriteFailed = 6;
constexpr int kFolderRefused = 7;  // relative, a system folder, or out of the service's reach
constexpr int kReadFailed = 8;
// The values are stored, but systemd could not be told (the drop-in, reload or restart).
constexpr int kServiceFailed = 9;
// pkexec's own: the user dismissed or failed the authentication.
constexpr int kNotAuthorised = 126;
constexpr int kAuthFailed = 127;

constexpr size_t kMaxValueLength = 255;

constexpr std::string_view kDataPathField = "DataPath";
constexpr std::string_view kOpenKeyField = "OpenKey";
constexpr std::string_view kKeyStoredField = "KeyStored";

struct StoredSettings {
  std::string dataPath;
  bool keyStored = false;
};

struct SettingsChange {
  std::optional<std::string> dataPath, openKey;
};

inline std::string formatStored(const StoredSettings& stored) {
  return std::string(kDataPathField) + "=" + stored.dataPath + "\n" + std::string(kKeyStoredField) + "=" +
         (stored.keyStored ? "yes" : "no") + "\n";
}

inline std::string formatChange(const SettingsChange& change) {
  std::string text;
  if (change.dataPath) text += std::string(kDataPathField) + "=" + *change.dataPath + "\n";
  if (change.openKey) text += std::string(kOpenKeyField) + "=" + *change.openKey + "\n";
  return text;
}

namespace detail {
inline bool splitLine(const std::string& line, std::string_view& name, std::string& value) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  name = std::string_view(line).substr(0, eq);
  value = line.substr(eq + 1);
  return true;
}
}  // namespace detail

// False on a line that is not "Name=value", an unknown or repeated name.
inline bool parseStored(std::istream& in, StoredSettings& stored) {
  std::string line, value;
  std::string_view name;
  bool sawPath = false, sawKey = false;
  while (std::getline(in, line)) {
    if (!detail::splitLine(line, name, value)) return false;
    if (name == kDataPathField && !sawPath) {
      stored.dataPath = value;
      sawPath = true;
    } else if (name == kKeyStoredField && !sawKey && (value == "yes" || value == "no")) {
      stored.keyStored = value == "yes";
      sawKey = true;
    } else {
      return false;
    }
  }
  return sawPath && sawKey;
}

inline bool parseChange(std::istream& in, SettingsChange& change, std::string& error) {
  std::string line, value;
  std::string_view name;
  while (std::getline(in, line)) {
    if (!detail::splitLine(line, name, value)) {
      error = "expected Name=value lines";
      return false;
    }
    std::optional<std::string>* field = name == kDataPathField ? &change.dataPath
                                         : name == kOpenKeyField ? &change.openKey
                                                                 : nullptr;
    if (field == nullptr || field->has_value()) {
      error = "unknown or repeated name '" + std::string(name) + "'";
      return false;
    }
    if (value.empty() || value.size() > kMaxValueLength || value.find('\0') != std::string::npos) {
      error = std::string(name) + " must hold 1 to " + std::to_string(kMaxValueLength) + " characters";
      return false;
    }
    *field = value;
  }
  if (!change.dataPath && !change.openKey) {
    error = "nothing to write";
    return false;
  }
  return true;
}

}  // namespace veltris::tray::helper
