#pragma once
// An in-memory capture device for tests: frames are pushed by the test and read
// by the code under test, possibly on another thread.
//
// Like the other devices it starts with packet filter 0 and delivers nothing
// until a non-zero filter is set; frames pushed meanwhile wait in the queue.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/capture/device.h"

namespace veltris::capture {

struct MemoryDeviceConfig {
  uint32_t mediaType = 0;  // answer of OID_GEN_MEDIA_IN_USE: 0 802.3, 1 802.5
  std::array<uint8_t, 6> station{};
  bool wan = false;  // answers OID_WAN_PERMANENT_ADDRESS (six zero bytes)
  // Further OID answers as raw little-endian bytes; they take precedence over the
  // built-in answers for media, station address and WAN address.
  std::map<uint32_t, std::vector<uint8_t>> answers;
};

class MemoryDevice final : public Device {
 public:
  explicit MemoryDevice(MemoryDeviceConfig config = {});

  // Test side.
  void setAnswer(uint32_t oid, std::vector<uint8_t> bytes);
  void setNumber(uint32_t oid, uint32_t value);  // 4 bytes
  void removeAnswer(uint32_t oid);               // the query then fails (built-ins too)
  void refuseFilter(uint32_t filter);            // sets of this packet filter fail
  void push(std::span<const uint8_t> bytes, uint32_t wireLength = 0);  // 0: bytes.size()
  void finish();                                  // End once the queue has drained
  void vanish(std::string why = "device removed");  // Gone from the next read on
  uint32_t packetFilter() const;
  std::vector<uint32_t> filterHistory() const;  // every accepted filter set, in order
  size_t queued() const;

  // Device.
  bool query(uint32_t oid, void* data, uint32_t len) override;
  bool set(uint32_t oid, const void* data, uint32_t len) override;
  ReadResult read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) override;
  const std::string& error() const override;
  std::string describe() const override;

 private:
  struct QueuedFrame {
    std::array<uint8_t, kStoredFrameBytes> bytes{};
    uint32_t stored = 0;
    uint32_t wireLength = 0;
  };
  bool builtInAnswer(uint32_t oid, void* data, uint32_t len) const;
  bool readyLocked() const;

  MemoryDeviceConfig config_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<QueuedFrame> frames_;
  std::vector<uint32_t> removed_;
  std::vector<uint32_t> refusedFilters_;
  std::vector<uint32_t> filterHistory_;
  uint32_t filter_ = 0;
  bool finished_ = false;
  bool vanished_ = false;
  std::string error_;
};

}  // namespace veltris::capture
