#include "agent/capture/net_monitor.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/capture/frame_handlers.h"
#include "common/registry_names.h"
#include "agent/core/name_lookup.h"

namespace veltris::agent {
namespace {

namespace oid = capture::oid;
namespace filter = capture::filter;

constexpr auto kRelaxed = std::memory_order_relaxed;
// Under steady traffic reads never time out; the stop event is looked at every so many frames.
constexpr unsigned kFramesPerStopCheck = 64;
constexpr std::chrono::milliseconds kIdleWait{1000};

enum class LoopEnd { Stopped, Gone };

void runShutdown(AgentRuntime& rt) {
  if (rt.shutdown) rt.shutdown();
}

bool setPacketFilter(capture::Device& device, uint32_t value) {
  return device.set(oid::kGenCurrentPacketFilter, &value, sizeof value);
}

// The whole name after the device prefix: interface names fit the 32-byte
// adapter name, capture file paths often do not.
const char* openName(const NicArea& nic) {
  return std::strlen(nic.deviceName) > kDevicePrefixLength ? nic.deviceName + kDevicePrefixLength : nic.adapterName;
}

std::shared_ptr<capture::Device> openAdapter(AgentRuntime& rt, NicArea& nic) {
  std::string error;
  std::unique_ptr<capture::Device> device;
  if (rt.openDevice)
    device = rt.openDevice(openName(nic), error);
  else
    error = "no capture device opener";
  if (!device) {
    consolePrint("ERROR - Could not open Adapter\n");
    consolePrint("%s: %s\n", openName(nic), error.empty() ? "reason unknown" : error.c_str());
    return nullptr;
  }
  std::string description = device->describe();
  if (!description.empty()) consolePrint("%s\n", description.c_str());
  return std::shared_ptr<capture::Device>(std::move(device));
}

// Medium, station address and WAN flag; false (after the message) on failure.
bool learnAdapter(NicArea& nic, capture::Device& device) {
  uint8_t request[256] = {};
  if (!device.query(oid::kGenMediaInUse, request, 4)) {
    consolePrint("ERROR - Could not determine Media In Use for NIC device\n");
    return false;
  }
  uint8_t media = request[0];
  if (media != capture::kMedium8023 && media != capture::kMedium8025) {
    consolePrint("ERROR - Unsupported Media\n");
    return false;
  }
  nic.mediaType.store(media, kRelaxed);
  std::memset(request, 0, sizeof request);
  if (!device.query(media == capture::kMedium8023 ? oid::k8023CurrentAddress : oid::k8025CurrentAddress, request, 6)) {
    consolePrint("ERROR - Could not determine Current NIC Address\n");
    return false;
  }
  std::lock_guard lock(nic.tableMutex);
  std::memcpy(nic.station, request, 6);
  nic.wan.store(false, kRelaxed);
  if (device.query(oid::kWanPermanentAddress, request, 6)) {
    nic.wan.store(true, kRelaxed);
    consolePrint("WAN adapter\n");
    std::memset(nic.station, 0, 6);  // learnt from the first frame
  }
  return true;
}

bool choosePacketFilter(AgentRuntime& rt, NicArea& nic, capture::Device& device) {
  if (rt.promiscuous) {
    if (setPacketFilter(device, filter::kPromiscuous)) {
      consolePrint("Promiscuous mode set okay.\n");
      return true;
    }
    consolePrint("ERROR - Adapter does not support promiscuous mode.  Normal filter will be used.\n");
  }
  uint32_t normal = filter::kDirected | filter::kMulticast | filter::kBroadcast | filter::kAllLocal;  // 0x8B
  if (nic.mediaType.load(kRelaxed) == capture::kMedium8025)
    normal = filter::kDirected | filter::kBroadcast | filter::kAllLocal | filter::kFunctional;  // 0x4089
  if (nic.wan.load(kRelaxed)) normal = filter::kPromiscuous;
  if (setPacketFilter(device, normal)) return true;
  consolePrint("ERROR - Set Filter failed\n");
  return false;
}

void idleUntilStop(AgentRuntime& rt) {
  while (!rt.stopEvent.waitFor(kIdleWait)) {
  }
}

// What the loop does when a read brings no frame: the loop's end, or nothing to read on.
std::optional<LoopEnd> afterNoFrame(AgentRuntime& rt, NicArea& nic, capture::Device& device,
                                    capture::ReadResult result) {
  switch (result) {
    case capture::ReadResult::Frame:
      break;
    case capture::ReadResult::Timeout:
      if (rt.stopEvent.isSet()) return LoopEnd::Stopped;
      break;
    case capture::ReadResult::End:  // a replayed file is over: wait for stop
      consolePrint("Capture file %s replayed: %u frames\n", openName(nic), nic.readsCompleted.load(kRelaxed));
      rt.clock->adapterDone(nic.index);
      idleUntilStop(rt);
      return LoopEnd::Stopped;
    case capture::ReadResult::Gone:
      consolePrint("ERROR - Adapter %s failed, its monitoring ends: %s\n", nic.adapterName,
                   device.error().empty() ? "device gone" : device.error().c_str());
      return LoopEnd::Gone;
  }
  return std::nullopt;
}

// Files one frame and makes ready for the next: the packet ring slot it will
// take, and its buffer cleared again.
void fileAndClear(FrameFiler& filer, uint32_t time, uint8_t* buffer, const capture::FrameRead& read) {
  NicArea& nic = filer.nic();
  fileCompletedRead(filer, time, buffer, read);
  nic.packetIndex.store(nic.readsCompleted.load(kRelaxed) % kPacketRingSize, kRelaxed);
  std::memset(buffer, 0, std::min<uint32_t>(read.stored, kStoredFrameBytes));
}

// Live: each frame is filed as soon as it is read.
LoopEnd readFrameByFrame(AgentRuntime& rt, NicArea& nic, capture::Device& device, FrameFiler& filer) {
  std::vector<uint8_t> buffer(kStoredFrameBytes);  // zero-filled; cleared again after each frame
  unsigned framesSinceCheck = 0;
  for (;;) {
    capture::FrameRead read;
    const capture::ReadResult result = device.read(buffer.data(), read, kReadWait);
    if (result == capture::ReadResult::Frame) {
      uint32_t time = 0;
      if (!rt.clock->stampFrame(nic.index, read, rt.stopEvent, time)) return LoopEnd::Stopped;
      fileAndClear(filer, time, buffer.data(), read);
      if (++framesSinceCheck >= kFramesPerStopCheck) {
        framesSinceCheck = 0;
        if (rt.stopEvent.isSet()) return LoopEnd::Stopped;
      }
      continue;
    }
    if (const std::optional<LoopEnd> end = afterNoFrame(rt, nic, device, result)) return *end;
  }
}

// Replay: frames are read a window at a time, which the clock files in time
// order with the other files' windows, and reads the next, on this thread or
// on another's.
class ReadAhead {
 public:
  ReadAhead(size_t frames, capture::Device& device, FrameFiler& filer)
      : capacity_(std::clamp<size_t>(frames, 1, kMost)), bytes_(capacity_ * kStoredFrameBytes), device_(device),
        filer_(filer) {}

  // Reads until the window is full or the device has no frame now (last() says why).
  std::span<const capture::FrameRead> refill() {
    count_ = 0;
    last_ = capture::ReadResult::Frame;
    while (count_ < capacity_ &&
           (last_ = device_.read(buffer(count_), reads_[count_], kReadWait)) == capture::ReadResult::Frame)
      ++count_;
    return std::span(reads_.data(), count_);
  }
  capture::ReadResult last() const { return last_; }
  FrameWindow window() { return FrameWindow{std::span(reads_.data(), count_), &fileOne, &refillOne, this}; }

 private:
  static constexpr size_t kMost = 256;
  uint8_t* buffer(size_t i) { return bytes_.data() + i * kStoredFrameBytes; }
  static void fileOne(void* owner, size_t i, uint32_t time) {
    auto& ahead = *static_cast<ReadAhead*>(owner);
    fileAndClear(ahead.filer_, time, ahead.buffer(i), ahead.reads_[i]);
  }
  static std::span<const capture::FrameRead> refillOne(void* owner) { return static_cast<ReadAhead*>(owner)->refill(); }

  size_t capacity_;
  std::vector<uint8_t> bytes_;  // zero-filled: each buffer is cleared once its frame is filed
  capture::Device& device_;
  FrameFiler& filer_;
  std::array<capture::FrameRead, kMost> reads_;
  size_t count_ = 0;
  capture::ReadResult last_ = capture::ReadResult::Frame;
};

LoopEnd readInWindows(AgentRuntime& rt, NicArea& nic, capture::Device& device, FrameFiler& filer) {
  ReadAhead ahead(rt.clock->readAhead(), device, filer);
  for (;;) {
    if (!ahead.refill().empty()) {
      // The clock keeps the window's address while it files from it and reads on.
      const FrameWindow window = ahead.window();
      if (!rt.clock->fileWindow(nic.index, window, rt.stopEvent) || rt.stopEvent.isSet()) return LoopEnd::Stopped;
    }
    if (const std::optional<LoopEnd> end = afterNoFrame(rt, nic, device, ahead.last())) return *end;
  }
}

LoopEnd readLoop(AgentRuntime& rt, NicArea& nic, capture::Device& device, FrameFiler& filer) {
  nic.packetIndex.store(nic.readsCompleted.load(kRelaxed) % kPacketRingSize, kRelaxed);
  return rt.clock->readAhead() > 1 ? readInWindows(rt, nic, device, filer) : readFrameByFrame(rt, nic, device, filer);
}

}  // namespace

void fileCompletedRead(FrameFiler& filer, uint32_t frameTime, const uint8_t* buffer, const capture::FrameRead& read) {
  NicArea& nic = filer.nic();
  uint32_t n = nic.readsCompleted.load(kRelaxed);
  nic.readsCompleted.store(n + 1, kRelaxed);
  const uint32_t stored = std::min<uint32_t>(read.stored, kStoredFrameBytes);
  FrameSummary s;
  s.time = frameTime;
  s.length = std::max(read.wireLength, stored);
  std::lock_guard lock(nic.tableMutex);
  summarizeFrame(nic, FrameView(buffer, stored), s);
  filer.file(s, buffer, stored, n % kPacketRingSize);
}

void runNetMonitor(AgentRuntime& rt, NicArea& nic) {
  struct Done {
    AgentRuntime& rt;
    int index;
    ~Done() { rt.clock->adapterDone(index); }
  } done{rt, nic.index};
  std::shared_ptr<capture::Device> device = openAdapter(rt, nic);
  if (!device) {
    nic.opening.store(NicArea::Opening::Failed);
    return;
  }
  nic.setDevice(device);
  setPacketFilter(*device, 0);
  if (!learnAdapter(nic, *device) || !choosePacketFilter(rt, nic, *device)) {
    nic.opening.store(NicArea::Opening::Failed);
    nic.setDevice(nullptr);
    runShutdown(rt);
    return;
  }
  nic.opening.store(NicArea::Opening::Opened);

  NameLookupWorker names(rt.global);
  auto filer = std::make_unique<FrameFiler>(rt.global, nic, &names);
  LoopEnd end = readLoop(rt, nic, *device, *filer);
  names.stop();
  consolePrint("Adapter %s: %u frames read, %llu dropped by the kernel\n", openName(nic),
               nic.readsCompleted.load(kRelaxed), static_cast<unsigned long long>(device->kernelDrops()));
  if (end == LoopEnd::Stopped) setPacketFilter(*device, 0);
  nic.setDevice(nullptr);
}

}  // namespace veltris::agent
