#include "agent/capture/frame_handlers.h"

#include <cstring>

#include "agent/core/ip_checks.h"
#include "agent/core/runtime.h"
#include "agent/core/wire/link.h"
#include "agent/core/wire/netbios.h"
#include "agent/core/wire/network.h"
#include "platform/capture/device.h"

namespace veltris::agent {
namespace {

namespace ethernet = wire::ethernet;
namespace ethertype = wire::ethertype;
namespace tokenring = wire::tokenring;
namespace llc = wire::llc;
namespace ip = wire::ip;
namespace ipx = wire::ipx;
namespace arp = wire::arp;
namespace netbios = wire::netbios;

NetAddress addressAt(FrameView f, size_t off, size_t n) {
  NetAddress a;
  f.copy(off, n, a.bytes);
  return a;
}

void recordHardware(FrameFiler& filer, Protocol protocol) { filer.recordFrame(NetworkKind::Hardware, {}, {}, protocol); }

// The addresses of an IP header (or of an ARP header's protocol addresses).
void recordIp(FrameFiler& filer, FrameView header, size_t destination, size_t source) {
  filer.recordFrame(NetworkKind::Ip, addressAt(header, destination, ip::kAddressSize),
                    addressAt(header, source, ip::kAddressSize), Protocol::Ip);
}

void recordIpx(FrameFiler& filer, FrameView header) {
  filer.recordFrame(NetworkKind::Ipx, addressAt(header, ipx::kDestinationNetwork, ipx::kAddressSize),
                    addressAt(header, ipx::kSourceNetwork, ipx::kAddressSize), Protocol::Ipx);
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
  if (std::memcmp(source, capture::kSendMarker.data(), 6) == 0) return true;
  if (std::memcmp(source, capture::kRecvMarker.data(), 6) == 0) return false;
  if (!isZero(nic.station)) return false;
  std::memcpy(nic.station, source, 6);
  return true;
}

void setNetbiosName(CurrentFrame& cur, FrameView f, size_t off) {
  f.copy(off, netbios::kNameChars, reinterpret_cast<uint8_t*>(cur.netbiosName));
  cur.netbiosName[netbios::kNameChars] = '\0';
}

Protocol llcProtocol(uint8_t dsap, uint8_t ssap) {
  if (dsap == llc::kSapNetbios || ssap == llc::kSapNetbios) return Protocol::NetBEUI;
  if (dsap == llc::kSapSna || ssap == llc::kSapSna || dsap == llc::kSapSnaGroup || ssap == llc::kSapSnaGroup)
    return Protocol::Sna;
  return Protocol::Misc;
}

// The network layer of an Ethernet or SNAP type; false when it is not one we count.
bool handleEtherType(FrameFiler& filer, uint16_t type, size_t payload) {
  FrameView f = filer.frame();
  FrameView header = f.sub(payload);
  if (type == ethertype::kIp) {
    filer.current().networkHeader = static_cast<int>(payload);
    if (filer.current().broadcast) captureDatagramName(filer, payload);
    recordIp(filer, header, ip::kDestination, ip::kSource);
  } else if (type == ethertype::kIpx) {
    recordIpx(filer, header);
  } else if (type == ethertype::kArp && header.be16(arp::kProtocolType) == ethertype::kIp) {
    checkArpRetransmit(filer, payload);
    recordIp(filer, header, arp::kTargetAddress, arp::kSenderAddress);
  } else {
    return false;
  }
  return true;
}

void handleSnap(FrameFiler& filer, size_t llcHeader) {
  uint16_t type = filer.frame().sub(llcHeader).be16(llc::kSnapType);
  if (!handleEtherType(filer, type, llcHeader + llc::kSnapPayload)) recordHardware(filer, Protocol::Misc);
}

}  // namespace

void fileFrame(FrameFiler& filer, uint32_t ringSlot, uint32_t time, const uint8_t* bytes, uint32_t stored,
               uint32_t wireLength) {
  filer.beginFrame(time, bytes, stored, wireLength);
  if (filer.nic().mediaType.load(std::memory_order_relaxed) == capture::kMedium8025)
    handleTokenRingFrame(filer);
  else
    handleEthernetFrame(filer);
  filer.finishFrame(ringSlot);
}

void handleEthernetFrame(FrameFiler& filer) {
  FrameView f = filer.frame();
  CurrentFrame& cur = filer.current();
  f.copy(ethernet::kDestination, 6, cur.destination);
  f.copy(ethernet::kSource, 6, cur.source);
  cur.sent = isSentEthernet(filer.nic(), cur.source);
  cur.broadcast = (cur.destination[0] & ethernet::kGroupBit) != 0;

  uint16_t type = f.be16(ethernet::kTypeOrLength);
  if (type <= ethernet::kMaxLength) {
    handleLlc(filer, ethernet::kHeader);
  } else if (!handleEtherType(filer, type, ethernet::kHeader)) {
    bool appletalk = type == ethertype::kAppletalkArp || type == ethertype::kAppletalk;
    recordHardware(filer, appletalk ? Protocol::Appletalk : Protocol::Misc);
  }
}

void handleTokenRingFrame(FrameFiler& filer) {
  FrameView f = filer.frame();
  CurrentFrame& cur = filer.current();
  f.copy(tokenring::kDestination, 6, cur.destination);
  f.copy(tokenring::kSource, 6, cur.source);
  cur.source[0] &= ~tokenring::kRoutingBit;
  cur.sent = std::memcmp(cur.source, filer.nic().station, 6) == 0;

  uint8_t frameType = f.u8(tokenring::kFrameControl) & tokenring::kFrameTypeMask;
  if (frameType == tokenring::kMacFrame) return;  // kept in the packet ring only
  if (frameType != tokenring::kLlcFrame) {
    consolePrint("WARNING: Unexpected Frame Type x%02X\n", frameType);
    return;
  }
  size_t llcHeader = tokenring::kHeader;
  if (f.u8(tokenring::kSource) & tokenring::kRoutingBit)
    llcHeader += f.u8(tokenring::kRouting) & tokenring::kRoutingLengthMask;
  cur.broadcast = (cur.destination[0] & tokenring::kGroupBit) != 0;
  handleLlc(filer, llcHeader);
}

void handleLlc(FrameFiler& filer, size_t llcHeader) {
  FrameView l = filer.frame().sub(llcHeader);
  if (filer.current().broadcast) captureFramesName(filer, llcHeader);
  switch (l.be16(llc::kDsap)) {
    case llc::kRawIpx:
      recordIpx(filer, l);
      return;
    case llc::kIpxSaps:
      recordIpx(filer, l.sub(llc::kHeader));
      return;
    case llc::kSnapSaps:
      handleSnap(filer, llcHeader);
      return;
    default:
      break;
  }
  if (llc::isErrorControl(l.u8(llc::kControl))) filer.setError(kLlcError);
  recordHardware(filer, llcProtocol(l.u8(llc::kDsap), l.u8(llc::kSsap)));
}

void checkArpRetransmit(FrameFiler& filer, size_t arpHeader) {
  NicArea& nic = filer.nic();
  const CurrentFrame& cur = filer.current();
  FrameView a = filer.frame().sub(arpHeader);
  if (!cur.sent || a.be16(arp::kOperation) != arp::kRequest) return;
  bool recent = withinRetransmitWindow(cur.time, nic.lastArpRequestTime);
  if (recent && a.equals(0, kArpRequestCopy, nic.lastArpRequest))
    filer.setError(kArpRetransmit);
  else
    a.copy(0, kArpRequestCopy, nic.lastArpRequest);
  nic.lastArpRequestTime = cur.time;
}

void captureDatagramName(FrameFiler& filer, size_t ipHeader) {
  FrameView i = filer.frame().sub(ipHeader);
  if (i.u8(ip::kProtocol) != ip::kUdp) return;
  FrameView udp = i.sub(ip::headerLength(i));
  if (udp.be16(wire::udp::kSourcePort) != wire::port::kNetbiosDatagram) return;
  uint8_t decoded[netbios::kNameChars + 1];
  netbios::decodeFirstLevel(udp.sub(wire::udp::kHeader), netbios::kDatagramSourceName, decoded);
  uint8_t nameType = decoded[netbios::kNameChars];
  if (nameType != 0x00 && nameType != 0x20) return;
  CurrentFrame& cur = filer.current();
  std::memset(cur.netbiosName, 0, sizeof cur.netbiosName);
  std::memcpy(cur.netbiosName, decoded, netbios::trimmedLength(decoded));
}

void captureFramesName(FrameFiler& filer, size_t llcHeader) {
  FrameView nb = filer.frame().sub(llcHeader + llc::kHeader);
  CurrentFrame& cur = filer.current();
  uint8_t nameType = nb.u8(netbios::kDestinationName + netbios::kNameChars);
  bool nameTypeOk = nameType == 0x00 || nameType == 0x20;
  switch (nb.u8(netbios::kCommand)) {
    case netbios::kAddNameQuery:
      if (nameTypeOk) setNetbiosName(cur, nb, netbios::kDestinationName);
      break;
    case netbios::kNameQuery:
      if (nameTypeOk) setNetbiosName(cur, nb, netbios::kSourceName);
      break;
    case netbios::kDatagram:
      setNetbiosName(cur, nb, netbios::kSourceName);
      break;
    default:
      break;
  }
}

}  // namespace veltris::agent
