#pragma once
// Reverse lookup of new IP and IPv6 partners' host names ("AutoIpName"). One worker
// thread per adapter serves a fixed-capacity queue, so a burst of new partners
// never starts more threads; a request that finds the queue full is dropped.
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "agent/core/state.h"

namespace veltris::agent {

// Writes the host name of `address` (4 bytes IPv4, 16 bytes IPv6) into name
// (NUL-terminated within size); false when none.
using ReverseResolver = std::function<bool(std::span<const uint8_t> address, char* name, size_t size)>;

// The system's reverse lookup (getnameinfo, name required).
bool resolveHostName(std::span<const uint8_t> address, char* name, size_t size);

class NameLookupWorker {
 public:
  static constexpr size_t kQueueCapacity = 64;

  explicit NameLookupWorker(GlobalArea& global, ReverseResolver resolver = resolveHostName);
  ~NameLookupWorker();
  NameLookupWorker(const NameLookupWorker&) = delete;
  NameLookupWorker& operator=(const NameLookupWorker&) = delete;

  // Queues a lookup for partner `index` of `nic`; the caller holds nic.tableMutex.
  // The thread starts with the first request. False when the queue is full.
  bool request(NicArea& nic, int index);

  // Returns when every queued lookup has been written back.
  void drain();
  // Drops queued lookups, waits for the one running, ends the thread.
  void stop();

  uint32_t dropped() const;

 private:
  struct Request {
    NicArea* nic = nullptr;
    int index = 0;
    uint8_t address[16] = {};
    uint8_t addressLength = 4;
    char station[kStationTextSize] = {};
    char protoAddr[kProtoAddrTextSize] = {};
  };

  void run();
  void writeBack(const Request& r, const char* name, bool found);

  GlobalArea& global_;
  ReverseResolver resolver_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::array<Request, kQueueCapacity> queue_;
  size_t head_ = 0;
  size_t queued_ = 0;
  bool busy_ = false;
  bool stopping_ = false;
  uint32_t dropped_ = 0;
  std::thread thread_;
};

}  // namespace veltris::agent
