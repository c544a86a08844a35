#include "platform/access/snapshot_pcap.h"

#include <algorithm>
#include <ctime>

namespace veltris::snapshot {
namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint32_t kSnapLength = 256;
constexpr uint16_t kMedium8025 = 2;

void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}

int64_t startSeconds(const uint16_t (&start)[8]) {
  std::tm local{};
  local.tm_year = start[0] - 1900;
  local.tm_mon = start[1] - 1;
  local.tm_mday = start[3];
  local.tm_hour = start[4];
  local.tm_min = start[5];
  local.tm_sec = start[6];
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  return t == static_cast<std::time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

}  // namespace

std::string pcapFromCaptureImage(const CaptureImage& image) {
  std::string out;
  put32(out, kPcapMagic);
  put16(out, 2);
  put16(out, 4);
  put32(out, 0);  // time zone correction
  put32(out, 0);  // accuracy
  put32(out, kSnapLength);
  put32(out, image.medium == kMedium8025 ? kLinkTypeIeee8025 : kLinkTypeEthernet);
  const int64_t start = startSeconds(image.start);
  for (const CaptureFrame& frame : image.frames) {
    const int64_t seconds = start + frame.milliseconds / 1000;
    put32(out, static_cast<uint32_t>(seconds));
    put32(out, frame.milliseconds % 1000 * 1000);
    const auto stored = static_cast<uint32_t>(frame.data.size());
    put32(out, stored);
    put32(out, std::max<uint32_t>(frame.frameLength, stored));
    out.append(reinterpret_cast<const char*>(frame.data.data()), frame.data.size());
  }
  return out;
}

}  // namespace veltris::snapshot
