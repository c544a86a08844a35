#include "agent/core/ip_checks.h"

#include <cstring>

#include "agent/core/names.h"
#include "agent/core/wire/ipv6.h"
#include "agent/core/wire/network.h"

namespace veltris::agent {
namespace {

namespace ip = wire::ip;
namespace ipv6 = wire::ipv6;
namespace udp = wire::udp;
using wire::port::kDns;

bool isIcmpError(uint8_t type) { return type == 3 || type == 4 || type == 5 || type == 11 || type == 12; }
bool isIcmpv6Error(uint8_t type) {
  return type == ipv6::kDestinationUnreachable || type == ipv6::kPacketTooBig || type == ipv6::kTimeExceeded ||
         type == ipv6::kParameterProblem;
}

uint64_t le64(FrameView v, size_t off) { return v.le32(off) | uint64_t{v.le32(off + 4)} << 32; }

// The connection key holds the addresses and ports as the frame carries them:
// source address, source port, destination address, destination port, with 4
// bytes an address for IPv4 and 16 for IPv6. Put together in registers.
TcpKey connectionKey(const FrameSummary& s, FrameView header, FrameView tcp) {
  const uint64_t sourcePort = tcp.le16(wire::tcp::kSourcePort);
  const uint64_t destinationPort = tcp.le16(wire::tcp::kDestinationPort);
  TcpKey key;
  if (s.family == AddressFamily::Ipv6) {
    const uint64_t destination0 = le64(header, ipv6::kDestination), destination1 = le64(header, ipv6::kDestination + 8);
    key.words[0] = le64(header, ipv6::kSource);
    key.words[1] = le64(header, ipv6::kSource + 8);
    key.words[2] = sourcePort | destination0 << 16;
    key.words[3] = destination0 >> 48 | destination1 << 16;
    key.words[4] = destination1 >> 48 | destinationPort << 16;
    return key;
  }
  const uint64_t source = header.le32(ip::kSource), destination = header.le32(ip::kDestination);
  key.words[0] = source | sourcePort << 32 | (destination & 0xFFFF) << 48;
  key.words[1] = destination >> 16 | destinationPort << 16;
  return key;
}

void checkTcp(FrameFiler& filer, const FrameSummary& s, int source, FrameView header, FrameView tcp) {
  size_t headerBytes = static_cast<size_t>(s.transportHeader - s.networkHeader);
  uint16_t dataLength = static_cast<uint16_t>(s.ipLength - (tcp.u8(12) >> 4) * 4 - headerBytes);
  uint8_t flags = tcp.u8(13);
  if (flags & wire::tcp::kRst) {
    filer.setError(kTcpReset);
    return;
  }
  if (dataLength == 0 && !(flags & wire::tcp::kSyn)) return;
  if (filer.tcp().segment(filer.nic(), source, connectionKey(s, header, tcp), tcp.be32(4)))
    filer.setError(kTcpRetransmit);
}

void checkDnsQuery(FrameFiler& filer, uint32_t now, FrameView datagram) {
  NicArea& nic = filer.nic();
  uint8_t query[kDnsQueryCopy];
  datagram.copy(udp::kHeader, kDnsQueryCopy, query);
  if (withinRetransmitWindow(now, nic.lastDnsQueryTime) && std::memcmp(query, nic.lastDnsQuery, kDnsQueryCopy) == 0)
    filer.setError(kDnsRetransmit);
  else
    std::memcpy(nic.lastDnsQuery, query, kDnsQueryCopy);
  nic.lastDnsQueryTime = now;
}

void checkDnsReply(FrameFiler& filer, FrameView datagram) {
  FrameView dns = datagram.sub(udp::kHeader);
  bool isReply = (dns.u8(2) & 0x80) != 0;
  if (isReply && dns.be16(4) != 0 && dns.be16(6) != 0) harvestDnsReply(filer.nic(), dns);
}

void checkUdp(FrameFiler& filer, const FrameSummary& s, FrameView transport) {
  if (transport.be16(udp::kDestinationPort) == kDns) checkDnsQuery(filer, s.time, transport);
  if (transport.be16(udp::kSourcePort) == kDns) checkDnsReply(filer, transport);
}

}  // namespace

void checkIpErrors(FrameFiler& filer, const FrameSummary& s, int sourcePartner) {
  FrameView frame = filer.frame();
  FrameView header = frame.sub(static_cast<size_t>(s.networkHeader));
  FrameView transport = frame.sub(static_cast<size_t>(s.transportHeader));
  if (s.family == AddressFamily::Ipv6) {
    // A later fragment carries no transport header.
    if (!s.firstFragment) return;
    if (s.ipProtocol == ipv6::kTcp)
      checkTcp(filer, s, sourcePartner, header, transport);
    else if (s.ipProtocol == ipv6::kIcmpv6 && isIcmpv6Error(transport.u8(0)))
      filer.setError(kIcmpError);
    else if (s.ipProtocol == ipv6::kUdp)
      checkUdp(filer, s, transport);
    return;
  }
  if (s.ipProtocol == ip::kTcp && s.firstFragment) {
    checkTcp(filer, s, sourcePartner, header, transport);
  } else if (s.ipProtocol == ip::kIcmp) {
    if (isIcmpError(transport.u8(0))) filer.setError(kIcmpError);
  } else if (s.ipProtocol == ip::kUdp) {
    checkUdp(filer, s, transport);
  }
}

}  // namespace veltris::agent
