#pragma once
// Export of a snapshot's packet dumps as pcap files, one per adapter, for
// Wireshark and tshark. The snapshot is read with the access layer's reader.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltris::snapshot {
struct CaptureImage;
}

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

// Reads the snapshot file and writes "<base>_<adapter>.pcap" for each dump
// item (an extension of base is dropped).
PcapExport exportSnapshotPackets(const std::filesystem::path& snapshot, const std::filesystem::path& base);

}  // namespace veltris::console
