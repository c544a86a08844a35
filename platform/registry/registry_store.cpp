#include "platform/registry/registry_store.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/registry/registry.h"
#include "platform/registry/registry_format.h"

namespace veltris::reg::detail {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { close(); }
  int get() const { return fd_; }
  void reset(int fd) {
    close();
    fd_ = fd;
  }
  bool valid() const { return fd_ >= 0; }
  int close() {
    const int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

std::string systemError(int code) { return std::error_code(code, std::generic_category()).message(); }

std::string describe(const std::filesystem::path& path, std::string_view what, int code) {
  return path.string() + ": " + std::string(what) + ": " + systemError(code);
}

std::string tooLarge(const std::filesystem::path& file) { return file.string() + ": registry file larger than 16 MiB"; }

// Whole file, at most kMaxRegistryFileBytes. O_NONBLOCK keeps a FIFO from hanging the open.
long readWholeFile(const std::filesystem::path& file, std::string& text, bool& missing, std::string& error) {
  missing = false;
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      missing = true;
      return kSuccess;
    }
    error = describe(file, "cannot open registry file", errno);
    return kAccessDenied;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    error = describe(file, "cannot inspect registry file", errno);
    return kAccessDenied;
  }
  if (!S_ISREG(status.st_mode)) {
    error = file.string() + ": registry file is not a regular file";
    return kAccessDenied;
  }
  if (static_cast<uint64_t>(status.st_size) > kMaxRegistryFileBytes) {
    error = tooLarge(file);
    return kInvalidData;
  }
  text.clear();
  while (text.size() <= kMaxRegistryFileBytes) {
    const size_t offset = text.size();
    text.resize(offset + kReadChunk);
    const ssize_t count = ::read(fd.get(), text.data() + offset, kReadChunk);
    if (count < 0 && errno == EINTR) {
      text.resize(offset);
      continue;
    }
    if (count < 0) {
      error = describe(file, "cannot read registry file", errno);
      return kAccessDenied;
    }
    text.resize(offset + static_cast<size_t>(count));
    if (count == 0) return kSuccess;
  }
  error = tooLarge(file);
  return kInvalidData;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

void syncDirectory(const std::filesystem::path& directory) {
  FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

constexpr char kWatchersGroup[] = "veltris";

// Writes a temp file beside the target, makes it durable, then renames it over the target.
long replaceFile(const std::filesystem::path& file, const std::string& text, std::string& error) {
  std::string tempName = file.string() + ".XXXXXX";
  FileDescriptor fd(::mkostemp(tempName.data(), O_CLOEXEC));
  if (!fd.valid()) {
    error = describe(file.parent_path(), "cannot create a temporary file", errno);
    return kAccessDenied;
  }
  // The file holds the access key: a new one is readable by root only, or by
  // root and the "veltris" group when it exists; a replaced one keeps its mode and group.
  struct stat status {};
  mode_t mode = 0600;
  gid_t group = static_cast<gid_t>(-1);
  if (::stat(file.c_str(), &status) == 0) {
    mode = status.st_mode & 07777;
    group = status.st_gid;
  } else if (const struct group* watchers = ::getgrnam(kWatchersGroup)) {
    mode = 0640;
    group = watchers->gr_gid;
  }
  if (group != static_cast<gid_t>(-1)) {
    [[maybe_unused]] int kept = ::fchown(fd.get(), static_cast<uid_t>(-1), group);  // a user not in the group keeps its own
  }
  const bool written = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  const int writeErrno = errno;
  if (!written || fd.close() != 0) {
    error = describe(tempName, "cannot write registry file", written ? errno : writeErrno);
    ::unlink(tempName.c_str());
    return kAccessDenied;
  }
  if (::rename(tempName.c_str(), file.c_str()) != 0) {
    error = describe(file, "cannot replace registry file", errno);
    ::unlink(tempName.c_str());
    return kAccessDenied;
  }
  syncDirectory(file.parent_path());
  return kSuccess;
}

long lockRegistry(const std::filesystem::path& file, FileDescriptor& lock, std::string& error) {
  std::error_code ec;
  const std::filesystem::path directory = file.parent_path();
  if (!directory.empty()) std::filesystem::create_directories(directory, ec);
  if (ec) {
    error = directory.string() + ": cannot create directory: " + ec.message();
    return kAccessDenied;
  }
  std::filesystem::path lockPath = file;
  lockPath += ".lock";
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = describe(lockPath, "cannot open lock file", errno);
    return kAccessDenied;
  }
  lock.reset(fd);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = describe(lockPath, "cannot lock", errno);
      return kAccessDenied;
    }
  }
  return kSuccess;
}

}  // namespace

long loadRegistry(const std::filesystem::path& file, RegTree& tree, std::string& error) {
  std::string text;
  bool missing = false;
  const long result = readWholeFile(file, text, missing, error);
  if (result != kSuccess || missing) return result;
  ParseError parseError;
  if (!parseRegistryText(text, tree, parseError)) {
    error = file.string() + ": line " + std::to_string(parseError.line) + ": " + parseError.message;
    return kInvalidData;
  }
  return kSuccess;
}

long updateRegistry(const std::filesystem::path& file, const RegistryChange& change, std::string& error) {
  FileDescriptor lock(-1);
  long result = lockRegistry(file, lock, error);
  if (result != kSuccess) return result;
  RegTree tree;
  result = loadRegistry(file, tree, error);
  if (result != kSuccess) return result;
  bool changed = false;
  result = change(tree, changed, error);
  if (result != kSuccess || !changed) return result;
  std::string text, why;
  if (!formatRegistryText(tree, text, why)) {
    error = file.string() + ": " + why;
    return kInvalidData;
  }
  if (text.size() > kMaxRegistryFileBytes) {
    error = file.string() + ": change refused, the registry file would grow beyond 16 MiB";
    return kInvalidData;
  }
  return replaceFile(file, text, error);
}

}  // namespace veltris::reg::detail
