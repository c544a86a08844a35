#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "platform/capture/adapter_info.h"
#include "platform/capture/capture_names.h"
#include "platform/capture/device.h"
#include "platform/capture/link_framing.h"
#include "tests/support/pcap_writer.h"
#include "tests/support/test_namespace.h"

namespace veltris::capture {
namespace {

using namespace std::chrono_literals;
using testing::runCommand;
using testing::runInNamespace;
using testing::VethNamespaces;

constexpr int kReadAttempts = 200;  // bounds every read loop below
constexpr uint16_t kFlagPromiscuous = 0x100;

bool setFilter(Device& device, uint32_t filter) {
  uint8_t bytes[4] = {static_cast<uint8_t>(filter), static_cast<uint8_t>(filter >> 8), 0, 0};
  return device.set(oid::kGenCurrentPacketFilter, bytes, 4);
}

std::string sysfsText(const std::string& interfaceName, const std::string& attribute) {
  std::ifstream in("/sys/class/net/" + interfaceName + "/" + attribute);
  std::string text;
  std::getline(in, text);
  return text;
}

uint32_t queryNumber(Device& device, uint32_t oid, bool& answered) {
  uint32_t value = 0;
  answered = device.query(oid, &value, 4);
  return value;
}

class LiveCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = testing::liveTestsUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    std::string error;
    ASSERT_TRUE(net.create(error)) << error;
  }
  std::unique_ptr<Device> openA() {
    std::string error;
    auto device = openDevice(net.interfaceA, error);
    EXPECT_NE(device, nullptr) << error;
    return device;
  }
  VethNamespaces net;
};

TEST_F(LiveCapture, OidsAnswerTheVethsAddressStateSpeedAndCounters) {
  runInNamespace(net.namespaceA, [&] {
    auto device = openA();
    ASSERT_NE(device, nullptr);
    bool answered = false;
    EXPECT_EQ(queryNumber(*device, oid::kGenMediaInUse, answered), 0u);
    EXPECT_TRUE(answered);
    uint8_t address[6] = {};
    ASSERT_TRUE(device->query(oid::k8023CurrentAddress, address, 6));
    EXPECT_EQ(macText(address), sysfsText(net.interfaceA, "address"));
    EXPECT_FALSE(device->query(oid::kWanPermanentAddress, address, 6));
    EXPECT_EQ(sysfsText(net.interfaceA, "operstate"), "up");
    EXPECT_EQ(queryNumber(*device, oid::kGenHardwareStatus, answered), 0u);
    EXPECT_EQ(queryNumber(*device, oid::kGenMediaConnectStatus, answered), 0u);
    EXPECT_EQ(queryNumber(*device, oid::kGenLinkSpeed, answered),
              static_cast<uint32_t>(std::stoul(sysfsText(net.interfaceA, "speed")) * 10000));
    EXPECT_EQ(queryNumber(*device, oid::kGenMacOptions, answered), 0x08u);
    EXPECT_EQ(queryNumber(*device, oid::kGenXmitError, answered),
              static_cast<uint32_t>(std::stoull(sysfsText(net.interfaceA, "statistics/tx_errors"))));
    EXPECT_TRUE(answered);
    queryNumber(*device, oid::k8023XmitLateCollisions, answered);
    EXPECT_TRUE(answered);
    queryNumber(*device, oid::k8023XmitDeferred, answered);
    EXPECT_FALSE(answered) << "Linux keeps no deferred count";
    queryNumber(*device, oid::k8025LineErrors, answered);
    EXPECT_FALSE(answered);
    uint8_t version[2] = {};
    ASSERT_TRUE(device->query(oid::kGenDriverVersion, version, 2));
    EXPECT_EQ(version[1], 4);

    ASSERT_EQ(runCommand("ip link set " + net.interfaceA + " down"), 0);
    EXPECT_EQ(queryNumber(*device, oid::kGenHardwareStatus, answered), 4u) << "NotReady";
    EXPECT_EQ(queryNumber(*device, oid::kGenMediaConnectStatus, answered), 1u) << "disconnected";
    EXPECT_TRUE(answered);
  });
}

// Echo requests to B are sent frames, replies received ones; pings while the
// filter is 0 (100 bytes of data) must never show.
TEST_F(LiveCapture, SentAndReceivedFramesAreDeliveredAndFilterZeroDeliversNothing) {
  runInNamespace(net.namespaceA, [&] {
    auto device = openA();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(runCommand(net.inA(std::string("ping -c 2 -i 0.2 -s 100 ") + VethNamespaces::kAddressB)), 0);
    ASSERT_TRUE(setFilter(*device, 0x8B));
    ASSERT_EQ(runCommand(net.inA(std::string("ping -c 2 -i 0.2 -s 400 ") + VethNamespaces::kAddressB)), 0);
    uint8_t own[6] = {};
    ASSERT_TRUE(device->query(oid::k8023CurrentAddress, own, 6));
    bool sawRequest = false, sawReply = false;
    for (int i = 0; i < kReadAttempts && !(sawRequest && sawReply); ++i) {
      uint8_t buffer[kStoredFrameBytes] = {};
      FrameRead frame;
      const ReadResult result = device->read(buffer, frame, 200ms);
      if (result == ReadResult::Timeout) continue;
      ASSERT_EQ(result, ReadResult::Frame) << device->error();
      const bool icmp = buffer[12] == 0x08 && buffer[13] == 0x00 && buffer[23] == 1;
      if (!icmp) continue;
      EXPECT_NE(frame.wireLength, 14u + 20 + 8 + 100) << "a frame from while the filter was 0";
      if (frame.wireLength != 14u + 20 + 8 + 400) continue;
      EXPECT_EQ(frame.stored, kStoredFrameBytes);
      if (buffer[34] == 8) sawRequest = sawRequest || std::equal(own, own + 6, buffer + 6);
      if (buffer[34] == 0) sawReply = sawReply || std::equal(own, own + 6, buffer);
    }
    EXPECT_TRUE(sawRequest) << "the frames this station sent";
    EXPECT_TRUE(sawReply) << "the frames it received";
  });
}

TEST_F(LiveCapture, PromiscuousBitSwitchesPromiscuousMode) {
  runInNamespace(net.namespaceA, [&] {
    auto device = openA();
    ASSERT_NE(device, nullptr);
    auto promiscuous = [&] { return (std::stoul(sysfsText(net.interfaceA, "flags"), nullptr, 16) & kFlagPromiscuous) != 0; };
    ASSERT_TRUE(setFilter(*device, 0x8B));
    EXPECT_FALSE(promiscuous());
    ASSERT_TRUE(setFilter(*device, 0x20));
    EXPECT_TRUE(promiscuous());
    ASSERT_TRUE(setFilter(*device, 0x8B));
    EXPECT_FALSE(promiscuous());
    ASSERT_TRUE(setFilter(*device, 0x20));
    device.reset();
    EXPECT_FALSE(promiscuous()) << "closing the device ends promiscuous mode";
  });
}

// Frames written onto interface B arrive at A as they are.
void sendFramesFromB(const VethNamespaces& net, const std::vector<std::vector<uint8_t>>& frames) {
  runInNamespace(net.namespaceB, [&] {
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(::if_nametoindex(net.interfaceB.c_str()));
    to.sll_halen = 6;
    for (const std::vector<uint8_t>& frame : frames) {
      std::copy(frame.begin(), frame.begin() + 6, to.sll_addr);
      EXPECT_EQ(::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                static_cast<ssize_t>(frame.size()));
    }
    ::close(fd);
  });
}

// Four frames 02:44::01 -> 02:44::02 and then one to A itself, which ends the count.
int otherHostFramesSeen(Device& device, const VethNamespaces& net, uint8_t round) {
  uint8_t own[6] = {};
  EXPECT_TRUE(device.query(oid::k8023CurrentAddress, own, 6));
  const testing::Mac c = {0x02, 0x44, 0, 0, 0, 0x01}, d = {0x02, 0x44, 0, 0, 0, 0x02};
  testing::Mac a;
  std::copy(own, own + 6, a.begin());
  std::vector<std::vector<uint8_t>> frames(4, testing::ethernetFrame(d, c, 0x88B5, 60, round));
  frames.push_back(testing::ethernetFrame(a, c, 0x88B6, 60, round));
  sendFramesFromB(net, frames);
  int others = 0;
  for (int i = 0; i < kReadAttempts; ++i) {
    uint8_t buffer[kStoredFrameBytes] = {};
    FrameRead frame;
    const ReadResult result = device.read(buffer, frame, 200ms);
    if (result == ReadResult::Timeout) continue;
    EXPECT_EQ(result, ReadResult::Frame) << device.error();
    if (result != ReadResult::Frame || buffer[12] != 0x88 || buffer[14] != round) continue;
    if (buffer[13] == 0xB6) return others;
    if (buffer[13] == 0xB5) ++others;
  }
  ADD_FAILURE() << "the frame to the station itself never arrived";
  return -1;
}

TEST_F(LiveCapture, FramesBetweenOtherStationsCountOnlyWithThePromiscuousBit) {
  runInNamespace(net.namespaceA, [&] {
    auto device = openA();
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(setFilter(*device, 0x8B));
    EXPECT_EQ(otherHostFramesSeen(*device, net, 1), 0) << "not promiscuous: filtered in the kernel";
    ASSERT_EQ(runCommand("ip link set " + net.interfaceA + " promisc on"), 0);  // another program's doing
    EXPECT_EQ(otherHostFramesSeen(*device, net, 2), 0) << "a card made promiscuous by someone else";
    ASSERT_EQ(runCommand("ip link set " + net.interfaceA + " promisc off"), 0);
    ASSERT_TRUE(setFilter(*device, 0x20));
    EXPECT_EQ(otherHostFramesSeen(*device, net, 3), 4);
  });
}

TEST_F(LiveCapture, InterfaceDeletedWhileReadingIsGone) {
  runInNamespace(net.namespaceA, [&] {
    auto device = openA();
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(setFilter(*device, 0x8B));
    std::thread remover([&] {
      std::this_thread::sleep_for(200ms);
      runCommand(net.inA("ip link del " + net.interfaceA));
    });
    ReadResult result = ReadResult::Timeout;
    for (int i = 0; i < kReadAttempts && result != ReadResult::Gone; ++i) {
      uint8_t buffer[kStoredFrameBytes] = {};
      FrameRead frame;
      result = device->read(buffer, frame, 100ms);
    }
    remover.join();
    EXPECT_EQ(result, ReadResult::Gone);
    EXPECT_FALSE(device->error().empty());
    uint8_t buffer[kStoredFrameBytes] = {};
    FrameRead frame;
    EXPECT_EQ(device->read(buffer, frame, 10ms), ReadResult::Gone);
  });
}

TEST_F(LiveCapture, HostInterfacesAndDescriptionInTheNamespace) {
  ASSERT_EQ(runCommand("ip -n " + net.namespaceA + " link set lo up"), 0);
  runInNamespace(net.namespaceA, [&] {
    EXPECT_EQ(hostInterfaces(), std::vector<std::string>{net.interfaceA}) << "loopback is left out";
    const AdapterInfo info = describeAdapter(net.interfaceA);
    EXPECT_EQ(info.driverName, "veth");
    EXPECT_EQ(info.title, "veth");
  });
}

// A tun device stands for a WAN link: the test itself is the far end.
class TunLink {
 public:
  explicit TunLink(const std::string& name) : name_(name) {
    fd_ = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    if (fd_ >= 0 && ::ioctl(fd_, TUNSETIFF, &request) != 0) close();
  }
  ~TunLink() { close(); }
  bool ok() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool deliver(const std::vector<uint8_t>& packet) const {
    return ::write(fd_, packet.data(), packet.size()) == static_cast<ssize_t>(packet.size());
  }

 private:
  std::string name_;
  int fd_ = -1;
};

std::vector<uint8_t> udpPacket(const std::array<uint8_t, 4>& source, const std::array<uint8_t, 4>& destination) {
  std::vector<uint8_t> packet = testing::ipv4Packet(source, destination, 48);
  uint32_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum += packet[i] << 8 | packet[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  packet[10] = static_cast<uint8_t>(~sum >> 8);
  packet[11] = static_cast<uint8_t>(~sum);
  const uint8_t udp[8] = {0x30, 0x39, 0x30, 0x39, 0, 28, 0, 0};
  std::copy(udp, udp + 8, packet.begin() + 20);
  return packet;
}

void sendUdp(const char* address) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  inet_pton(AF_INET, address, &to.sin_addr);
  const char data[] = "veltris";
  ::sendto(fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
}

TEST_F(LiveCapture, TunDeviceIsAWanAdapterWithMarkedFrames) {
  const std::string tunName = "vt" + std::to_string(::getpid());
  runInNamespace(net.namespaceA, [&] {
    TunLink tun(tunName);
    ASSERT_TRUE(tun.ok());
    ASSERT_EQ(runCommand("ip addr add 10.214.0.1/24 dev " + tunName + " && ip link set " + tunName + " up"), 0);
    std::string error;
    auto device = openDevice(tunName, error);
    ASSERT_NE(device, nullptr) << error;
    uint8_t address[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_TRUE(device->query(oid::k8023CurrentAddress, address, 6));
    ASSERT_TRUE(device->query(oid::kWanPermanentAddress, address, 6));
    EXPECT_EQ(address[0], 0);
    EXPECT_NE(device->describe().find("WAN"), std::string::npos);
    ASSERT_TRUE(setFilter(*device, 0x20));
    ASSERT_TRUE(tun.deliver(udpPacket({10, 214, 0, 2}, {10, 214, 0, 1})));
    sendUdp("10.214.0.2");
    bool sawReceived = false, sawSent = false;
    for (int i = 0; i < kReadAttempts && !(sawReceived && sawSent); ++i) {
      uint8_t buffer[kStoredFrameBytes] = {};
      FrameRead frame;
      const ReadResult result = device->read(buffer, frame, 200ms);
      if (result == ReadResult::Timeout) continue;
      ASSERT_EQ(result, ReadResult::Frame) << device->error();
      ASSERT_EQ(buffer[12], 0x08);
      const bool fromRemote = buffer[14 + 12] == 10 && buffer[14 + 15] == 2;
      if (std::equal(kRecvMarker.begin(), kRecvMarker.end(), buffer + 6) && fromRemote) {
        sawReceived = true;
        EXPECT_TRUE(std::equal(kSendMarker.begin(), kSendMarker.end(), buffer));
        EXPECT_EQ(frame.wireLength, 14u + 48u);
      }
      if (std::equal(kSendMarker.begin(), kSendMarker.end(), buffer + 6) && !fromRemote) sawSent = true;
    }
    EXPECT_TRUE(sawReceived);
    EXPECT_TRUE(sawSent);
    tun.close();  // the tun interface goes with its last descriptor
    ReadResult result = ReadResult::Timeout;
    for (int i = 0; i < kReadAttempts && result != ReadResult::Gone; ++i) {
      uint8_t buffer[kStoredFrameBytes] = {};
      FrameRead frame;
      result = device->read(buffer, frame, 50ms);
    }
    EXPECT_EQ(result, ReadResult::Gone);
    EXPECT_NE(device->error().find("disappeared"), std::string::npos) << device->error();
  });
}

TEST(LiveCaptureOpen, UnknownInterfaceAndTheAnyDeviceAreClearErrors) {
  std::string error;
  EXPECT_EQ(openDevice("nosuch9", error), nullptr);
  EXPECT_NE(error.find("no network interface named"), std::string::npos) << error;
  EXPECT_EQ(openDevice("any", error), nullptr);
  EXPECT_NE(error.find("any"), std::string::npos) << error;
  EXPECT_EQ(openDevice("this-name-is-far-too-long-for-linux", error), nullptr);
  EXPECT_FALSE(error.empty());
}

void dropNetRaw() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  ::syscall(SYS_capget, &header, data);
  data[0].effective &= ~(1u << CAP_NET_RAW);
  data[0].permitted &= ~(1u << CAP_NET_RAW);
  ::syscall(SYS_capset, &header, data);
}

// Loopback exists everywhere; the open fails before any frame is read.
TEST(LiveCaptureOpen, WithoutCapNetRawTheErrorSaysWhatCaptureNeeds) {
  std::string error;
  if (::geteuid() != 0) {
    EXPECT_EQ(openDevice("lo", error), nullptr);
    EXPECT_NE(error.find("root or CAP_NET_RAW"), std::string::npos) << error;
    return;
  }
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    dropNetRaw();
    std::string childError;
    const std::string text = openDevice("lo", childError) != nullptr ? "opened" : childError;
    [[maybe_unused]] ssize_t written = ::write(pipeFds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  char text[4096] = {};
  size_t length = 0;
  ssize_t got;
  while (length < sizeof text - 1 && (got = ::read(pipeFds[0], text + length, sizeof text - 1 - length)) > 0) length += got;
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_NE(std::string(text).find("root or CAP_NET_RAW"), std::string::npos) << text;
}

}  // namespace
}  // namespace veltris::capture
