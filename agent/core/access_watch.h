#pragma once
// Keeps "OpenKey" and "AutoIpName" in step with the registry file: a watcher
// thread notices when the file changes and re-reads it, so a key written by
// the settings helper takes effect without a restart. "OPEN " requests ask too.
// Either way the file is read only when it differs from the last read, and at
// most once a second.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "agent/core/state.h"

namespace veltris::agent {

class AccessParameterWatch {
 public:
  using Reload = std::function<void(GlobalArea&)>;
  using SteadyClock = std::chrono::steady_clock;

  // `reload` empty: readAccessParameters.
  AccessParameterWatch(GlobalArea& global, std::filesystem::path file, Reload reload = {},
                       std::chrono::milliseconds minInterval = std::chrono::seconds(1));
  ~AccessParameterWatch();
  AccessParameterWatch(const AccessParameterWatch&) = delete;
  AccessParameterWatch& operator=(const AccessParameterWatch&) = delete;

  void start();  // the watcher thread
  void stop();

  // Re-reads when the file changed since the last read and that read is at
  // least the minimum interval old. True when it read.
  bool reloadIfChanged();
  uint64_t reloads() const;

 private:
  struct Signature {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0;  // nanoseconds
    int64_t changed = 0;
    bool operator==(const Signature&) const = default;
  };

  Signature current() const;
  // Milliseconds until a pending change may be read, or -1 when none is pending.
  int pendingWait();
  void run();

  GlobalArea& global_;
  const std::filesystem::path file_;
  Reload reload_;
  const std::chrono::milliseconds minInterval_;

  mutable std::mutex mutex_;
  bool known_ = false;  // nothing read yet through the watch: the first look reads
  Signature lastRead_;
  SteadyClock::time_point lastReadAt_{};
  uint64_t reloads_ = 0;

  std::thread thread_;
  int wakeFd_ = -1;
};

}  // namespace veltris::agent
