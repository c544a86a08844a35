#include "platform/access/snapshot_pcap.h"

#include <algorithm>
#include <ctime>

namespace veltris::snapshot {
namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint16_t kMedium8025 = 2;

void put32(char*& at, uint32_t v) {
  for (int i = 0; i < 4; ++i) *at++ = static_cast<char>(v >> (8 * i));
}
void put16(char*& at, uint16_t v) {
  *at++ = static_cast<char>(v);
  *at++ = static_cast<char>(v >> 8);
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

bool writePcap(const CaptureImage& image, std::ostream& out) {
  char header[kPcapFileHeaderSize];
  char* at = header;
  put32(at, kPcapMagic);
  put16(at, 2);
  put16(at, 4);
  put32(at, 0);  // time zone correction
  put32(at, 0);  // accuracy
  put32(at, kCaptureSnapLength);
  put32(at, image.medium == kMedium8025 ? kLinkTypeIeee8025 : kLinkTypeEthernet);
  out.write(header, sizeof header);
  const int64_t start = startSeconds(image.start);
  for (const CaptureFrame& frame : image.frames) {
    if (!out) return false;
    // Never more than the snap length, whatever the image claims.
    const auto stored = static_cast<uint32_t>(std::min<size_t>(frame.data.size(), kCaptureSnapLength));
    char record[kPcapFrameHeaderSize];
    at = record;
    put32(at, static_cast<uint32_t>(start + frame.milliseconds / 1000));
    put32(at, frame.milliseconds % 1000 * 1000);
    put32(at, stored);
    put32(at, std::max<uint32_t>(frame.frameLength, stored));
    out.write(record, sizeof record);
    out.write(reinterpret_cast<const char*>(frame.data.data()), stored);
  }
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace veltris::snapshot
