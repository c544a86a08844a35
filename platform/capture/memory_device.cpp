#include "platform/capture/memory_device.h"

#include <algorithm>
#include <cstring>

#include "platform/capture/oid_answer.h"

namespace veltris::capture {

MemoryDevice::MemoryDevice(MemoryDeviceConfig config) : config_(std::move(config)) {}

void MemoryDevice::setAnswer(uint32_t oid, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  std::erase(removed_, oid);
  config_.answers[oid] = std::move(bytes);
}

void MemoryDevice::setNumber(uint32_t oid, uint32_t value) {
  std::vector<uint8_t> bytes(4);
  answerNumber(bytes.data(), 4, value);
  setAnswer(oid, std::move(bytes));
}

void MemoryDevice::removeAnswer(uint32_t oid) {
  std::lock_guard lock(mutex_);
  config_.answers.erase(oid);
  removed_.push_back(oid);
}

void MemoryDevice::refuseFilter(uint32_t filter) {
  std::lock_guard lock(mutex_);
  refusedFilters_.push_back(filter);
}

void MemoryDevice::push(std::span<const uint8_t> bytes, uint32_t wireLength) {
  QueuedFrame frame;
  frame.stored = static_cast<uint32_t>(std::min<size_t>(bytes.size(), kStoredFrameBytes));
  std::memcpy(frame.bytes.data(), bytes.data(), frame.stored);
  frame.wireLength = wireLength != 0 ? wireLength : static_cast<uint32_t>(bytes.size());
  {
    std::lock_guard lock(mutex_);
    frames_.push_back(frame);
  }
  changed_.notify_all();
}

void MemoryDevice::finish() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

void MemoryDevice::vanish(std::string why) {
  {
    std::lock_guard lock(mutex_);
    if (!vanished_) error_ = std::move(why);
    vanished_ = true;
  }
  changed_.notify_all();
}

uint32_t MemoryDevice::packetFilter() const {
  std::lock_guard lock(mutex_);
  return filter_;
}

std::vector<uint32_t> MemoryDevice::filterHistory() const {
  std::lock_guard lock(mutex_);
  return filterHistory_;
}

size_t MemoryDevice::queued() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

bool MemoryDevice::builtInAnswer(uint32_t oid, void* data, uint32_t len) const {
  static constexpr uint8_t kZeroAddress[6] = {};
  switch (oid) {
    case oid::kGenMediaInUse:
      return answerNumber(data, len, config_.mediaType);
    case oid::k8023CurrentAddress:
      return config_.mediaType == kMedium8023 && answerAddress(data, len, config_.station.data());
    case oid::k8025CurrentAddress:
      return config_.mediaType == kMedium8025 && answerAddress(data, len, config_.station.data());
    case oid::kWanPermanentAddress:
      return config_.wan && answerAddress(data, len, kZeroAddress);
    default:
      return false;
  }
}

bool MemoryDevice::query(uint32_t oid, void* data, uint32_t len) {
  std::lock_guard lock(mutex_);
  if (data == nullptr || std::ranges::find(removed_, oid) != removed_.end()) return false;
  auto answer = config_.answers.find(oid);
  if (answer == config_.answers.end()) return builtInAnswer(oid, data, len);
  const std::vector<uint8_t>& bytes = answer->second;
  std::memset(data, 0, len);
  std::memcpy(data, bytes.data(), std::min<size_t>(len, bytes.size()));
  return true;
}

bool MemoryDevice::set(uint32_t oid, const void* data, uint32_t len) {
  if (oid != oid::kGenCurrentPacketFilter || len != 4 || data == nullptr) return false;
  const uint32_t filter = loadLittleEndian32(data);
  {
    std::lock_guard lock(mutex_);
    if (std::ranges::find(refusedFilters_, filter) != refusedFilters_.end()) return false;
    filter_ = filter;
    filterHistory_.push_back(filter);
  }
  changed_.notify_all();
  return true;
}

bool MemoryDevice::readyLocked() const {
  return vanished_ || (filter_ != 0 && !frames_.empty()) || (finished_ && frames_.empty());
}

ReadResult MemoryDevice::read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, maxWait, [this] { return readyLocked(); })) return ReadResult::Timeout;
  if (vanished_) return ReadResult::Gone;
  if (frames_.empty()) return ReadResult::End;
  const QueuedFrame& next = frames_.front();
  std::memcpy(buffer, next.bytes.data(), next.stored);
  frame.stored = next.stored;
  frame.wireLength = next.wireLength;
  frames_.pop_front();
  return ReadResult::Frame;
}

const std::string& MemoryDevice::error() const { return error_; }

std::string MemoryDevice::describe() const {
  return config_.wan ? "memory device, WAN" : config_.mediaType == kMedium8025 ? "memory device, Token Ring"
                                                                     : "memory device, Ethernet";
}

}  // namespace veltris::capture
