#pragma once
// A snapshot's capture image as a pcap file for Wireshark and tshark.
#include <cstdint>
#include <ostream>

#include "common/snapshot_format.h"
#include "platform/access/snapshot_file.h"

namespace veltris::snapshot {

constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kLinkTypeIeee8025 = 6;
constexpr uint64_t kPcapFileHeaderSize = 24;
constexpr uint64_t kPcapFrameHeaderSize = 16;
constexpr uint32_t kCaptureSnapLength = kCaptureStoredMax;

// The most a pcap of `frames` frames can take: each frame's header and at most
// 256 stored bytes.
constexpr uint64_t pcapSizeLimit(uint64_t frames) {
  return kPcapFileHeaderSize + frames * (kPcapFrameHeaderSize + kCaptureSnapLength);
}

// Writes the pcap frame by frame to `out`: Ethernet or IEEE 802.5 link type,
// snap length 256, each frame's stored bytes (at most 256) and wire length.
// Times: the image's start (the agent's local time, read as local time here)
// plus each frame's milliseconds. False when `out` failed.
bool writePcap(const CaptureImage& image, std::ostream& out);

}  // namespace veltris::snapshot
