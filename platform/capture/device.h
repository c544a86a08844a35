#pragma once
// The capture device: one per monitored adapter. Stands in for the capture
// driver: OID requests (query/set, NDIS numbering) and reads of one frame each.
// Backends: live (libpcap), file replay (pcap/pcapng), memory (tests).
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/frame_view.h"  // kStoredFrameBytes: bytes kept of each frame

namespace veltris::capture {

// The medium of an adapter, as OID_GEN_MEDIA_IN_USE answers it. WAN links are 802.3.
enum Medium : int32_t { kMedium8023 = 0, kMedium8025 = 1 };

// Source addresses of the 14-byte header a WAN frame gets: sent or received by this station.
constexpr std::array<uint8_t, 6> kSendMarker = {0x20, 0x53, 0x45, 0x4E, 0x44, 0x01};  // " SEND"\1
constexpr std::array<uint8_t, 6> kRecvMarker = {0x20, 0x52, 0x45, 0x43, 0x56, 0x01};  // " RECV"\1

// NDIS object identifiers answered by the devices.
namespace oid {
constexpr uint32_t kGenHardwareStatus = 0x00010102;
constexpr uint32_t kGenMediaInUse = 0x00010104;
constexpr uint32_t kGenLinkSpeed = 0x00010107;
constexpr uint32_t kGenCurrentPacketFilter = 0x0001010E;
constexpr uint32_t kGenDriverVersion = 0x00010110;
constexpr uint32_t kGenMacOptions = 0x00010113;
constexpr uint32_t kGenMediaConnectStatus = 0x00010114;
constexpr uint32_t kGenVendorDriverVersion = 0x00010116;
constexpr uint32_t kGenXmitError = 0x00020103;
constexpr uint32_t kGenRcvError = 0x00020104;
constexpr uint32_t kGenRcvNoBuffer = 0x00020105;
constexpr uint32_t kGenRcvCrcError = 0x0002020D;
constexpr uint32_t k8023CurrentAddress = 0x01010102;
constexpr uint32_t k8023RcvErrorAlignment = 0x01020101;
constexpr uint32_t k8023XmitOneCollision = 0x01020102;
constexpr uint32_t k8023XmitMoreCollisions = 0x01020103;
constexpr uint32_t k8023XmitDeferred = 0x01020201;
constexpr uint32_t k8023XmitMaxCollisions = 0x01020202;
constexpr uint32_t k8023RcvOverrun = 0x01020203;
constexpr uint32_t k8023XmitUnderrun = 0x01020204;
constexpr uint32_t k8023XmitHeartbeatFailure = 0x01020205;
constexpr uint32_t k8023XmitTimesCrsLost = 0x01020206;
constexpr uint32_t k8023XmitLateCollisions = 0x01020207;
constexpr uint32_t k8025CurrentAddress = 0x02010102;
constexpr uint32_t k8025CurrentRingStatus = 0x02010106;
constexpr uint32_t k8025CurrentRingState = 0x02010107;
constexpr uint32_t k8025LineErrors = 0x02020101;
constexpr uint32_t k8025LostFrames = 0x02020102;
constexpr uint32_t k8025BurstErrors = 0x02020201;
constexpr uint32_t k8025AcErrors = 0x02020202;
constexpr uint32_t k8025AbortDelimiters = 0x02020203;
constexpr uint32_t k8025FrameCopiedErrors = 0x02020204;
constexpr uint32_t k8025FrequencyErrors = 0x02020205;
constexpr uint32_t k8025TokenErrors = 0x02020206;
constexpr uint32_t k8025InternalErrors = 0x02020207;
constexpr uint32_t kWanPermanentAddress = 0x04010101;
}  // namespace oid

// Packet filter bits.
namespace filter {
constexpr uint32_t kDirected = 0x01, kMulticast = 0x02, kAllMulticast = 0x04, kBroadcast = 0x08;
constexpr uint32_t kPromiscuous = 0x20, kAllLocal = 0x80, kFunctional = 0x4000;
}  // namespace filter

// One completed read.
struct FrameRead {
  uint32_t stored = 0;      // bytes placed in the buffer, at most kStoredFrameBytes
  uint32_t wireLength = 0;  // the frame's full length on the wire
  bool stamped = false;     // a replayed frame: `seconds` is its time stamp in the file
  uint32_t seconds = 0;     // seconds since 1970-01-01 UTC; a live frame's arrival time, 0 = unknown
};

enum class ReadResult {
  Frame,    // a frame was delivered
  Timeout,  // nothing arrived within the wait; the caller checks its stop event and reads again
  End,      // the device delivers nothing more (file replayed to its end); reads keep answering End
  Gone,     // the device failed or vanished (interface removed); error() says why
};

class Device {
 public:
  virtual ~Device() = default;

  // OID request. Query: fills `data` (len bytes) and answers true; false when the
  // device has no answer for that OID. Set: only kGenCurrentPacketFilter is supported.
  virtual bool query(uint32_t oid, void* data, uint32_t len) = 0;
  virtual bool set(uint32_t oid, const void* data, uint32_t len) = 0;

  // Reads one frame into buffer[0..kStoredFrameBytes); bytes past `stored` are left as the
  // caller had them (callers keep the buffer zero-filled). Waits at most maxWait.
  // No allocation per call.
  virtual ReadResult read(uint8_t* buffer, FrameRead& frame, std::chrono::milliseconds maxWait) = 0;

  // Frames dropped by the kernel or the capture buffer since open, when known.
  virtual uint64_t kernelDrops() const { return 0; }

  virtual const std::string& error() const = 0;

  // True for a replayed capture file, whose frames carry their own time stamps.
  virtual bool replaysFile() const { return false; }

  // One line for the agent's log saying what was opened and how (for a replay:
  // the file, its link type and which station address was chosen, and why).
  virtual std::string describe() const { return {}; }
};

// Opens a device by its adapter name (the part of the device name after the
// "\\Device\\Tapsor_" prefix):
//   "eth0"                         live interface
//   "/path/trace.pcap"             replay of a capture file (pcap or pcapng), station address
//   "/path/trace.pcap@02:00:00:00:00:05"   from the most frequent source among the first 1000
//                                  frames, or as given after '@'
// Answers null with `error` set when it cannot be opened.
std::unique_ptr<Device> openDevice(std::string_view adapterName, std::string& error);

// The host's adapters when the registry has no Export list: up, non-loopback interfaces.
std::vector<std::string> hostInterfaces();

// An interface the agent can capture on, for the list of names to use.
struct InterfaceSummary {
  std::string name;
  bool up = false;
  bool ethernet = false;  // otherwise captured as a WAN link
  std::string address;    // the hardware address of an Ethernet interface
};
// Every interface but loopback, by interface index.
std::vector<InterfaceSummary> captureInterfaces();

// Time stamp (seconds since 1970) of the first frame of a capture file named as
// for openDevice; false when it is not a regular capture file (a pipe is not
// read ahead) or holds no frame.
bool firstFrameTime(std::string_view adapterName, uint32_t& seconds);

}  // namespace veltris::capture
