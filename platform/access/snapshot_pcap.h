#pragma once
// A snapshot's capture image as a pcap file for Wireshark and tshark.
#include <cstdint>
#include <string>

#include "platform/access/snapshot_file.h"

namespace veltris::snapshot {

constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kLinkTypeIeee8025 = 6;

// Ethernet or IEEE 802.5 link type, snap length 256, each frame's stored bytes
// and wire length. Times: the image's start (the agent's local time, read as
// local time here) plus each frame's milliseconds.
std::string pcapFromCaptureImage(const CaptureImage& image);

}  // namespace veltris::snapshot
