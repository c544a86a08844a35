#include "console/snapshots/pcap_export.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/access/snapshot_pcap.h"

namespace veltris::console {

PcapExport exportSnapshotPackets(const std::filesystem::path& path, const std::filesystem::path& base) {
  PcapExport result;
  snapshot::SnapshotFile file;
  const snapshot::LoadResult loaded = file.load(path.string());
  if (loaded == snapshot::LoadResult::CutShort) {
    result.error = "SnapShot file is corrupt";
    return result;
  }
  if (loaded != snapshot::LoadResult::Ok) {
    result.error = path.string() + ": " + snapshot::loadResultText(loaded);
    return result;
  }
  std::filesystem::path stem = base;
  stem.replace_extension();
  for (const snapshot::Item& item : file.items()) {
    const int adapter = item.dumpAdapter();
    if (adapter <= 0) continue;
    snapshot::CaptureImage image;
    std::string problem;
    if (!snapshot::readCaptureImage(item.data, image, problem)) {
      result.error = "the packets of adapter " + std::to_string(adapter) + " are damaged: " + problem;
      return result;
    }
    const std::filesystem::path target = stem.string() + "_" + std::to_string(adapter) + ".pcap";
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    const bool written = snapshot::writePcap(image, out);
    out.close();
    if (!written || !out) {
      result.error = "could not write " + target.string() + ": " + std::strerror(errno);
      return result;
    }
    result.files.push_back({adapter, target, static_cast<int>(image.frames.size())});
  }
  if (result.files.empty()) {
    result.error = "the snapshot holds no packets (no adapter had captured a frame)";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace veltris::console
