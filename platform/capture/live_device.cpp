#include "platform/capture/live_device.h"

#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <iterator>
#include <cstring>

#include "platform/capture/link_framing.h"
#include "platform/capture/oid_answer.h"

namespace veltris::capture {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBlockTimeoutMs = 10;            // hands a part-filled ring block over after this
constexpr int kRingBytes = 8 * 1024 * 1024;  // ~60k small frames: over 100 ms at 500k frames/s, and four adapters stay small
constexpr int kCookedHeader = 20;              // DLT_LINUX_SLL2
constexpr uint32_t kAcceptLength = 262144;

// Linux socket filters read the packet type at this special offset
// (SKF_AD_OFF + SKF_AD_PKTTYPE); PACKET_OTHERHOST marks unicast frames for
// other stations, which reach us on a promiscuous card or a bridge port.
constexpr uint32_t kPacketTypeOffset = 0xFFFFF000u + 4;
constexpr uint32_t kPacketOtherHost = 3;

bpf_insn kRejectAll[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
bpf_insn kAcceptAll[] = {BPF_STMT(BPF_RET | BPF_K, kAcceptLength)};
bpf_insn kAcceptOwnAndGroup[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kPacketTypeOffset),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kPacketOtherHost, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, 0),
    BPF_STMT(BPF_RET | BPF_K, kAcceptLength),
};

std::string activationError(pcap_t* pcap, int status, const std::string& name) {
  const std::string detail = pcap_geterr(pcap);
  switch (status) {
    case PCAP_ERROR_PERM_DENIED:
      return "capture on " + name + " needs root or CAP_NET_RAW (" + detail + ")";
    case PCAP_ERROR_NO_SUCH_DEVICE:
      return "no network interface named \"" + name + "\" (" + detail + ")";
    case PCAP_ERROR_IFACE_NOT_UP:
      return "network interface " + name + " is not up";
    default:
      return "cannot capture on " + name + ": " + detail;
  }
}

}  // namespace

struct LiveDevice::FrameSink {
  LiveDevice* device;
  uint8_t* buffer;
  FrameRead* frame;
  bool delivered;
};

std::unique_ptr<Device> LiveDevice::open(const std::string& interfaceName, std::string& error) {
  if (interfaceName == "any") {
    error = "the pseudo-interface \"any\" cannot be monitored: name one interface";
    return nullptr;
  }
  std::unique_ptr<LiveDevice> device(new LiveDevice());
  if (!device->interface_.open(interfaceName, error)) return nullptr;
  device->wan_ = !device->interface_.isEthernet();
  if (!device->activate(error)) return nullptr;
  return device;
}

LiveDevice::~LiveDevice() {
  if (pcap_ != nullptr) pcap_close(pcap_);
  pcap_freecode(&wanProgram_);
}

// Ethernet interfaces are captured as they are; any other link through the cooked
// "any" device, whose header tells which frames this station sent.
bool LiveDevice::activate(std::string& error) {
  const std::string& name = interface_.name();
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_ = pcap_create(wan_ ? "any" : name.c_str(), errorBuffer);
  if (pcap_ == nullptr) {
    error = "cannot capture on " + name + ": " + errorBuffer;
    return false;
  }
  pcap_set_snaplen(pcap_, static_cast<int>(kStoredFrameBytes) + (wan_ ? kCookedHeader : 0));
  pcap_set_promisc(pcap_, 0);
  pcap_set_timeout(pcap_, kBlockTimeoutMs);
  pcap_set_buffer_size(pcap_, kRingBytes);
  const int status = pcap_activate(pcap_);
  if (status < 0) {
    error = activationError(pcap_, status, name);
    return false;
  }
  if (!wan_ && pcap_datalink(pcap_) != DLT_EN10MB) {
    error = "cannot capture on " + name + ": unexpected link type " + linkName(pcap_datalink(pcap_));
    return false;
  }
  if (wan_) {
    const std::string expression = "ifindex " + std::to_string(interface_.index());
    if (pcap_set_datalink(pcap_, DLT_LINUX_SLL2) != 0 ||
        pcap_compile(pcap_, &wanProgram_, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
      error = "cannot capture on " + name + " as a WAN link: " + pcap_geterr(pcap_);
      return false;
    }
  }
  if (!installKernelFilter(false, false) || pcap_setnonblock(pcap_, 1, errorBuffer) != 0) {
    error = "cannot capture on " + name + ": " + pcap_geterr(pcap_);
    return false;
  }
  fd_ = pcap_get_selectable_fd(pcap_);
  return true;
}

// Without the promiscuous bit, frames between other stations never leave the
// kernel. libpcap cannot run that program itself (only the kernel knows a
// frame's packet type; libpcap would reject what it filters in userland after
// a change), so it accepts all and the program goes onto the socket directly.
bool LiveDevice::installKernelFilter(bool deliver, bool promiscuous) {
  bpf_program program{};
  if (!deliver) {
    program = {1, kRejectAll};
  } else if (wan_) {
    program = wanProgram_;
  } else {
    program = {1, kAcceptAll};
  }
  if (pcap_setfilter(pcap_, &program) != 0) return false;
  if (!deliver || wan_ || promiscuous) return true;
  struct {  // struct sock_fprog
    unsigned short length;
    bpf_insn* instructions;
  } ownAndGroup{static_cast<unsigned short>(std::size(kAcceptOwnAndGroup)), kAcceptOwnAndGroup};
  return ::setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &ownAndGroup, sizeof ownAndGroup) == 0;
}

bool LiveDevice::setPromiscuous(bool on) {
  packet_mreq request{};
  request.mr_ifindex = interface_.index();
  request.mr_type = PACKET_MR_PROMISC;
  const int option = on ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP;
  return ::setsockopt(fd_, SOL_PACKET, option, &request, sizeof request) == 0;
}

bool LiveDevice::query(uint32_t oid, void* data, uint32_t len) {
  return interface_.answer(oid, wan_, data, len);
}

// Filter 0 delivers nothing: the socket filter then rejects every frame (and
// libpcap drops what the ring already held). Any other filter delivers the
// frames to and from this station and group frames, sent ones included; bit
// 0x20 adds promiscuous mode and the frames between other stations.
bool LiveDevice::set(uint32_t oid, const void* data, uint32_t len) {
  if (oid != oid::kGenCurrentPacketFilter || len != 4 || data == nullptr) return false;
  const uint32_t filter = loadLittleEndian32(data);
  std::lock_guard lock(pcapMutex_);
  const bool deliver = filter != 0;
  const bool promiscuous = (filter & filter::kPromiscuous) != 0;
  if (deliver != kernelDelivers_ || (deliver && promiscuous != kernelPromiscuous_)) {
    if (!installKernelFilter(deliver, promiscuous)) return false;
    kernelDelivers_ = deliver;
    kernelPromiscuous_ = promiscuous;
  }
  if (promiscuous != promiscuous_) {
    if (!setPromiscuous(promiscuous)) return false;
    promiscuous_ = promiscuous;
  }
  filter_.store(filter, std::memory_order_relaxed);
  return true;
}

void LiveDevice::onFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto* sink = reinterpret_cast<FrameSink*>(user);
  if (sink->device->filter_.load(std::memory_order_relaxed) == 0) return;
  if (sink->device->wan_) {
    static const LocalAddress kNoLocalAddress;  // cooked headers carry the direction
    storeWanFrame(DLT_LINUX_SLL2, kNoLocalAddress, bytes, header->caplen, header->len, sink->buffer, *sink->frame);
  } else {
    storeEthernetFrame(bytes, header->caplen, header->len, sink->buffer, *sink->frame);
  }
  sink->frame->seconds = static_cast<uint32_t>(header->ts.tv_sec);  // the kernel's arrival time
  sink->delivered = true;
}

ReadResult LiveDevice::read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) {
  if (gone_.load(std::memory_order_acquire)) return ReadResult::Gone;
  FrameSink sink{this, buffer, &frame, false};
  Clock::time_point deadline{};
  bool waiting = false;
  for (;;) {
    int processed = 0;
    {
      std::lock_guard lock(pcapMutex_);
      processed = pcap_dispatch(pcap_, 1, &LiveDevice::onFrame, reinterpret_cast<u_char*>(&sink));
      if (processed < 0) return gone(interface_.name() + ": " + pcap_geterr(pcap_));
    }
    if (sink.delivered) return ReadResult::Frame;
    if (processed > 0) continue;  // discarded while the filter was 0
    const Clock::time_point now = Clock::now();
    if (!waiting) {
      deadline = now + maxWait;
      waiting = true;
    }
    if (now >= deadline) return idle();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      return gone(interface_.name() + ": poll failed: " + std::strerror(errno));
    }
  }
}

// Nothing arrived: a removed interface shows here, as the cooked capture on
// "any" never reports it.
ReadResult LiveDevice::idle() {
  if (!interface_.stillExists()) return gone("The interface " + interface_.name() + " disappeared");
  return ReadResult::Timeout;
}

ReadResult LiveDevice::gone(const std::string& why) {
  if (!gone_.load(std::memory_order_acquire)) {
    error_ = why;
    gone_.store(true, std::memory_order_release);
  }
  return ReadResult::Gone;
}

uint64_t LiveDevice::kernelDrops() const {
  std::lock_guard lock(dropsMutex_);
  tpacket_stats_v3 stats{};
  socklen_t size = sizeof stats;
  if (::getsockopt(fd_, SOL_PACKET, PACKET_STATISTICS, &stats, &size) == 0) drops_ += stats.tp_drops;
  return drops_;
}

std::string LiveDevice::describe() const {
  const std::string& name = interface_.name();
  if (wan_) return name + ": live capture, WAN link (cooked capture through \"any\", interface index " +
                   std::to_string(interface_.index()) + ")";
  return name + ": live capture, Ethernet";
}

}  // namespace veltris::capture
