#include "platform/service/service_manager.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/service/systemctl.h"
#include "platform/service/unit_template.h"
#include "platform/system_root.h"

namespace veltris::service {
namespace {

constexpr char kDriverService[] = "Tapsor";

std::filesystem::path unitPath(std::string_view name) {
  return platform::unitDirectory() / (std::string(name) + ".service");
}

std::string unitName(std::string_view name) { return std::string(name) + ".service"; }

std::map<std::string, std::string> parseProperties(const std::string& output) {
  std::map<std::string, std::string> properties;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string::npos) properties[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return properties;
}

std::map<std::string, std::string> showProperties(std::string_view name) {
  return parseProperties(runSystemctl({"show", unitName(name), "-p", "LoadState", "-p", "ActiveState"}).output);
}

bool otherRoot() {
  std::error_code ec;
  return !std::filesystem::equivalent(platform::systemRoot(), "/", ec);
}

// Unit folders of packages, inside the system root, in systemd's order after /etc.
constexpr const char* kPackageUnitFolders[] = {"/usr/lib/systemd/system/", "/lib/systemd/system/"};
constexpr char kOwnUnitFolder[] = "/etc/systemd/system/";

bool inPackageFolder(const std::string& path) {
  for (const char* folder : kPackageUnitFolders)
    if (path.starts_with(folder)) return true;
  return false;
}

// A package's unit file for the service, as a path inside the system root, or empty.
std::string packageUnitFile(std::string_view name) {
  for (const char* folder : kPackageUnitFolders) {
    std::string inside = folder + unitName(name);
    if (std::filesystem::exists(platform::systemRoot() / inside.substr(1))) return inside;
  }
  return {};
}

// enable or disable: in the running system, or in the tree of another root.
CommandResult changeUnit(const char* verb, std::string_view name) {
  if (otherRoot()) return runSystemctl({"--root=" + platform::systemRoot().string(), verb, unitName(name)});
  return runSystemctl({verb, unitName(name)});
}

// The last line systemctl wrote to standard error, or what became of it.
std::string messageOf(const CommandResult& r, const std::string& what) {
  if (r.exitCode < 0) return what + ": systemctl could not be started";
  std::string text = r.errors;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.empty()) return what + ": systemctl ended with status " + std::to_string(r.exitCode);
  return what + ": " + text;
}

uint32_t stateOf(const std::string& activeState) {
  if (activeState == "active" || activeState == "reloading") return kRunning;
  if (activeState == "activating") return kStartPending;
  if (activeState == "deactivating") return kStopPending;
  return kStopped;
}

// ExecStart takes the program path as a word: quoted when it holds blanks or
// quotes, with "%" doubled so systemd reads no specifier.
std::string execStartWord(const std::string& path) {
  std::string word;
  bool quote = path.empty();
  for (char c : path) {
    if (c == '%') word += "%%";
    else if (c == '"' || c == '\\') word += std::string("\\") + c;
    else word += c;
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\') quote = true;
  }
  return quote ? '"' + word + '"' : word;
}

void replaceAll(std::string& text, std::string_view placeholder, const std::string& value) {
  for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
    text.replace(at, placeholder.size(), value);
}

}  // namespace

long SystemdManager::failed(long code, const std::string& message) {
  lastMessage_ = message;
  return code;
}

long SystemdManager::connect() {
  lastMessage_.clear();
  if (::geteuid() != 0 && !otherRoot()) return failed(kErrorAccessDenied, "the service is managed by root");
  if (runSystemctl({"--version"}).exitCode != 0) return kErrorRpcServerUnavailable;
  return 0;
}

std::string SystemdManager::unitText(const ServiceConfig& config) {
  std::string text = kUnitTemplate;
  replaceAll(text, "@DISPLAY_NAME@", config.displayName);
  replaceAll(text, "@PROGRAM@", execStartWord(config.programPath));
  return text;
}

long SystemdManager::createService(const ServiceConfig& config) {
  lastMessage_.clear();
  std::filesystem::path path = unitPath(config.name);
  if (std::filesystem::exists(path)) return kErrorServiceExists;
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  {
    std::ofstream out(path, std::ios::trunc);
    out << unitText(config);
    if (!out) return failed(kErrorAccessDenied, path.string() + ": cannot write the unit file");
  }
  if (!otherRoot()) runSystemctl({"daemon-reload"});
  CommandResult enabled = changeUnit("enable", config.name);
  if (enabled.exitCode != 0) {
    std::filesystem::remove(path, ec);  // not half installed
    if (!otherRoot()) runSystemctl({"daemon-reload"});
    return failed(kErrorServiceSpecificError, messageOf(enabled, "systemctl enable " + unitName(config.name)));
  }
  return 0;
}

UnitLocation SystemdManager::locateUnit(std::string_view name) {
  UnitLocation location;
  // A running systemd knows best; "show" has no --root, so under another root
  // (and without systemd) the unit files decide.
  std::vector<std::string> args{"show", unitName(name), "-p", "LoadState", "-p", "FragmentPath"};
  if (otherRoot()) args.insert(args.begin(), "--root=" + platform::systemRoot().string());
  CommandResult shown = runSystemctl(args);
  auto properties = parseProperties(shown.output);
  if (shown.exitCode == 0 && !properties["LoadState"].empty()) {
    location.loaded = properties["LoadState"] != "not-found";
    location.fragmentPath = properties["FragmentPath"];
    return location;
  }
  if (std::filesystem::exists(unitPath(name))) {
    location.fragmentPath = kOwnUnitFolder + unitName(name);
  } else {
    location.fragmentPath = packageUnitFile(name);
  }
  location.loaded = !location.fragmentPath.empty();
  return location;
}

std::string SystemdManager::packagedUnit(std::string_view name) {
  if (name == kDriverService) return {};
  UnitLocation location = locateUnit(name);
  return location.loaded && inPackageFolder(location.fragmentPath) ? location.fragmentPath : std::string();
}

long SystemdManager::openService(std::string_view name) {
  if (name == kDriverService) return 0;
  return locateUnit(name).loaded ? 0 : kErrorServiceDoesNotExist;
}

long SystemdManager::startService(std::string_view name) {
  uint32_t state = kStopped;
  if (long rc = queryState(name, state); rc != 0) return rc;
  if (state == kRunning || state == kStartPending) return kErrorServiceAlreadyRunning;
  lastMessage_.clear();
  CommandResult started = runSystemctl({"start", unitName(name)});
  if (started.exitCode != 0)
    return failed(kErrorServiceSpecificError, messageOf(started, "systemctl start " + unitName(name)));
  return 0;
}

long SystemdManager::stopService(std::string_view name) {
  uint32_t state = kStopped;
  if (long rc = queryState(name, state); rc != 0) return rc;
  if (state == kStopped) return kErrorServiceNotActive;
  lastMessage_.clear();
  CommandResult stopped = runSystemctl({"stop", "--no-block", unitName(name)});
  if (stopped.exitCode != 0)
    return failed(kErrorServiceSpecificError, messageOf(stopped, "systemctl stop " + unitName(name)));
  return 0;
}

long SystemdManager::queryState(std::string_view name, uint32_t& state) {
  if (name == kDriverService) {
    state = kStopped;
    return 0;
  }
  if (long rc = openService(name); rc != 0) return rc;
  auto properties = showProperties(name);
  state = stateOf(properties["ActiveState"]);
  return 0;
}

// Only the unit that -install wrote goes; the enablement of a package's unit of
// the same name stays with the package.
long SystemdManager::deleteService(std::string_view name) {
  lastMessage_.clear();
  if (!std::filesystem::exists(unitPath(name))) return kErrorServiceDoesNotExist;
  CommandResult disabled;
  disabled.exitCode = 0;
  if (packageUnitFile(name).empty()) disabled = changeUnit("disable", name);
  std::error_code ec;
  std::filesystem::remove(unitPath(name), ec);
  if (ec) return failed(kErrorAccessDenied, unitPath(name).string() + ": " + ec.message());
  if (!otherRoot()) runSystemctl({"daemon-reload"});
  if (disabled.exitCode != 0) lastMessage_ = messageOf(disabled, "systemctl disable " + unitName(name));
  return 0;
}

std::string systemErrorText(long code, size_t capacity) {
  static const std::map<long, const char*> messages = {
      {kErrorFileNotFound, "The system cannot find the file specified."},
      {kErrorAccessDenied, "Access is denied."},
      {kErrorServiceAlreadyRunning, "An instance of the service is already running."},
      {kErrorServiceDoesNotExist, "The specified service does not exist as an installed service."},
      {kErrorServiceNotActive, "The service has not been started."},
      {kErrorFailedServiceControllerConnect, "The service process could not connect to the service controller."},
      {kErrorServiceSpecificError, "The service has returned a service-specific error code."},
      {kErrorServiceExists, "The specified service already exists."},
      {kErrorRpcServerUnavailable, "The RPC server is unavailable."},
  };
  auto it = messages.find(code);
  if (it == messages.end()) return "";
  std::string text = it->second;
  if (capacity < text.size() + 2 + 14) return "";  // the system's text ends with CR LF
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%s (0x%lx)", text.c_str(), static_cast<unsigned long>(code));
  return buffer;
}

}  // namespace veltris::service
