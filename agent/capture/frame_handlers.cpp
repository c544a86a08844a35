#include "agent/capture/frame_handlers.h"

#include <cstring>

#include "agent/core/ip_checks.h"
#include "agent/core/runtime.h"

namespace veltris::agent {
namespace {

constexpr uint16_t kTypeIp = 0x0800;
constexpr uint16_t kTypeArp = 0x0806;
constexpr uint16_t kTypeIpx = 0x8137;
constexpr uint16_t kTypeAppletalk = 0x809B;
constexpr uint16_t kTypeAppletalkArp = 0x80F3;
constexpr uint16_t kMaxLength8023 = 1500;
constexpr uint16_t kNetbiosDatagramPort = 138;
constexpr int kNetbiosNameChars = 15;

NetAddress addressAt(FrameView f, size_t off, size_t n) {
  NetAddress a;
  f.copy(off, n, a.bytes);
  return a;
}

void recordHardware(FrameFiler& filer, Protocol protocol) { filer.recordFrame(NetworkKind::Hardware, {}, {}, protocol); }

void recordIp(FrameFiler& filer, FrameView f, size_t destination, size_t source) {
  filer.recordFrame(NetworkKind::Ip, addressAt(f, destination, 4), addressAt(f, source, 4), Protocol::Ip);
}

void recordIpx(FrameFiler& filer, FrameView f, size_t destination, size_t source) {
  filer.recordFrame(NetworkKind::Ipx, addressAt(f, destination, 10), addressAt(f, source, 10), Protocol::Ipx);
}

bool isZero(const uint8_t mac[6]) {
  static constexpr uint8_t kZero[6] = {};
  return std::memcmp(mac, kZero, 6) == 0;
}

// Sent flag of an Ethernet frame; on a WAN link the markers tell, and the
// first frame from any other address teaches the station address.
bool isSentEthernet(NicArea& nic, const uint8_t source[6]) {
  if (std::memcmp(source, nic.station, 6) == 0) return true;
  if (!nic.wan.load(std::memory_order_relaxed)) return false;
  if (std::memcmp(source, kWanSendMarker, 6) == 0) return true;
  if (std::memcmp(source, kWanRecvMarker, 6) == 0) return false;
  if (!isZero(nic.station)) return false;
  std::memcpy(nic.station, source, 6);
  return true;
}

void setNetbiosName(CurrentFrame& cur, FrameView f, size_t off) {
  f.copy(off, kNetbiosNameChars, reinterpret_cast<uint8_t*>(cur.netbiosName));
  cur.netbiosName[kNetbiosNameChars] = '\0';
}

Protocol llcProtocol(uint8_t dsap, uint8_t ssap) {
  if (dsap == 0xF0 || ssap == 0xF0) return Protocol::NetBEUI;
  if (dsap == 0x04 || ssap == 0x04 || dsap == 0x08 || ssap == 0x08) return Protocol::Sna;
  return Protocol::Misc;
}

// Receiver not ready, reject, frame reject.
bool isLlcErrorControl(uint8_t control) {
  return control == 0x05 || control == 0x09 || control == 0x87 || control == 0x97;
}

void handleSnap(FrameFiler& filer, size_t llc) {
  FrameView f = filer.frame();
  FrameView l = f.sub(llc);
  uint16_t type = l.be16(6);
  if (type == kTypeIp) {
    filer.current().networkHeader = static_cast<int>(llc + 8);
    if (filer.current().broadcast) captureDatagramName(filer, llc + 8);
    recordIp(filer, f, llc + 24, llc + 20);
  } else if (type == kTypeIpx) {
    recordIpx(filer, f, llc + 14, llc + 26);
  } else if (type == kTypeArp && l.be16(10) == kTypeIp) {
    checkArpRetransmit(filer, llc + 8);
    recordIp(filer, f, llc + 32, llc + 22);
  } else {
    recordHardware(filer, Protocol::Misc);
  }
}

}  // namespace

void fileFrame(FrameFiler& filer, uint32_t ringSlot, uint32_t time, const uint8_t* bytes, uint32_t stored,
               uint32_t wireLength) {
  filer.beginFrame(time, bytes, stored, wireLength);
  if (filer.nic().mediaType.load(std::memory_order_relaxed) == 1)
    handleTokenRingFrame(filer);
  else
    handleEthernetFrame(filer);
  filer.finishFrame(ringSlot);
}

void handleEthernetFrame(FrameFiler& filer) {
  FrameView f = filer.frame();
  CurrentFrame& cur = filer.current();
  f.copy(0, 6, cur.destination);
  f.copy(6, 6, cur.source);
  cur.sent = isSentEthernet(filer.nic(), cur.source);
  cur.broadcast = (cur.destination[0] & 0x01) != 0;

  uint16_t type = f.be16(12);
  if (type <= kMaxLength8023) {
    handleLlc(filer, 14);
  } else if (type == kTypeIp) {
    cur.networkHeader = 14;
    if (cur.broadcast) captureDatagramName(filer, 14);
    recordIp(filer, f, 30, 26);
  } else if (type == kTypeIpx) {
    recordIpx(filer, f, 20, 32);
  } else if (type == kTypeArp && f.be16(16) == kTypeIp) {
    checkArpRetransmit(filer, 14);
    recordIp(filer, f, 38, 28);
  } else if (type == kTypeAppletalkArp || type == kTypeAppletalk) {
    recordHardware(filer, Protocol::Appletalk);
  } else {
    recordHardware(filer, Protocol::Misc);
  }
}

void handleTokenRingFrame(FrameFiler& filer) {
  FrameView f = filer.frame();
  CurrentFrame& cur = filer.current();
  f.copy(2, 6, cur.destination);
  f.copy(8, 6, cur.source);
  cur.source[0] &= 0x7F;  // routing information indicator
  cur.sent = std::memcmp(cur.source, filer.nic().station, 6) == 0;

  uint8_t frameType = f.u8(1) & 0xC0;
  if (frameType == 0x00) return;  // MAC frame: kept in the packet ring only
  if (frameType != 0x40) {
    consolePrint("WARNING: Unexpected Frame Type x%02X\n", frameType);
    return;
  }
  size_t llc = 14;
  if (f.u8(8) & 0x80) llc += f.u8(14) & 0x1F;  // routing information field
  cur.broadcast = (cur.destination[0] & 0x80) != 0;
  handleLlc(filer, llc);
}

void handleLlc(FrameFiler& filer, size_t llc) {
  FrameView f = filer.frame();
  FrameView l = f.sub(llc);
  if (filer.current().broadcast) captureFramesName(filer, llc);
  switch (l.be16(0)) {
    case 0xFFFF:  // IPX straight in an 802.3 frame
      recordIpx(filer, f, llc + 6, llc + 18);
      return;
    case 0xE0E0:
      recordIpx(filer, f, llc + 9, llc + 21);
      return;
    case 0xAAAA:
      handleSnap(filer, llc);
      return;
    default:
      break;
  }
  if (isLlcErrorControl(l.u8(2))) filer.setError(kLlcError);
  recordHardware(filer, llcProtocol(l.u8(0), l.u8(1)));
}

void checkArpRetransmit(FrameFiler& filer, size_t arp) {
  NicArea& nic = filer.nic();
  const CurrentFrame& cur = filer.current();
  FrameView a = filer.frame().sub(arp);
  if (!cur.sent || a.be16(6) != 1) return;
  bool recent = withinRetransmitWindow(cur.time, nic.lastArpRequestTime);
  if (recent && a.equals(0, kArpRequestCopy, nic.lastArpRequest))
    filer.setError(kArpRetransmit);
  else
    a.copy(0, kArpRequestCopy, nic.lastArpRequest);
  nic.lastArpRequestTime = cur.time;
}

void captureDatagramName(FrameFiler& filer, size_t ip) {
  FrameView i = filer.frame().sub(ip);
  if (i.u8(9) != 17) return;
  FrameView udp = i.sub((i.u8(0) & 0x0Fu) * 4);
  if (udp.be16(0) != kNetbiosDatagramPort) return;
  // First-level encoding: two letters per byte, after the name's length byte.
  uint8_t decoded[16];
  for (size_t k = 0; k < 16; ++k) {
    uint8_t high = static_cast<uint8_t>(udp.u8(23 + 2 * k) - 'A');
    uint8_t low = static_cast<uint8_t>(udp.u8(24 + 2 * k) - 'A');
    decoded[k] = static_cast<uint8_t>(high * 16 + low);
  }
  uint8_t nameType = decoded[15];
  if (nameType != 0x00 && nameType != 0x20) return;
  size_t n = kNetbiosNameChars;
  while (n > 0 && decoded[n - 1] == ' ') --n;
  CurrentFrame& cur = filer.current();
  std::memset(cur.netbiosName, 0, sizeof cur.netbiosName);
  std::memcpy(cur.netbiosName, decoded, n);
}

void captureFramesName(FrameFiler& filer, size_t llc) {
  FrameView l = filer.frame().sub(llc);
  CurrentFrame& cur = filer.current();
  bool nameTypeOk = l.u8(30) == 0x00 || l.u8(30) == 0x20;
  switch (l.u8(7)) {
    case 0x01:  // add name query
      if (nameTypeOk) setNetbiosName(cur, l, 15);
      break;
    case 0x0A:  // name query
      if (nameTypeOk) setNetbiosName(cur, l, 31);
      break;
    case 0x08:  // datagram
      setNetbiosName(cur, l, 31);
      break;
    default:
      break;
  }
}

}  // namespace veltris::agent
