#pragma once
// Export of a snapshot's packet dumps as pcap files: each "DUMP_n" item is a
// byte-inverted capture image of the Network Monitor 1.x format; it becomes
// one pcap file per adapter. No Qt here; the console wraps it in its menu.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltris::console {

struct ExportedDump {
  int adapter = 0;  // from the item name, counted from 1
  std::filesystem::path file;
  int frames = 0;
};

struct PcapExport {
  bool ok = false;
  std::string error;  // what failed, for the message box
  std::vector<ExportedDump> files;
};

// One frame of a capture image.
struct DumpFrame {
  int64_t seconds = 0;      // since 1970, UTC
  uint32_t microseconds = 0;
  uint32_t wireLength = 0;
  std::vector<uint8_t> bytes;
};

struct CaptureImage {
  int medium = 1;  // 1 = 802.3, 2 = 802.5
  std::vector<DumpFrame> frames;
};

// Decodes one inverted dump item's data; false with `error` set when it is damaged.
bool decodeDump(const std::vector<uint8_t>& inverted, CaptureImage& image, std::string& error);

// Writes `image` as a pcap file (Ethernet or Token Ring link type).
bool writePcap(const std::filesystem::path& file, const CaptureImage& image, std::string& error);

// Reads the snapshot file and writes "<base>_<adapter>.pcap" for each dump
// item beside `base` (an extension of base is dropped).
PcapExport exportSnapshotPackets(const std::filesystem::path& snapshot, const std::filesystem::path& base);

}  // namespace veltris::console
