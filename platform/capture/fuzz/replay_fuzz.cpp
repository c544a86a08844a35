// Capture files of any content, replayed to their end.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/capture/device.h"

using namespace veltris::capture;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = ::memfd_create("replay", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  std::string error;
  auto device = openDevice("/proc/self/fd/" + std::to_string(fd), error);
  if (device != nullptr) {
    const uint8_t filter[4] = {0x8B, 0, 0, 0};
    device->set(oid::kGenCurrentPacketFilter, filter, 4);
    uint8_t buffer[kStoredFrameBytes];
    FrameRead frame;
    for (int frames = 0; frames < 100000; ++frames) {
      if (device->read(buffer, frame, std::chrono::milliseconds(0)) != ReadResult::Frame) break;
      if (frame.stored > kStoredFrameBytes) std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  ::close(fd);
  return 0;
}
