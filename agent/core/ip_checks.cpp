#include "agent/core/ip_checks.h"

#include <cstring>

#include "agent/core/names.h"
#include "agent/core/wire/network.h"

namespace veltris::agent {
namespace {

namespace ip = wire::ip;
namespace udp = wire::udp;
using wire::port::kDns;

bool isIcmpError(uint8_t type) { return type == 3 || type == 4 || type == 5 || type == 11 || type == 12; }

void checkTcp(FrameFiler& filer, int source, FrameView ipHeader, size_t headerLength, FrameView tcp) {
  uint16_t dataLength = static_cast<uint16_t>(ipHeader.be16(ip::kTotalLength) - (tcp.u8(12) >> 4) * 4 - headerLength);
  uint8_t flags = tcp.u8(13);
  if (flags & wire::tcp::kRst) {
    filer.setError(kTcpReset);
    return;
  }
  if (dataLength == 0 && !(flags & wire::tcp::kSyn)) return;
  uint8_t key[kTcpKeyBytes];
  ipHeader.copy(ip::kSource, 4, key);
  tcp.copy(wire::tcp::kSourcePort, 2, key + 4);
  ipHeader.copy(ip::kDestination, 4, key + 6);
  tcp.copy(wire::tcp::kDestinationPort, 2, key + 10);
  if (filer.tcp().segment(filer.nic(), source, key, tcp.be32(4))) filer.setError(kTcpRetransmit);
}

void checkDnsQuery(FrameFiler& filer, FrameView datagram) {
  NicArea& nic = filer.nic();
  const uint32_t now = nic.current.time;
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

}  // namespace

void checkIpErrors(FrameFiler& filer, int sourcePartner) {
  FrameView header = filer.frame().sub(static_cast<size_t>(filer.current().networkHeader));
  size_t headerLength = ip::headerLength(header);
  FrameView transport = header.sub(headerLength);
  uint8_t protocol = header.u8(ip::kProtocol);
  if (protocol == ip::kTcp && (header.be16(ip::kFlagsAndFragment) & ip::kFragmentMask) == 0) {
    checkTcp(filer, sourcePartner, header, headerLength, transport);
  } else if (protocol == ip::kIcmp) {
    if (isIcmpError(transport.u8(0))) filer.setError(kIcmpError);
  } else if (protocol == ip::kUdp) {
    if (transport.be16(udp::kDestinationPort) == kDns) checkDnsQuery(filer, transport);
    if (transport.be16(udp::kSourcePort) == kDns) checkDnsReply(filer, transport);
  }
}

}  // namespace veltris::agent
