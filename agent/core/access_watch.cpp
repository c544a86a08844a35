#include "agent/core/access_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "agent/core/access_parameters.h"

namespace veltris::agent {
namespace {

// Without an event the file is looked at now and then anyway: a folder that
// did not exist when the watch began may appear later.
constexpr int kQuietLookMs = 5000;

constexpr uint32_t kFolderEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF;

}  // namespace

AccessParameterWatch::AccessParameterWatch(GlobalArea& global, std::filesystem::path file, Reload reload,
                                           std::chrono::milliseconds minInterval)
    : global_(global), file_(std::move(file)), reload_(std::move(reload)), minInterval_(minInterval) {
  if (!reload_) reload_ = readAccessParameters;
}

AccessParameterWatch::~AccessParameterWatch() { stop(); }

AccessParameterWatch::Signature AccessParameterWatch::current() const {
  Signature s;
  struct stat info {};
  if (::stat(file_.c_str(), &info) != 0) return s;
  s.exists = true;
  s.device = info.st_dev;
  s.inode = info.st_ino;
  s.size = info.st_size;
  s.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  s.changed = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
  return s;
}

bool AccessParameterWatch::reloadIfChanged() {
  Signature now = current();
  {
    std::lock_guard lock(mutex_);
    if (known_ && now == lastRead_) return false;
    if (known_ && SteadyClock::now() - lastReadAt_ < minInterval_) return false;
    known_ = true;
    lastRead_ = now;
    lastReadAt_ = SteadyClock::now();
    ++reloads_;
  }
  reload_(global_);
  return true;
}

uint64_t AccessParameterWatch::reloads() const {
  std::lock_guard lock(mutex_);
  return reloads_;
}

int AccessParameterWatch::pendingWait() {
  if (reloadIfChanged()) return -1;
  Signature now = current();
  std::lock_guard lock(mutex_);
  if (known_ && now == lastRead_) return -1;
  auto left = minInterval_ - std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - lastReadAt_);
  return static_cast<int>(std::clamp<long long>(left.count(), 1, minInterval_.count()));
}

void AccessParameterWatch::start() {
  if (thread_.joinable()) return;
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread(&AccessParameterWatch::run, this);
}

void AccessParameterWatch::stop() {
  if (!thread_.joinable()) return;
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::close(wakeFd_);
  wakeFd_ = -1;
}

void AccessParameterWatch::run() {
  int notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  int watch = -1;
  const std::string folder = file_.parent_path().string();
  for (;;) {
    if (notify >= 0 && watch < 0) watch = ::inotify_add_watch(notify, folder.c_str(), kFolderEvents);
    int wait = pendingWait();
    if (wait < 0) wait = watch >= 0 ? kQuietLookMs : 1000;
    std::array<pollfd, 2> fds{{{wakeFd_, POLLIN, 0}, {notify, POLLIN, 0}}};
    int ready = ::poll(fds.data(), notify >= 0 ? 2 : 1, wait);
    if (ready > 0 && (fds[0].revents & POLLIN)) break;
    if (ready > 0 && (fds[1].revents & POLLIN)) {
      alignas(inotify_event) char events[4096];
      ssize_t got = ::read(notify, events, sizeof events);
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->mask & (IN_IGNORED | IN_DELETE_SELF)) watch = -1;  // the folder went away
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }
  if (notify >= 0) ::close(notify);
}

}  // namespace veltris::agent
