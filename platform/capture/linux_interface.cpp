#include "platform/capture/linux_interface.h"

#include <fcntl.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/capture/adapter_info.h"
#include "platform/capture/device.h"
#include "platform/capture/oid_answer.h"

namespace veltris::capture {
namespace {

// NDIS hardware status values.
constexpr uint32_t kHardwareReady = 0, kHardwareInitializing = 1, kHardwareNotReady = 4;
// NDIS media connect status values.
constexpr uint32_t kMediaConnected = 0, kMediaDisconnected = 1;

// Error counters and the statistics file that holds each. Linux counts collisions
// only as a whole: the total stands for frames sent after one collision. Drivers
// count frames dropped after excessive collisions as aborted transmissions.
struct CounterFile {
  uint32_t oid;
  const char* file;
  const char* fallback;
};
constexpr CounterFile kCounterFiles[] = {
    {oid::kGenXmitError, "statistics/tx_errors", nullptr},
    {oid::kGenRcvError, "statistics/rx_errors", nullptr},
    {oid::kGenRcvNoBuffer, "statistics/rx_missed_errors", "statistics/rx_dropped"},
    {oid::kGenRcvCrcError, "statistics/rx_crc_errors", nullptr},
    {oid::k8023RcvErrorAlignment, "statistics/rx_frame_errors", nullptr},
    {oid::k8023XmitOneCollision, "statistics/collisions", nullptr},
    {oid::k8023XmitMaxCollisions, "statistics/tx_aborted_errors", nullptr},
    {oid::k8023RcvOverrun, "statistics/rx_fifo_errors", nullptr},
    {oid::k8023XmitUnderrun, "statistics/tx_fifo_errors", nullptr},
    {oid::k8023XmitHeartbeatFailure, "statistics/tx_heartbeat_errors", nullptr},
    {oid::k8023XmitTimesCrsLost, "statistics/tx_carrier_errors", nullptr},
    {oid::k8023XmitLateCollisions, "statistics/tx_window_errors", nullptr},
};

void copyName(ifreq& request, const std::string& name) {
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.ifr_name, name.data(), std::min(name.size(), sizeof request.ifr_name - 1));
}

}  // namespace

LinuxInterface::~LinuxInterface() {
  if (socket_ >= 0) ::close(socket_);
  if (sysfsDir_ >= 0) ::close(sysfsDir_);
}

bool LinuxInterface::open(const std::string& name, std::string& error) {
  if (name.empty() || name.size() >= IFNAMSIZ || name.find('/') != std::string::npos) {
    error = "\"" + name + "\" is not a network interface name";
    return false;
  }
  name_ = name;
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request;
  copyName(request, name_);
  if (socket_ < 0 || ::ioctl(socket_, SIOCGIFINDEX, &request) != 0) {
    error = "no network interface named \"" + name + "\": " + std::strerror(errno);
    return false;
  }
  index_ = request.ifr_ifindex;
  copyName(request, name_);
  ethernet_ = ::ioctl(socket_, SIOCGIFHWADDR, &request) == 0 &&
              (request.ifr_hwaddr.sa_family == ARPHRD_ETHER || request.ifr_hwaddr.sa_family == ARPHRD_LOOPBACK);
  sysfsDir_ = ::open(("/sys/class/net/" + name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const AdapterInfoSources real = AdapterInfoSources::underRoot("/");
  versionKnown_ = moduleVersion(driverModuleOf(name, real), real, versionMajor_, versionMinor_);
  return true;
}

bool LinuxInterface::stillExists() const {
  ifreq request{};
  request.ifr_ifindex = index_;
  return ::ioctl(socket_, SIOCGIFNAME, &request) == 0;
}

bool LinuxInterface::readAttribute(const char* relativePath, char* text, size_t capacity) const {
  if (sysfsDir_ < 0) return false;
  const int fd = ::openat(sysfsDir_, relativePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t got = ::read(fd, text, capacity - 1);
  ::close(fd);
  if (got <= 0) return false;
  size_t length = static_cast<size_t>(got);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
  text[length] = '\0';
  return true;
}

bool LinuxInterface::readNumber(const char* relativePath, int64_t& value) const {
  char text[32];
  if (!readAttribute(relativePath, text, sizeof text)) return false;
  const char* end = text + std::strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, value);
  return ec == std::errc() && ptr == end;
}

bool LinuxInterface::statistic(uint32_t oid, uint64_t& value) const {
  for (const CounterFile& counter : kCounterFiles) {
    if (counter.oid != oid) continue;
    int64_t number = 0;
    if (!readNumber(counter.file, number) && (counter.fallback == nullptr || !readNumber(counter.fallback, number)))
      return false;
    value = static_cast<uint64_t>(number);
    return true;
  }
  return false;
}

bool LinuxInterface::hardwareAddress(uint8_t address[6]) const {
  ifreq request;
  copyName(request, name_);
  if (::ioctl(socket_, SIOCGIFHWADDR, &request) != 0) return false;
  std::memcpy(address, request.ifr_hwaddr.sa_data, 6);
  return true;
}

bool LinuxInterface::adminUp() const {
  ifreq request;
  copyName(request, name_);
  return ::ioctl(socket_, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP) != 0;
}

// operstate "up" is Ready; "unknown" (tun, loopback) follows the administrative
// state; "testing" is a self-test, reported as Initializing; the rest NotReady.
uint32_t LinuxInterface::hardwareStatus() const {
  char state[32];
  if (!readAttribute("operstate", state, sizeof state)) return adminUp() ? kHardwareReady : kHardwareNotReady;
  if (std::strcmp(state, "up") == 0) return kHardwareReady;
  if (std::strcmp(state, "unknown") == 0) return adminUp() ? kHardwareReady : kHardwareNotReady;
  if (std::strcmp(state, "testing") == 0) return kHardwareInitializing;
  return kHardwareNotReady;
}

// "carrier" cannot be read while the interface is down: that is no carrier.
bool LinuxInterface::mediaConnectStatus(uint32_t& status) const {
  int64_t carrier = 0;
  if (readNumber("carrier", carrier)) {
    status = carrier == 1 ? kMediaConnected : kMediaDisconnected;
    return true;
  }
  if (!stillExists()) return false;
  status = kMediaDisconnected;
  return true;
}

// sysfs gives Mbit/s (-1 when unknown); NDIS wants units of 100 bit/s.
bool LinuxInterface::linkSpeed(uint32_t& speed) const {
  int64_t megabits = 0;
  if (!readNumber("speed", megabits) || megabits <= 0) return false;
  const int64_t units = megabits * 10000;
  speed = units >= 0xFFFFFFFF ? 0xFFFFFFFE : static_cast<uint32_t>(units);
  return true;
}

bool LinuxInterface::answer(uint32_t oid, bool wan, void* data, uint32_t len) const {
  static constexpr uint8_t kZeroAddress[6] = {};
  uint8_t address[6];
  uint32_t number = 0;
  uint64_t counter = 0;
  switch (oid) {
    case oid::kGenMediaInUse: return answerNumber(data, len, 0);
    case oid::kGenDriverVersion: return answerNumber(data, len, kNdisVersion);
    case oid::kGenMacOptions: return answerNumber(data, len, kMacOptionNoLoopback);
    case oid::kGenVendorDriverVersion:
      return versionKnown_ && answerNumber(data, len, versionWord(versionMajor_, versionMinor_));
    case oid::kGenHardwareStatus: return answerNumber(data, len, hardwareStatus());
    case oid::kGenMediaConnectStatus: return mediaConnectStatus(number) && answerNumber(data, len, number);
    case oid::kGenLinkSpeed: return linkSpeed(number) && answerNumber(data, len, number);
    case oid::k8023CurrentAddress: return hardwareAddress(address) && answerAddress(data, len, address);
    case oid::kWanPermanentAddress: return wan && answerAddress(data, len, kZeroAddress);
    default: return statistic(oid, counter) && answerNumber(data, len, counter);
  }
}

}  // namespace veltris::capture
