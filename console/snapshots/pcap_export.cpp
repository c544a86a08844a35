#include "console/snapshots/pcap_export.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/access/snapshot_file.h"

namespace veltris::console {
namespace {

constexpr uint32_t kLinkEthernet = 1;
constexpr uint32_t kLinkTokenRing = 6;  // IEEE 802.5
constexpr uint32_t kSnapLength = 256;

void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

int64_t startSeconds(const snapshot::CaptureImage& image) {
  std::tm t{};
  t.tm_year = image.start[0] - 1900;
  t.tm_mon = image.start[1] - 1;
  t.tm_mday = image.start[3];
  t.tm_hour = image.start[4];
  t.tm_min = image.start[5];
  t.tm_sec = image.start[6];
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

}  // namespace

std::string pcapBytes(const snapshot::CaptureImage& image) {
  std::string out;
  put32(out, 0xa1b2c3d4);
  put16(out, 2);
  put16(out, 4);
  put32(out, 0);  // this zone
  put32(out, 0);  // accuracy
  put32(out, kSnapLength);
  put32(out, image.medium == 2 ? kLinkTokenRing : kLinkEthernet);
  const int64_t start = startSeconds(image);
  for (const snapshot::CaptureFrame& f : image.frames) {
    put32(out, static_cast<uint32_t>(start + f.milliseconds / 1000));
    put32(out, (f.milliseconds % 1000) * 1000);
    put32(out, static_cast<uint32_t>(f.data.size()));
    put32(out, std::max<uint32_t>(f.frameLength, static_cast<uint32_t>(f.data.size())));
    out.append(reinterpret_cast<const char*>(f.data.data()), f.data.size());
  }
  return out;
}

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
    const std::string bytes = pcapBytes(image);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
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
