#include "agent/core/history_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "agent/core/history.h"
#include "agent/core/runtime.h"
#include "platform/service/service_manager.h"

namespace veltris::agent {
namespace {

std::mutex folderMutex;
std::string folderPath;            // the folder asked for, guarded by folderMutex
// The current directory is the history folder: true until a folder is asked
// for and cannot be entered.
std::atomic<bool> entered{true};
std::atomic<uint64_t> writeErrors{0};

std::mutex reportMutex;
std::map<std::string, std::string> reportedOn;  // file name -> date of its last report

long historyGroup() {
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrnam_r(kHistoryGroup, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return -1;
  return static_cast<long>(found->gr_gid);
}

// The folder itself, not its parents, 0750 with the group.
bool makeFolder(const std::string& path, std::string& problem) {
  const PrivateMode mode = privateMode();
  if (::mkdir(path.c_str(), mode.folderMode) != 0) {
    problem = "'" + path + "' cannot be made: " + std::strerror(errno);
    return false;
  }
  ::chmod(path.c_str(), mode.folderMode);  // whatever the umask
  if (mode.group >= 0) [[maybe_unused]] int kept = ::chown(path.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(mode.group));
  return true;
}

bool enterLocked(const std::string& path, std::string& problem) {
  if (path.empty()) {
    problem = "no history folder";
    return false;
  }
  if (::chdir(path.c_str()) == 0) return true;
  if (errno != ENOENT) {
    problem = "'" + path + "' cannot be entered: " + std::strerror(errno);
    return false;
  }
  if (!makeFolder(path, problem)) return false;
  if (::chdir(path.c_str()) != 0) {
    problem = "'" + path + "' cannot be entered: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

PrivateMode privateMode() {
  const long group = historyGroup();
  return PrivateMode{group >= 0 ? 0640u : 0600u, 0750u, group};
}

bool enterHistoryFolder(const std::string& path, std::string& problem) {
  std::lock_guard lock(folderMutex);
  folderPath = path;
  const bool ok = enterLocked(path, problem);
  entered.store(ok);
  return ok;
}

bool historyFolderEntered() { return entered.load(); }

int openHistoryFile(const std::string& name, int extraFlags, std::string& problem) {
  if (!entered.load()) {
    std::lock_guard lock(folderMutex);
    std::string why;
    if (!entered.load() && !enterLocked(folderPath, why)) {
      problem = "the history folder is missing: " + why;
      errno = ENOENT;
      return -1;
    }
    entered.store(true);
  }
  const int fd = openPrivateFileAt(AT_FDCWD, name, extraFlags, problem);
  if (fd < 0 && problem.empty()) problem = std::strerror(errno);
  return fd;
}

int openPrivateFileAt(int dirFd, const std::string& name, int extraFlags, std::string& problem) {
  const PrivateMode mode = privateMode();
  // O_NONBLOCK keeps a FIFO planted under the name from stalling the open.
  // O_TRUNC waits for the checks: a planted hard link must not lose its contents.
  const bool truncate = (extraFlags & O_TRUNC) != 0;
  const int fd = ::openat(dirFd, name.c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (extraFlags & ~O_TRUNC),
                          mode.fileMode);
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP) problem = "the file is a link";
    else if (error == ENXIO) problem = "the file is not a plain file";
    errno = error;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
    ::close(fd);
    const bool regular = S_ISREG(st.st_mode);
    problem = !regular ? "the file is not a plain file" : st.st_nlink != 1 ? "the file has other links"
                                                                            : "the file belongs to another user";
    errno = !regular ? EINVAL : st.st_nlink != 1 ? EMLINK : EPERM;
    return -1;
  }
  // A file left by an older agent, or made under another umask, is made private too.
  if (mode.group >= 0 && st.st_gid != static_cast<gid_t>(mode.group))
    [[maybe_unused]] int kept = ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(mode.group));
  if ((st.st_mode & 07777) != mode.fileMode) ::fchmod(fd, mode.fileMode);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (truncate && ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void reportHistoryWriteError(const std::string& name, const std::string& problem, uint32_t now) {
  writeErrors.fetch_add(1, std::memory_order_relaxed);
  const std::string date = dateText(now);
  {
    std::lock_guard lock(reportMutex);
    if (reportedOn.size() > 64) reportedOn.clear();  // names are dated: old ones never come back
    std::string& last = reportedOn[name];
    if (last == date) return;
    last = date;
  }
  std::string folder;
  {
    std::lock_guard lock(folderMutex);
    folder = folderPath;
  }
  char cwd[4096];
  if (folder.empty()) folder = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
  const std::string text = "History file " + name + " in '" + folder + "' not written: " + problem;
  consolePrint("ERROR - %s\n", text.c_str());
  veltris::service::logEvent("TapsorSv", veltris::service::EventType::Error, text);
}

uint64_t historyWriteErrors() { return writeErrors.load(std::memory_order_relaxed); }

}  // namespace veltris::agent
