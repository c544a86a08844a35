#include "platform/service/history_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "common/agent_service.h"
#include "platform/service/agent_installation.h"
#include "platform/service/systemctl.h"
#include "platform/system_root.h"

namespace veltris::service {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxFolderLength = 255;

// Folders refused with everything below them: the system's own files, kernel
// and device trees, and runtime state. "lib" stands for every /lib* folder.
constexpr std::array<std::string_view, 10> kSystemTrees = {"etc", "usr", "bin", "sbin", "lib", "boot",
                                                           "dev", "proc", "sys", "run"};
// Below these the service sees nothing (ProtectHome): a drop-in cannot open them.
constexpr std::array<std::string_view, 2> kHomeTrees = {"home", "root"};
// Shared folders refused themselves (a folder below them is fine): the
// drop-in would open every neighbour to the service.
constexpr std::array<std::string_view, 11> kSharedFolders = {"/var", "/var/lib", "/var/log", "/var/cache", "/var/spool",
                                                             "/tmp", "/var/tmp", "/opt", "/srv", "/mnt", "/media"};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(-1); }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// ReadWritePaths= takes quoted words: quotes and backslashes escaped, "%" doubled.
std::string quotedUnitWord(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '%') quoted += "%%";
    else if (c == '"' || c == '\\') quoted += std::string("\\") + c;
    else quoted += c;
  }
  return quoted + "\"";
}

bool insideStateDirectory(const fs::path& folder) {
  const fs::path relative = folder.lexically_relative(normalFolder(platform::windowsDirectory().string()));
  return !relative.empty() && *relative.begin() != "..";
}

std::string readText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Written beside and renamed into place: systemd never reads half a file.
bool writeAtomically(const fs::path& path, const std::string& text, std::string& error) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  const fs::path staged = path.string() + ".new";
  {
    std::ofstream out(staged, std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      error = "cannot write " + staged.string();
      fs::remove(staged, ec);
      return false;
    }
  }
  fs::permissions(staged, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                  ec);
  if (::rename(staged.c_str(), path.c_str()) != 0) {
    error = errnoText("cannot replace " + path.string());
    fs::remove(staged, ec);
    return false;
  }
  return true;
}

}  // namespace

fs::path normalFolder(const std::string& folder) {
  fs::path path = fs::path(folder).lexically_normal();
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string historyFolderRuleRefusal(const fs::path& folder) {
  if (!folder.is_absolute()) return "not an absolute path";
  auto part = folder.begin();
  ++part;  // past "/"
  if (part == folder.end() || part->empty()) return "the root folder";
  const std::string top = part->string();
  for (std::string_view tree : kSystemTrees)
    if (top == tree || (tree == "lib" && top.rfind("lib", 0) == 0)) return "a system folder (/" + top + ")";
  for (std::string_view tree : kHomeTrees)
    if (top == tree) return "a home folder, which the service cannot reach (/" + top + ")";
  for (std::string_view shared : kSharedFolders)
    if (folder == shared) return "a shared system folder: choose a folder below it";
  return {};
}

std::string historyFolderRefusal(const std::string& folder) {
  if (folder.empty()) return "no folder given";
  if (folder.size() > kMaxFolderLength) return "longer than " + std::to_string(kMaxFolderLength) + " characters";
  for (unsigned char c : folder)
    if (c < 0x20 || c == 0x7f) return "it holds control characters";
  if (folder.front() != '/') return "not an absolute path";
  const fs::path written = normalFolder(folder);
  if (std::string why = historyFolderRuleRefusal(written); !why.empty()) return why;
  // Where its links lead (the part that exists): that is where the files would go.
  std::error_code ec;
  const fs::path resolved = normalFolder(fs::weakly_canonical(written, ec).string());
  if (ec) return "it cannot be looked up: " + ec.message();
  if (std::string why = historyFolderRuleRefusal(resolved); !why.empty())
    return "it leads to " + resolved.string() + ", " + why;
  return {};
}

bool createHistoryFolder(const std::string& folder, std::string& error) {
  if (std::string why = historyFolderRefusal(folder); !why.empty()) {
    error = "'" + folder + "' cannot hold the history: " + why;
    return false;
  }
  // Walk the resolved path one name at a time without following links, so a
  // link swapped in after the check above stops the walk instead of redirecting it.
  std::error_code ec;
  const fs::path target = normalFolder(fs::weakly_canonical(normalFolder(folder), ec).string());
  Fd dir(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    error = errnoText("cannot open /");
    return false;
  }
  fs::path reached = "/";
  bool madeLast = false;
  for (auto part = std::next(target.begin()); part != target.end(); ++part) {
    const bool last = std::next(part) == target.end();
    reached /= *part;
    madeLast = false;
    if (::mkdirat(dir.get(), part->c_str(), last ? 0750 : 0755) == 0) {
      madeLast = true;
    } else if (errno != EEXIST) {
      error = errnoText("cannot create " + reached.string());
      return false;
    }
    const int next = ::openat(dir.get(), part->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      error = errnoText(reached.string() + " is not a folder");
      return false;
    }
    dir.reset(next);
    if (madeLast && !last) ::fchmod(dir.get(), 0755);  // whatever the umask
  }
  if (madeLast) {
    ::fchmod(dir.get(), 0750);
    if (::geteuid() == 0)
      if (const group* veltris = ::getgrnam("veltris")) (void)::fchown(dir.get(), static_cast<uid_t>(-1), veltris->gr_gid);
  }
  return true;
}

fs::path historyDropInPath() {
  return platform::unitDirectory() / (std::string(kServiceName) + ".service.d") / "history-folder.conf";
}

DropInResult updateHistoryDropIn(const std::string& folder) {
  DropInResult result;
  const fs::path dropIn = historyDropInPath();
  std::error_code ec;
  if (folder.empty() || insideStateDirectory(normalFolder(folder))) {
    if (fs::remove(dropIn, ec)) result.change = DropInChange::Removed;
    return result;
  }
  if (std::string why = historyFolderRefusal(folder); !why.empty()) {
    result.ok = false;
    result.error = "'" + folder + "' is not opened to the service: " + why;
    return result;
  }
  // The folder as the service will reach it: links resolved as far as they exist.
  const fs::path reached = normalFolder(fs::weakly_canonical(normalFolder(folder), ec).string());
  const std::string text =
      "# The history folder (DataPath) lies outside the state directory: open it to the service.\n"
      "[Service]\nReadWritePaths=-" +
      quotedUnitWord(reached.string()) + "\n";
  if (fs::exists(dropIn, ec) && readText(dropIn) == text) return result;
  if (!writeAtomically(dropIn, text, result.error)) {
    result.ok = false;
    return result;
  }
  result.change = DropInChange::Written;
  return result;
}

ReloadResult reloadAgentUnit(bool restart) {
  ReloadResult result;
  if (!findAgentInstallation().unit()) return result;
  auto describe = [](const CommandResult& r, const std::string& what) {
    std::string text = r.errors;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (r.exitCode < 0) return what + ": systemctl could not be started";
    return what + ": " + (text.empty() ? "systemctl ended with status " + std::to_string(r.exitCode) : text);
  };
  const CommandResult reload = runSystemctl({"daemon-reload"});
  if (reload.exitCode != 0) {
    result.error = describe(reload, "systemctl daemon-reload");
    return result;
  }
  result.reloaded = true;
  if (!restart) return result;
  const std::string unit = std::string(kServiceName) + ".service";
  const CommandResult restarted = runSystemctl({"try-restart", unit});
  if (restarted.exitCode != 0) {
    result.error = describe(restarted, "systemctl try-restart " + unit);
    return result;
  }
  result.restarted = true;
  return result;
}

}  // namespace veltris::service
