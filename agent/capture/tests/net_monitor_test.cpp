// The NetMonitor thread over an in-memory capture device: start-up messages,
// packet filter choice, the read loop, and how the thread ends.
#include "agent/capture/net_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/console_capture.h"
#include "tests/support/frame_builder.h"
#include "platform/capture/memory_device.h"

namespace veltris::agent {
namespace {

using namespace testing;
using capture::MemoryDevice;
using capture::MemoryDeviceConfig;

constexpr Mac kOwnMac = {0x00, 0x60, 0x08, 0x44, 0x55, 0x66};
constexpr Ip4 kOwnIp = {10, 1, 1, 1};
constexpr Ip4 kPeerIp = {10, 1, 1, 2};
const Mac kPeerMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

class NetMonitorTest : public ::testing::Test {
 protected:
  NetMonitorTest() {
    rt.global.nics[0] = std::make_unique<NicArea>();
    rt.global.adapterCount = 1;
    std::strcpy(nic().adapterName, "mem0");
    rt.shutdown = [this] {
      shutdowns += 1;
      rt.stopEvent.set();
    };
    rt.openDevice = [this](std::string_view name, std::string& error) -> std::unique_ptr<capture::Device> {
      openedName = std::string(name);
      if (!nextDevice) error = "missing CAP_NET_RAW";
      device = nextDevice.get();
      return std::move(nextDevice);
    };
  }
  ~NetMonitorTest() override { stopAndJoin(); }

  NicArea& nic() { return *rt.global.nics[0]; }

  MemoryDevice& prepare(MemoryDeviceConfig config = {}) {
    if (config.station == std::array<uint8_t, 6>{}) config.station = kOwnMac;
    nextDevice = std::make_unique<MemoryDevice>(config);
    return *nextDevice;
  }

  // The thread's messages without its information lines (device description,
  // frames read at the end).
  static std::string messages(const std::string& out) {
    std::string kept;
    size_t start = 0;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      end = end == std::string::npos ? out.size() : end + 1;
      std::string line = out.substr(start, end - start);
      if (line.rfind("memory device", 0) != 0 && line.rfind("Adapter mem0: ", 0) != 0) kept += line;
      start = end;
    }
    return kept;
  }

  // Runs the thread to its end (for start-up failures, which end it at once).
  std::string runToEnd() {
    veltris::agent::testing::ConsoleCapture captured;
    runNetMonitor(rt, nic());
    return messages(captured.take());
  }

  void start() {
    thread = std::thread([this] { runNetMonitor(rt, nic()); });
    held = waitForDevice();
  }
  std::shared_ptr<capture::Device> waitForDevice() {
    for (int i = 0; i < 5000 && !nic().device(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return nic().device();
  }
  void waitForReads(uint32_t n) {
    for (int i = 0; i < 10000 && nic().readsCompleted.load() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(nic().readsCompleted.load(), n);
  }
  void stopAndJoin() {
    rt.stopEvent.set();
    if (thread.joinable()) thread.join();
  }

  AgentRuntime rt;
  std::unique_ptr<MemoryDevice> nextDevice;
  MemoryDevice* device = nullptr;
  std::shared_ptr<capture::Device> held;  // keeps the device alive after the thread drops it
  std::string openedName;
  std::atomic<int> shutdowns{0};
  std::thread thread;
};

TEST_F(NetMonitorTest, OpenFailureEndsOnlyThisThread) {
  std::string out = runToEnd();
  EXPECT_EQ(out, "ERROR - Could not open Adapter\nmem0: missing CAP_NET_RAW\n");
  EXPECT_EQ(openedName, "mem0");
  EXPECT_EQ(shutdowns, 0);
  EXPECT_FALSE(rt.stopEvent.isSet());
}

TEST_F(NetMonitorTest, StartUpFailuresRunTheShutdownRoutine) {
  struct Case {
    uint32_t removeOid;
    uint32_t media;
    const char* message;
  };
  const Case cases[] = {
      {capture::oid::kGenMediaInUse, 0, "ERROR - Could not determine Media In Use for NIC device\n"},
      {0, 3, "ERROR - Unsupported Media\n"},
      {capture::oid::k8023CurrentAddress, 0, "ERROR - Could not determine Current NIC Address\n"},
  };
  for (const Case& c : cases) {
    MemoryDeviceConfig config;
    config.mediaType = c.media;
    MemoryDevice& d = prepare(config);
    if (c.removeOid != 0) d.removeAnswer(c.removeOid);
    EXPECT_EQ(runToEnd(), c.message);
    EXPECT_EQ(nic().device(), nullptr);
  }
  EXPECT_EQ(shutdowns, 3);
}

TEST_F(NetMonitorTest, FilterFailure) {
  prepare().refuseFilter(0x8B);
  EXPECT_EQ(runToEnd(), "ERROR - Set Filter failed\n");
  EXPECT_EQ(shutdowns, 1);
}

TEST_F(NetMonitorTest, PromiscuousMode) {
  rt.promiscuous = true;
  MemoryDevice& d = prepare();
  veltris::agent::testing::ConsoleCapture captured;
  start();
  stopAndJoin();
  EXPECT_EQ(messages(captured.take()), "Promiscuous mode set okay.\n");
  EXPECT_EQ(d.filterHistory(), (std::vector<uint32_t>{0, 0x20, 0}));
}

TEST_F(NetMonitorTest, PromiscuousRefusedFallsBackToNormalFilter) {
  rt.promiscuous = true;
  MemoryDevice& d = prepare();
  d.refuseFilter(0x20);
  veltris::agent::testing::ConsoleCapture captured;
  start();
  stopAndJoin();
  EXPECT_EQ(messages(captured.take()),
            "ERROR - Adapter does not support promiscuous mode.  Normal filter will be used.\n");
  EXPECT_EQ(d.filterHistory(), (std::vector<uint32_t>{0, 0x8B, 0}));
}

TEST_F(NetMonitorTest, WanAdapter) {
  MemoryDeviceConfig wan;
  wan.wan = true;
  MemoryDevice& d = prepare(wan);
  veltris::agent::testing::ConsoleCapture captured;
  start();
  stopAndJoin();
  EXPECT_EQ(messages(captured.take()), "WAN adapter\n");
  EXPECT_EQ(d.filterHistory(), (std::vector<uint32_t>{0, 0x20, 0}));
  EXPECT_TRUE(nic().wan.load());
  for (uint8_t b : nic().station) EXPECT_EQ(b, 0);
}

TEST_F(NetMonitorTest, TokenRingAdapter) {
  MemoryDeviceConfig ring;
  ring.mediaType = 1;
  MemoryDevice& d = prepare(ring);
  start();
  stopAndJoin();
  EXPECT_EQ(d.filterHistory(), (std::vector<uint32_t>{0, 0x4089, 0}));
  EXPECT_EQ(nic().mediaType.load(), 1);
  EXPECT_EQ(0, std::memcmp(nic().station, kOwnMac.data(), 6));
  EXPECT_FALSE(nic().wan.load());
}

TEST_F(NetMonitorTest, FramesAreFiledUntilStop) {
  MemoryDevice& d = prepare();
  Bytes broadcast = arpRequestFrame(kPeerMac, kPeerIp, kOwnIp);
  Bytes received;
  for (uint32_t i = 0; i < 200; ++i) {
    d.push(tcpFrame(kPeerMac, kOwnMac, kOwnIp, kPeerIp, 1025, 139, 1 + 1460 * i, kAck | kPsh, 1460));
    received = tcpFrame(kOwnMac, kPeerMac, kPeerIp, kOwnIp, 139, 1025, 1 + 100 * i, kAck | kPsh, 100);
    d.push(received);
    d.push(broadcast);
  }
  d.push(tcpFrame(kOwnMac, kPeerMac, kPeerIp, kOwnIp, 139, 1025, 9, kRst, 0));
  start();
  waitForReads(601);
  EXPECT_EQ(nic().packetIndex.load(), 601u % 300);
  stopAndJoin();

  TrafficTotals t = rt.global.totals.load();
  EXPECT_EQ(t.sequence, 601u);
  EXPECT_EQ(t.framesSent, 200u);
  EXPECT_EQ(t.bytesSent, 200u * 1514u);
  EXPECT_EQ(t.framesReceived, 200u);
  EXPECT_EQ(t.bytesReceived, 200u * received.size());
  EXPECT_EQ(t.broadcastsReceived, 200u);
  EXPECT_EQ(t.errorsReceived, 1u);
  EXPECT_EQ(nic().errorCount.load(), 1u);
  EXPECT_EQ(nic().broadcastCount.load(), 200u);

  std::vector<PartnerRecord> partners = copyPartners(nic());
  ASSERT_EQ(partners.size(), 2u);
  EXPECT_STREQ(partners[0].station, "*006008445566");
  EXPECT_FLOAT_EQ(partners[0].bytesSent.get(), 200.0f * 1514.0f);
  EXPECT_EQ(partners[1].errors.get(), 1u);

  PacketRecord last{};
  ASSERT_TRUE(nic().packets.read(600 % 300, last));
  EXPECT_EQ(last.sequence.get(), 601u);
  EXPECT_EQ(last.errorKind.get(), kTcpReset);
  EXPECT_EQ(d.filterHistory(), (std::vector<uint32_t>{0, 0x8B, 0}));
  EXPECT_EQ(nic().device(), nullptr);
}

TEST_F(NetMonitorTest, ReplayEndIdlesUntilStop) {
  MemoryDevice& d = prepare();
  d.push(arpRequestFrame(kPeerMac, kPeerIp, kOwnIp));
  d.finish();
  start();
  waitForReads(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_NE(nic().device(), nullptr);  // still running, waiting for the stop event
  stopAndJoin();
  EXPECT_EQ(nic().device(), nullptr);
  EXPECT_EQ(rt.global.totals.load().broadcastsReceived, 1u);
}

TEST_F(NetMonitorTest, VanishedDeviceEndsThisThreadOnly) {
  MemoryDevice& d = prepare();
  veltris::agent::testing::ConsoleCapture captured;
  start();
  d.vanish("interface removed");
  thread.join();
  std::string out = captured.take();
  EXPECT_NE(out.find("mem0"), std::string::npos) << out;
  EXPECT_NE(out.find("interface removed"), std::string::npos) << out;
  EXPECT_FALSE(rt.stopEvent.isSet());
  EXPECT_EQ(shutdowns, 0);
  EXPECT_EQ(nic().device(), nullptr);
}

}  // namespace
}  // namespace veltris::agent
