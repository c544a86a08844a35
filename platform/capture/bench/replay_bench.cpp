// Replays a capture file of one million frames through the replay device.
#include <benchmark/benchmark.h>

#include "platform/capture/device.h"
#include "tests/support/pcap_writer.h"

namespace veltris::capture {
namespace {

using namespace std::chrono_literals;

constexpr int kFrames = 1000000;

const std::filesystem::path& millionFrameFile() {
  static testing::TempDir dir;
  static const std::filesystem::path file = [] {
    std::vector<testing::TestFrame> frames;
    frames.reserve(kFrames);
    const testing::Mac a = {2, 0, 0, 0, 0, 1}, b = {2, 0, 0, 0, 0, 2};
    for (int i = 0; i < kFrames; ++i) {
      const size_t length = 60 + (i * 37) % 1455;
      auto bytes = testing::ethernetFrame(i % 2 ? a : b, i % 2 ? b : a, 0x0800, std::min<size_t>(length, 256));
      frames.push_back({std::move(bytes), static_cast<uint32_t>(length)});
    }
    const std::filesystem::path path = dir / "million.pcap";
    testing::writeFile(path, testing::pcapFile(testing::kLinkEthernet, frames, 256));
    return path;
  }();
  return file;
}

void BM_ReplayMillionFrames(benchmark::State& state) {
  const std::string name = millionFrameFile().string();
  uint8_t buffer[kStoredFrameBytes] = {};
  for (auto _ : state) {
    std::string error;
    auto device = openDevice(name, error);
    if (device == nullptr) {
      state.SkipWithError(error.c_str());
      return;
    }
    const uint8_t filter[4] = {0x8B, 0, 0, 0};
    device->set(oid::kGenCurrentPacketFilter, filter, 4);
    FrameRead frame;
    int64_t frames = 0;
    uint64_t bytes = 0;
    while (device->read(buffer, frame, 0ms) == ReadResult::Frame) {
      ++frames;
      bytes += frame.stored;
    }
    benchmark::DoNotOptimize(bytes);
    if (frames != kFrames) state.SkipWithError("not every frame was replayed");
    state.SetItemsProcessed(state.items_processed() + frames);
  }
}
BENCHMARK(BM_ReplayMillionFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace veltris::capture

BENCHMARK_MAIN();
