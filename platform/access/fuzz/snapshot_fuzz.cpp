// Arbitrary bytes as a snapshot file: loading never reads outside the bytes,
// and a snapshot that loads answers every request word and gives up its
// capture images without touching memory beyond them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/access/snapshot_agent.h"
#include "platform/access/snapshot_pcap.h"

using namespace veltris::snapshot;

namespace {

const char* const kRequests[] = {
    "OPEN x",        "TOTAL",          "STATS_PRO 0",  "STATS_PRO 4294967295", "DETAILS 0",   "DETAILS 7",
    "ERRORS 0",      "HISTORY_LIST",   "TPT 19990415", "TPS 19990415",         "TPS 2",       "OID",
    "BCASTERS LOW",  "BCASTERS HIGH",  "BCASTSENT LOW", "BCASTSENT",           "CMD CONFIG",  "CMD ipconfig -all",
    "CFG ",          "SNAPSHOT",       "SNAPSHOT x.VSN", "UNKNOWN",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SnapshotFile file;
  if (file.parse(std::vector<uint8_t>(data, data + size)) != LoadResult::Ok) return 0;
  for (const Item& item : file.items()) {
    if (item.data.data() < file.bytes().data() || item.data.data() + item.data.size() > file.bytes().data() + size) {
      std::abort();
    }
    if (item.dumpAdapter() == 0) continue;
    CaptureImage image;
    std::string problem;
    const bool whole = readCaptureImage(item.data, image, problem);
    if (!whole && problem.empty()) std::abort();
    const uint8_t* previousEnd = image.bytes.data();
    for (const CaptureFrame& frame : image.frames) {
      const uint8_t* begin = image.bytes.data();
      if (frame.data.data() < begin || frame.data.data() + frame.data.size() > begin + image.bytes.size()) std::abort();
      // No byte of the image is handed out twice, and no frame stores more than 256 bytes or its wire length.
      if (frame.data.data() < previousEnd || frame.data.size() > 256 || frame.data.size() > frame.frameLength) std::abort();
      previousEnd = frame.data.data() + frame.data.size();
    }
    std::ostringstream pcap;
    if (!writePcap(image, pcap) || pcap.str().size() > pcapSizeLimit(image.frames.size())) std::abort();
  }
  SnapshotAgent agent(std::move(file));
  std::vector<uint8_t> reply;
  for (const char* text : kRequests) {
    uint8_t request[256] = {};
    std::memcpy(request, text, std::strlen(text));
    const int32_t result = agent.answer(request, reply);
    if (result != 0 && result != kNoStoredReply) std::abort();
    if (result == 0 && reply.size() > agent.file().bytes().size() + 256) std::abort();
  }
  return 0;
}
