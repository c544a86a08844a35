// Frames of every supported link type, as a capture would hand them over.
#include <pcap/dlt.h>

#include <cstdlib>
#include <cstring>

#include "platform/capture/link_framing.h"

using namespace veltris::capture;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr int kLinks[] = {DLT_EN10MB, DLT_RAW, DLT_IPV4, DLT_IPV6, DLT_LINUX_SLL, DLT_LINUX_SLL2,
                                   DLT_PPP, DLT_PPP_WITH_DIR, DLT_NULL, DLT_LOOP};
  if (size < 5) return 0;
  const int dlt = kLinks[data[0] % std::size(kLinks)];
  uint32_t wireLength = 0;
  std::memcpy(&wireLength, data + 1, 4);
  const uint8_t* frame = data + 5;
  const uint32_t captured = static_cast<uint32_t>(size - 5);
  LocalAddress local;
  local.length = captured % 3 == 0 ? 4 : 16;
  if (captured >= local.length) std::memcpy(local.bytes.data(), frame, local.length);
  uint8_t buffer[kStoredFrameBytes + 1];
  buffer[kStoredFrameBytes] = 0xC5;
  FrameRead read;
  if (isEthernetLink(dlt)) {
    storeEthernetFrame(frame, captured, wireLength, buffer, read);
  } else {
    storeWanFrame(dlt, local, frame, captured, wireLength, buffer, read);
  }
  if (read.stored > kStoredFrameBytes || buffer[kStoredFrameBytes] != 0xC5 || read.wireLength < read.stored) std::abort();
  return 0;
}
