#include "tools/veltris_cli/pcap_export.h"

#include <algorithm>
#include <ctime>
#include <fstream>

#include "platform/access/snapshot_pcap.h"
#include "tools/veltris_cli/agent_session.h"

namespace veltris::cli {
namespace {

constexpr uint16_t kMedium8025 = 2;

std::string defaultPrefix(const std::string& snapshot) {
  const size_t slash = snapshot.rfind('/');
  const size_t dot = snapshot.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) return snapshot.substr(0, dot);
  return snapshot;
}

bool writeFile(const std::string& path, const snapshot::CaptureImage& image) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const bool written = snapshot::writePcap(image, file);
  file.close();
  return written && static_cast<bool>(file);
}

}  // namespace

int runExportPcap(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string program = "veltris-cli export-pcap";
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    out << exportPcapUsage("veltris-cli");
    return kExitOk;
  }
  if (args.empty() || args.size() > 2 || args[0].empty() || args[0][0] == '-') {
    err << program << ": needs a snapshot file and at most an output prefix (" << program << " --help shows the usage)\n";
    return kExitUsage;
  }
  const std::string& path = args[0];
  const std::string prefix = args.size() > 1 ? args[1] : defaultPrefix(path);
  snapshot::SnapshotFile file;
  const snapshot::LoadResult loaded = file.load(path);
  if (loaded != snapshot::LoadResult::Ok) {
    err << program << ": cannot read " << path << ": " << snapshot::loadResultText(loaded) << '\n';
    return kExitFailed;
  }
  int status = kExitOk;
  int dumps = 0;
  for (const snapshot::Item& item : file.items()) {
    const int adapter = item.dumpAdapter();
    if (adapter == 0) continue;
    ++dumps;
    snapshot::CaptureImage image;
    std::string problem;
    if (!snapshot::readCaptureImage(item.data, image, problem)) {
      err << program << ": " << item.nameText() << " of " << path << " is damaged (" << problem
          << "); the frames before the damage are exported\n";
      status = kExitBadReply;
    }
    const std::string outPath = prefix + "_" + std::to_string(adapter) + ".pcap";
    if (!writeFile(outPath, image)) {
      err << program << ": cannot write " << outPath << " (check the folder exists and is writable)\n";
      return kExitFailed;
    }
    out << "Adapter " << adapter << ": " << image.frames.size() << " frames -> " << outPath << " ("
        << (image.medium == kMedium8025 ? "Token Ring, IEEE 802.5" : "Ethernet") << ")\n";
  }
  if (dumps == 0) err << program << ": " << path << " holds no captured frames; nothing written\n";
  return status;
}

std::string exportPcapUsage(const std::string& program) {
  return "Usage: " + program +
         " export-pcap SNAPSHOT.VSN [PREFIX]\n"
         "Writes the frames captured in a snapshot to one pcap file per adapter,\n"
         "PREFIX_n.pcap for adapter n (default PREFIX: the snapshot's name without\n"
         "its extension), for Wireshark and tshark: each frame's first 256 bytes, its\n"
         "length on the wire, its capture time (whole seconds; the agent's local time\n"
         "read as this PC's) and the adapter's link type (Ethernet or IEEE 802.5).\n"
         "\n"
         "Exit status: 0 done, 1 the snapshot or an output file failed, 2 bad command\n"
         "line, 4 a damaged dump (the frames before the damage are written).\n";
}

}  // namespace veltris::cli
