// Random frames through the link-layer handlers, record frame and the DNS
// harvest. The adapters keep their tables between inputs, so full tables,
// wrapped rings and long TCP lists are reached too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "agent/capture/net_monitor.h"
#include "agent/core/names.h"
#include "agent/core/statistics.h"

using namespace veltris::agent;

namespace {

constexpr uint8_t kStation[6] = {0x00, 0x60, 0x08, 0x11, 0x22, 0x33};

struct Adapters {
  GlobalArea global;
  std::unique_ptr<FrameFiler> filers[3];
  uint32_t time = 1'000'000'000;

  Adapters() {
    global.autoIpName = 0;
    for (int i = 0; i < 3; ++i) {
      global.nics[i] = std::make_unique<NicArea>();
      NicArea& nic = *global.nics[i];
      nic.index = i;
      nic.mediaType = i == 1 ? 1 : 0;  // Ethernet, Token Ring, WAN
      nic.wan = i == 2;
      if (i != 2) std::memcpy(nic.station, kStation, 6);
      filers[i] = std::make_unique<FrameFiler>(global, nic);
    }
    global.adapterCount = 3;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Adapters adapters;
  if (size < 3) return 0;
  // Byte 0: adapter and whether this station sent the frame; bytes 1-2: extra wire length.
  int adapter = data[0] % 3;
  bool fromStation = (data[0] & 0x80) != 0;
  uint32_t extra = uint32_t{data[1]} << 8 | data[2];
  const uint8_t* frame = data + 3;
  size_t length = size - 3;

  uint8_t buffer[256] = {};
  uint32_t stored = static_cast<uint32_t>(length < sizeof buffer ? length : sizeof buffer);
  std::memcpy(buffer, frame, stored);
  if (fromStation && adapter == 0) std::memcpy(buffer + 6, kStation, 6);
  if (fromStation && adapter == 1) std::memcpy(buffer + 8, kStation, 6);

  adapters.time += data[0] & 0x0F;
  veltris::capture::FrameRead read{stored, stored + extra};
  fileCompletedRead(*adapters.filers[adapter], adapters.time, buffer, read);

  NicArea& nic = *adapters.global.nics[adapter];
  std::lock_guard lock(nic.tableMutex);
  harvestDnsReply(nic, FrameView(frame, length));
  return 0;
}
