// Live capture speed: trafgen floods one end of a veth pair (in namespaces of
// its own) and the device on the other end reads every frame it can.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/capture/device.h"
#include "tests/support/pcap_writer.h"
#include "tests/support/test_namespace.h"

namespace veltris::capture {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 2000000;

std::string trafgenConfig(const std::string& destination) {
  std::string bytes;
  for (size_t i = 0; i < destination.size(); i += 3) bytes += "0x" + destination.substr(i, 2) + ", ";
  return "{ " + bytes + "0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x88, 0xB5, fill(0x00, 46) }\n";
}

void BM_LiveVethCapture(benchmark::State& state) {
  if (::geteuid() != 0 || testing::runCommand("command -v trafgen") != 0) {
    state.SkipWithError("needs root and trafgen (netsniff-ng)");
    return;
  }
  testing::VethNamespaces net;
  std::string error;
  if (!net.create(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  testing::TempDir dir;
  for (auto _ : state) {
    int64_t frames = 0;
    uint64_t drops = 0;
    double seconds = 0;
    testing::runInNamespace(net.namespaceA, [&] {
      std::string mac;
      std::getline(std::ifstream("/sys/class/net/" + net.interfaceA + "/address"), mac);
      std::ofstream(dir / "frame.cfg") << trafgenConfig(mac);
      auto device = openDevice(net.interfaceA, error);
      if (device == nullptr) return;
      const uint8_t filter[4] = {0x8B, 0, 0, 0};
      device->set(oid::kGenCurrentPacketFilter, filter, 4);
      std::atomic<bool> sent{false};
      std::thread sender([&] {
        testing::runCommand(net.inB("trafgen -i " + (dir / "frame.cfg").string() + " -o " + net.interfaceB + " -n " +
                                    std::to_string(kFrames) + " -P 1"));
        sent = true;
      });
      uint8_t buffer[kStoredFrameBytes];
      FrameRead frame;
      Clock::time_point first{}, last{};
      for (;;) {
        const ReadResult result = device->read(buffer, frame, 200ms);
        if (result == ReadResult::Frame) {
          last = Clock::now();
          if (frames++ == 0) first = last;
        } else if (result != ReadResult::Timeout || sent) {
          break;
        }
      }
      sender.join();
      drops = device->kernelDrops();
      seconds = std::chrono::duration<double>(last - first).count();
    });
    state.SetIterationTime(seconds > 0 ? seconds : 1e-9);
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["kernel_drops"] = static_cast<double>(drops);
    state.counters["frames_per_s"] = seconds > 0 ? frames / seconds : 0;
  }
}
BENCHMARK(BM_LiveVethCapture)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace veltris::capture

BENCHMARK_MAIN();
