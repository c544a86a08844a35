#pragma once
// The console's per-user single-instance channel: a Unix socket on which a
// running console listens; a client (the tray, a second console) connects,
// sends the raise request, and the console raises its window and answers.
// The socket lives in a folder only its user can enter: $XDG_RUNTIME_DIR, or
// else "veltris-UID" in $TMPDIR (or /tmp), made 0700 and checked to be the
// user's own, so no other user can listen in its place.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace veltris {

// True when `path` is a real folder (no link) of this user that no one else may write
// (`privateOnly`: that no one else may enter either).
inline bool isOwnFolder(const std::string& path, bool privateOnly) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
  return (st.st_mode & (privateOnly ? 077 : 022)) == 0;
}

// The folder of the channel; empty when no safe one can be had.
inline std::string consoleChannelFolder() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir == '/' && isOwnFolder(dir, false))
    return dir;
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder =
      std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/veltris-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  // A folder of ours left with a wider mode is narrowed; anyone else's is never used.
  if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) != 0)
    ::chmod(folder.c_str(), 0700);
  return isOwnFolder(folder, true) ? folder : std::string();
}

// The channel's socket; empty when there is no safe folder for it.
inline std::string consoleChannelPath() {
  const std::string folder = consoleChannelFolder();
  return folder.empty() ? std::string() : folder + "/veltris-console.sock";
}

// True when nothing is at `path` or it is a socket of this user: anything else
// is neither listened on, replaced nor connected to.
inline bool channelSocketUsable(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

inline constexpr const char kConsoleRaiseRequest[] = "RAISE\n";
inline constexpr const char kConsoleRaiseAnswer[] = "OK\n";
// "KEY <password>\n": the agent on this PC has a new access key (set by the
// settings dialog); a console watching that agent takes it and reconnects.
// Answered with kConsoleRaiseAnswer.
inline constexpr const char kConsoleKeyRequest[] = "KEY ";
inline constexpr int kConsoleChannelLineLimit = 300;  // a request line with its newline

}  // namespace veltris
