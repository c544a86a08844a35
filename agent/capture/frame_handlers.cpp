#include "agent/capture/frame_handlers.h"

#include <cstring>

#include "agent/core/ip_checks.h"
#include "agent/core/runtime.h"
#include "agent/core/wire/ipv6.h"
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
namespace ipv6 = wire::ipv6;
namespace ipx = wire::ipx;
namespace arp = wire::arp;
namespace netbios = wire::netbios;

// One frame's handlers: the frame, the summary they fill, the NIC area.
struct Handlers {
  NicArea& nic;
  FrameView f;
  FrameSummary& s;

  void ethernetFrame();
  void tokenRingFrame();
  void llcFrame(size_t llcHeader);
  bool etherType(uint16_t type, size_t payload);
  void ipv4Packet(size_t header);
  void ipv6Packet(size_t header);
  void addresses(NetworkKind kind, Protocol protocol, FrameView header, size_t destination, size_t source,
                 size_t size);
  void hardware(Protocol protocol) {
    s.kind = NetworkKind::Hardware;
    s.protocol = protocol;
  }
  bool isSentEthernet();
  void checkArpRetransmit(size_t arpHeader);
  void checkNeighbourSolicitation();
  void captureDatagramName(size_t ipHeader);
  void captureFramesName(size_t llcHeader);
};

bool isZero(const uint8_t mac[6]) {
  static constexpr uint8_t kZero[6] = {};
  return std::memcmp(mac, kZero, 6) == 0;
}

Protocol llcProtocol(uint8_t dsap, uint8_t ssap) {
  if (dsap == llc::kSapNetbios || ssap == llc::kSapNetbios) return Protocol::NetBEUI;
  if (dsap == llc::kSapSna || ssap == llc::kSapSna || dsap == llc::kSapSnaGroup || ssap == llc::kSapSnaGroup)
    return Protocol::Sna;
  return Protocol::Misc;
}

void setNetbiosName(FrameSummary& s, FrameView f, size_t off) {
  f.copy(off, netbios::kNameChars, reinterpret_cast<uint8_t*>(s.netbiosName));
  s.netbiosName[netbios::kNameChars] = '\0';
}

void Handlers::addresses(NetworkKind kind, Protocol protocol, FrameView header, size_t destination, size_t source,
                         size_t size) {
  s.kind = kind;
  s.protocol = protocol;
  header.copy(destination, size, s.destination.bytes);
  header.copy(source, size, s.source.bytes);
}

// Sent flag of an Ethernet frame; on a WAN link the markers tell, and the
// first frame from any other address teaches the station address.
bool Handlers::isSentEthernet() {
  const uint8_t* source = s.sourceMac;
  if (std::memcmp(source, nic.station, 6) == 0) return true;
  if (!nic.wan.load(std::memory_order_relaxed)) return false;
  if (std::memcmp(source, capture::kSendMarker.data(), 6) == 0) return true;
  if (std::memcmp(source, capture::kRecvMarker.data(), 6) == 0) return false;
  if (!isZero(nic.station)) return false;
  std::memcpy(nic.station, source, 6);
  return true;
}

void Handlers::ipv4Packet(size_t header) {
  FrameView i = f.sub(header);
  s.family = AddressFamily::Ipv4;
  s.networkHeader = static_cast<int16_t>(header);
  s.transportHeader = static_cast<int16_t>(header + ip::headerLength(i));
  s.ipProtocol = i.u8(ip::kProtocol);
  s.firstFragment = (i.be16(ip::kFlagsAndFragment) & ip::kFragmentMask) == 0;
  s.ipLength = i.be16(ip::kTotalLength);
  if (s.broadcast) captureDatagramName(header);
  addresses(NetworkKind::Ip, Protocol::Ip, i, ip::kDestination, ip::kSource, ip::kAddressSize);
}

// The fixed header, then the extension headers up to the transport header.
void Handlers::ipv6Packet(size_t header) {
  FrameView i = f.sub(header);
  s.family = AddressFamily::Ipv6;
  s.networkHeader = static_cast<int16_t>(header);
  s.ipLength = static_cast<uint16_t>(i.be16(ipv6::kPayloadLength) + ipv6::kHeader);
  s.firstFragment = true;
  uint8_t next = i.u8(ipv6::kNextHeader);
  size_t off = ipv6::kHeader;
  for (int n = 0; n < ipv6::kMaxExtensionHeaders && ipv6::isExtensionHeader(next); ++n) {
    FrameView e = i.sub(off);
    if (next == ipv6::kFragment) {
      if ((e.be16(ipv6::kFragmentOffset) & ipv6::kFragmentOffsetMask) != 0) s.firstFragment = false;
      off += ipv6::kFragmentHeader;
    } else if (next == ipv6::kAuthentication) {
      off += (size_t{e.u8(1)} + 2) * 4;
    } else {
      off += (size_t{e.u8(1)} + 1) * 8;
    }
    next = e.u8(0);
  }
  s.ipProtocol = next;
  s.transportHeader = static_cast<int16_t>(header + off);
  addresses(NetworkKind::Ipv6, Protocol::Ipv6, i, ipv6::kDestination, ipv6::kSource, ipv6::kAddressSize);
  if (s.ipProtocol == ipv6::kIcmpv6 && s.firstFragment) checkNeighbourSolicitation();
}

// The network layer of an Ethernet or SNAP type; false when it is not one we count.
bool Handlers::etherType(uint16_t type, size_t payload) {
  if (type == ethertype::kIp) {
    ipv4Packet(payload);
  } else if (type == ethertype::kIpv6) {
    ipv6Packet(payload);
  } else if (type == ethertype::kIpx) {
    addresses(NetworkKind::Ipx, Protocol::Ipx, f.sub(payload), ipx::kDestinationNetwork, ipx::kSourceNetwork,
              ipx::kAddressSize);
  } else if (type == ethertype::kArp && f.sub(payload).be16(arp::kProtocolType) == ethertype::kIp) {
    s.family = AddressFamily::Ipv4;
    checkArpRetransmit(payload);
    addresses(NetworkKind::Ip, Protocol::Ip, f.sub(payload), arp::kTargetAddress, arp::kSenderAddress,
              ip::kAddressSize);
  } else {
    return false;
  }
  return true;
}

void Handlers::ethernetFrame() {
  f.copy(ethernet::kDestination, 6, s.destinationMac);
  f.copy(ethernet::kSource, 6, s.sourceMac);
  s.sent = isSentEthernet();
  s.broadcast = (s.destinationMac[0] & ethernet::kGroupBit) != 0;
  s.counted = true;

  uint16_t type = f.be16(ethernet::kTypeOrLength);
  if (type <= ethernet::kMaxLength) {
    llcFrame(ethernet::kHeader);
  } else if (!etherType(type, ethernet::kHeader)) {
    bool appletalk = type == ethertype::kAppletalkArp || type == ethertype::kAppletalk;
    hardware(appletalk ? Protocol::Appletalk : Protocol::Misc);
  }
}

void Handlers::tokenRingFrame() {
  f.copy(tokenring::kDestination, 6, s.destinationMac);
  f.copy(tokenring::kSource, 6, s.sourceMac);
  s.sourceMac[0] &= ~tokenring::kRoutingBit;
  s.sent = std::memcmp(s.sourceMac, nic.station, 6) == 0;

  uint8_t frameType = f.u8(tokenring::kFrameControl) & tokenring::kFrameTypeMask;
  if (frameType == tokenring::kMacFrame) return;  // kept in the packet ring only
  if (frameType != tokenring::kLlcFrame) {
    consolePrint("WARNING: Unexpected Frame Type x%02X\n", frameType);
    return;
  }
  size_t llcHeader = tokenring::kHeader;
  if (f.u8(tokenring::kSource) & tokenring::kRoutingBit)
    llcHeader += f.u8(tokenring::kRouting) & tokenring::kRoutingLengthMask;
  s.broadcast = (s.destinationMac[0] & tokenring::kGroupBit) != 0;
  s.counted = true;
  llcFrame(llcHeader);
}

void Handlers::llcFrame(size_t llcHeader) {
  FrameView l = f.sub(llcHeader);
  if (s.broadcast) captureFramesName(llcHeader);
  switch (l.be16(llc::kDsap)) {
    case llc::kRawIpx:
      addresses(NetworkKind::Ipx, Protocol::Ipx, l, ipx::kDestinationNetwork, ipx::kSourceNetwork, ipx::kAddressSize);
      return;
    case llc::kIpxSaps:
      addresses(NetworkKind::Ipx, Protocol::Ipx, l.sub(llc::kHeader), ipx::kDestinationNetwork, ipx::kSourceNetwork,
                ipx::kAddressSize);
      return;
    case llc::kSnapSaps:
      if (!etherType(l.be16(llc::kSnapType), llcHeader + llc::kSnapPayload)) hardware(Protocol::Misc);
      return;
    default:
      break;
  }
  if (llc::isErrorControl(l.u8(llc::kControl))) s.errorKind = kLlcError;
  hardware(llcProtocol(l.u8(llc::kDsap), l.u8(llc::kSsap)));
}

// ARP requests this station repeats unchanged within the window.
void Handlers::checkArpRetransmit(size_t arpHeader) {
  FrameView a = f.sub(arpHeader);
  if (!s.sent || a.be16(arp::kOperation) != arp::kRequest) return;
  bool recent = withinRetransmitWindow(s.time, nic.lastArpRequestTime);
  if (recent && a.equals(0, kArpRequestCopy, nic.lastArpRequest))
    s.errorKind = kArpRetransmit;
  else
    a.copy(0, kArpRequestCopy, nic.lastArpRequest);
  nic.lastArpRequestTime = s.time;
}

// IPv6's ARP: a solicitation this station repeats for the same target within
// the window, with no advertisement for that target in between.
void Handlers::checkNeighbourSolicitation() {
  FrameView icmp = f.sub(static_cast<size_t>(s.transportHeader));
  uint8_t type = icmp.u8(0);
  if (type != ipv6::kNeighbourSolicitation && type != ipv6::kNeighbourAdvertisement) return;
  uint8_t target[ipv6::kAddressSize];
  icmp.copy(ipv6::kNeighbourTarget, ipv6::kAddressSize, target);
  NeighbourSolicitation& last = nic.lastSolicitation;
  bool sameTarget = std::memcmp(target, last.target, sizeof target) == 0;
  if (type == ipv6::kNeighbourAdvertisement) {
    if (sameTarget) last.answered = true;
    return;
  }
  if (!s.sent) return;
  if (sameTarget && !last.answered && withinRetransmitWindow(s.time, last.time)) s.errorKind = kArpRetransmit;
  std::memcpy(last.target, target, sizeof target);
  last.answered = false;
  last.time = s.time;
}

void Handlers::captureDatagramName(size_t ipHeader) {
  FrameView i = f.sub(ipHeader);
  if (i.u8(ip::kProtocol) != ip::kUdp) return;
  FrameView udp = i.sub(ip::headerLength(i));
  if (udp.be16(wire::udp::kSourcePort) != wire::port::kNetbiosDatagram) return;
  uint8_t decoded[netbios::kNameChars + 1];
  netbios::decodeFirstLevel(udp.sub(wire::udp::kHeader), netbios::kDatagramSourceName, decoded);
  uint8_t nameType = decoded[netbios::kNameChars];
  if (nameType != 0x00 && nameType != 0x20) return;
  std::memset(s.netbiosName, 0, sizeof s.netbiosName);
  std::memcpy(s.netbiosName, decoded, netbios::trimmedLength(decoded));
}

void Handlers::captureFramesName(size_t llcHeader) {
  FrameView nb = f.sub(llcHeader + llc::kHeader);
  uint8_t nameType = nb.u8(netbios::kDestinationName + netbios::kNameChars);
  bool nameTypeOk = nameType == 0x00 || nameType == 0x20;
  switch (nb.u8(netbios::kCommand)) {
    case netbios::kAddNameQuery:
      if (nameTypeOk) setNetbiosName(s, nb, netbios::kDestinationName);
      break;
    case netbios::kNameQuery:
      if (nameTypeOk) setNetbiosName(s, nb, netbios::kSourceName);
      break;
    case netbios::kDatagram:
      setNetbiosName(s, nb, netbios::kSourceName);
      break;
    default:
      break;
  }
}

}  // namespace

void summarizeFrame(NicArea& nic, FrameView frame, FrameSummary& s) {
  s.sent = false;
  s.broadcast = false;
  s.counted = false;
  s.kind = NetworkKind::Hardware;
  s.protocol = Protocol::Misc;
  s.family = AddressFamily::Other;
  s.errorKind = kNoError;
  s.networkHeader = -1;
  s.transportHeader = -1;
  s.netbiosName[0] = '\0';
  Handlers h{nic, frame, s};
  if (nic.mediaType.load(std::memory_order_relaxed) == capture::kMedium8025)
    h.tokenRingFrame();
  else
    h.ethernetFrame();
}

}  // namespace veltris::agent
