#pragma once
// "veltris-cli export-pcap SNAPSHOT.VSN [PREFIX]": the dump items of a snapshot
// as pcap files, one per adapter (PREFIX_n.pcap, n the adapter number), with
// each frame's wire length, its stored bytes, its capture time and the
// adapter's link type (Ethernet, or Token Ring as IEEE 802.5).
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/access/snapshot_file.h"

namespace veltris::cli {

constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kLinkTypeIeee8025 = 6;

// The capture image as a pcap file. Times: the image's start (the agent's
// local time, read as local time here) plus each frame's milliseconds.
std::string pcapFromCaptureImage(const snapshot::CaptureImage& image);

// Runs the command on its arguments (those after "export-pcap"); the exit status.
int runExportPcap(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string exportPcapUsage(const std::string& program);

}  // namespace veltris::cli
