#pragma once
// "veltris-cli export-pcap SNAPSHOT.VSN [PREFIX]": the dump items of a snapshot
// as pcap files, one per adapter (PREFIX_n.pcap, n the adapter number), with
// each frame's wire length, its stored bytes, its capture time and the
// adapter's link type (Ethernet, or Token Ring as IEEE 802.5).
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/access/snapshot_pcap.h"

namespace veltris::cli {

// Runs the command on its arguments (those after "export-pcap"); the exit status.
int runExportPcap(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string exportPcapUsage(const std::string& program);

}  // namespace veltris::cli
