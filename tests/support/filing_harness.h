#pragma once
// One adapter's NIC area with a frame filer, fed frames as the read loop would.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "agent/capture/net_monitor.h"
#include "agent/core/statistics.h"
#include "tests/support/frame_builder.h"

namespace veltris::agent::testing {

inline constexpr Mac kStationMac = {0x00, 0x60, 0x08, 0x11, 0x22, 0x33};
inline constexpr Ip4 kStationIp = {192, 168, 1, 10};

inline std::string hexStation(const Mac& m, bool self = false) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s = self ? "*" : "";
  for (uint8_t b : m) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 15]);
  }
  return s;
}

inline std::string ipText(const Ip4& a) {
  return "IP " + std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

// Another station on the wire, numbered.
inline Mac stationMac(int n) {
  return {0x02, 0x00, 0x00, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}
inline Ip4 stationIp(int n) { return {10, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}; }

class FilingHarness {
 public:
  explicit FilingHarness(int media = 0, bool wan = false, Mac station = kStationMac) : nic(addAdapter(global)) {
    nic.mediaType = media;
    nic.wan = wan;
    if (!wan) std::memcpy(nic.station, station.data(), 6);
    std::strcpy(global.hostName, "PC01");
    filer = std::make_unique<FrameFiler>(global, nic);
  }

  // Files the frame; `wire` 0 means the frame's own size. Answers its packet ring entry.
  PacketRecord file(const Bytes& frame, uint32_t wire = 0) {
    capture::FrameRead read;
    read.stored = static_cast<uint32_t>(std::min<size_t>(frame.size(), 256));
    read.wireLength = wire != 0 ? wire : static_cast<uint32_t>(frame.size());
    uint8_t buffer[256] = {};
    std::memcpy(buffer, frame.data(), read.stored);
    uint32_t slot = nic.readsCompleted.load() % kPacketRingSize;
    fileCompletedRead(*filer, time, buffer, read);
    PacketRecord entry{};
    nic.packets.read(slot, entry);
    return entry;
  }

  // Index of the partner with these texts, or -1.
  int partnerIndex(std::string_view station, std::string_view protoAddr) const {
    std::lock_guard lock(nic.tableMutex);
    for (int i = 0; i < nic.partnerCount; ++i) {
      const PartnerRecord& r = nic.partners[i].record;
      if (station == r.station && protoAddr == r.protoAddr) return i;
    }
    return -1;
  }
  const Partner& partner(int index) const { return nic.partners[index]; }

  static NicArea& addAdapter(GlobalArea& g) {
    g.nics[0] = std::make_unique<NicArea>();
    g.adapterCount = 1;
    return *g.nics[0];
  }

  GlobalArea global;
  NicArea& nic;
  std::unique_ptr<FrameFiler> filer;
  uint32_t time = 1'000'000'000;
};

}  // namespace veltris::agent::testing
