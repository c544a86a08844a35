#include "console/snapshots/pcap_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

namespace veltris::console {
namespace {

constexpr size_t kItemNameSize = 16;
constexpr size_t kImageHeaderSize = 128;
constexpr uint32_t kLinkEthernet = 1;
constexpr uint32_t kLinkTokenRing = 6;  // IEEE 802.5
constexpr uint32_t kSnapLength = 256;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

void put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// The header's start time is the agent's local time of the first frame.
int64_t startSeconds(const uint8_t* header) {
  std::tm t{};
  t.tm_year = le16(header + 8) - 1900;
  t.tm_mon = le16(header + 10) - 1;
  t.tm_mday = le16(header + 14);
  t.tm_hour = le16(header + 16);
  t.tm_min = le16(header + 18);
  t.tm_sec = le16(header + 20);
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

}  // namespace

bool decodeDump(const std::vector<uint8_t>& inverted, CaptureImage& image, std::string& error) {
  std::vector<uint8_t> data(inverted.size());
  for (size_t i = 0; i < inverted.size(); ++i) data[i] = static_cast<uint8_t>(~inverted[i]);
  if (data.size() < kImageHeaderSize || std::memcmp(data.data(), "RTSS", 4) != 0) {
    error = "the packet dump does not start with a capture header";
    return false;
  }
  image.medium = le16(data.data() + 6);
  const uint32_t tableOffset = le32(data.data() + 24);
  const uint32_t tableLength = le32(data.data() + 28);
  if (tableLength % 4 != 0 || tableOffset < kImageHeaderSize || tableOffset > data.size() ||
      tableLength > data.size() - tableOffset) {
    error = "the packet dump's frame table lies outside the dump";
    return false;
  }
  const int64_t start = startSeconds(data.data());
  image.frames.clear();
  for (uint32_t i = 0; i < tableLength / 4; ++i) {
    const uint32_t at = le32(data.data() + tableOffset + 4 * i);
    if (at < kImageHeaderSize || at > tableOffset || tableOffset - at < 8) {
      error = "frame " + std::to_string(i + 1) + " of the packet dump lies outside the dump";
      return false;
    }
    const uint8_t* record = data.data() + at;
    const uint16_t stored = le16(record + 6);
    if (stored > kSnapLength || tableOffset - at - 8 < stored) {
      error = "frame " + std::to_string(i + 1) + " of the packet dump is cut short";
      return false;
    }
    const uint32_t milliseconds = le32(record);
    DumpFrame frame;
    frame.seconds = start + milliseconds / 1000;
    frame.microseconds = (milliseconds % 1000) * 1000;
    frame.wireLength = std::max<uint32_t>(le16(record + 4), stored);
    frame.bytes.assign(record + 8, record + 8 + stored);
    image.frames.push_back(std::move(frame));
  }
  return true;
}

bool writePcap(const std::filesystem::path& file, const CaptureImage& image, std::string& error) {
  std::string out;
  put32(out, 0xa1b2c3d4);
  put16(out, 2);
  put16(out, 4);
  put32(out, 0);  // this zone
  put32(out, 0);  // accuracy
  put32(out, kSnapLength);
  put32(out, image.medium == 2 ? kLinkTokenRing : kLinkEthernet);
  for (const DumpFrame& f : image.frames) {
    put32(out, static_cast<uint32_t>(f.seconds));
    put32(out, f.microseconds);
    put32(out, static_cast<uint32_t>(f.bytes.size()));
    put32(out, f.wireLength);
    out.append(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
  }
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(out.data(), static_cast<std::streamsize>(out.size()));
  stream.close();
  if (!stream) {
    error = "could not write " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

PcapExport exportSnapshotPackets(const std::filesystem::path& snapshot, const std::filesystem::path& base) {
  PcapExport result;
  std::ifstream in(snapshot, std::ios::binary);
  if (!in) {
    result.error = "could not open " + snapshot.string() + ": " + std::strerror(errno);
    return result;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 4 || std::memcmp(bytes.data(), "VSN ", 4) != 0) {
    result.error = snapshot.string() + " is not a VELTRIS snapshot";
    return result;
  }
  std::filesystem::path stem = base;
  stem.replace_extension();
  size_t at = 4;
  while (true) {
    if (bytes.size() - at < 4) {
      result.error = "SnapShot file is corrupt";
      return result;
    }
    const uint32_t length = le32(bytes.data() + at);
    if (length == 0) break;
    if (length < kItemNameSize || bytes.size() - at - 4 < length) {
      result.error = "SnapShot file is corrupt";
      return result;
    }
    const uint8_t* name = bytes.data() + at + 4;
    int adapter = 0;
    if (std::memcmp(name, "DUMP_", 5) == 0) {
      char text[kItemNameSize + 1] = {};
      std::memcpy(text, name, kItemNameSize);
      adapter = std::atoi(text + 5);
    }
    if (adapter > 0) {
      const std::vector<uint8_t> data(name + kItemNameSize, name + length);
      CaptureImage image;
      std::string error;
      if (!decodeDump(data, image, error)) {
        result.error = "adapter " + std::to_string(adapter) + ": " + error;
        return result;
      }
      const std::filesystem::path file = stem.string() + "_" + std::to_string(adapter) + ".pcap";
      if (!writePcap(file, image, error)) {
        result.error = error;
        return result;
      }
      result.files.push_back({adapter, file, static_cast<int>(image.frames.size())});
    }
    at += 4 + length;
  }
  if (result.files.empty()) {
    result.error = "the snapshot holds no packets (no adapter had captured a frame)";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace veltris::console
