#include "agent/core/ip_checks.h"

#include <cstring>

#include "agent/core/names.h"

namespace veltris::agent {
namespace {

constexpr uint8_t kProtocolIcmp = 1;
constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint16_t kDnsPort = 53;
constexpr uint8_t kTcpRst = 0x04;
constexpr uint8_t kTcpSyn = 0x02;

bool isIcmpError(uint8_t type) { return type == 3 || type == 4 || type == 5 || type == 11 || type == 12; }

void checkTcp(FrameFiler& filer, int source, FrameView ip, size_t headerLength, FrameView tcp) {
  uint16_t dataLength = static_cast<uint16_t>(ip.be16(2) - (tcp.u8(12) >> 4) * 4 - headerLength);
  uint8_t flags = tcp.u8(13);
  if (flags & kTcpRst) {
    filer.setError(kTcpReset);
    return;
  }
  if (dataLength == 0 && !(flags & kTcpSyn)) return;
  uint8_t key[kTcpKeyBytes];
  ip.copy(12, 4, key);
  tcp.copy(0, 2, key + 4);
  ip.copy(16, 4, key + 6);
  tcp.copy(2, 2, key + 10);
  if (filer.tcp().segment(filer.nic(), source, key, tcp.be32(4))) filer.setError(kTcpRetransmit);
}

void checkDnsQuery(FrameFiler& filer, FrameView udp) {
  NicArea& nic = filer.nic();
  const uint32_t now = nic.current.time;
  uint8_t query[kDnsQueryCopy];
  udp.copy(8, kDnsQueryCopy, query);
  if (withinRetransmitWindow(now, nic.lastDnsQueryTime) && std::memcmp(query, nic.lastDnsQuery, kDnsQueryCopy) == 0)
    filer.setError(kDnsRetransmit);
  else
    std::memcpy(nic.lastDnsQuery, query, kDnsQueryCopy);
  nic.lastDnsQueryTime = now;
}

void checkDnsReply(FrameFiler& filer, FrameView udp) {
  FrameView dns = udp.sub(8);
  bool isReply = (dns.u8(2) & 0x80) != 0;
  if (isReply && dns.be16(4) != 0 && dns.be16(6) != 0) harvestDnsReply(filer.nic(), dns);
}

}  // namespace

void checkIpErrors(FrameFiler& filer, int sourcePartner) {
  FrameView ip = filer.frame().sub(static_cast<size_t>(filer.current().networkHeader));
  size_t headerLength = (ip.u8(0) & 0x0Fu) * 4;
  FrameView transport = ip.sub(headerLength);
  uint8_t protocol = ip.u8(9);
  if (protocol == kProtocolTcp && (ip.be16(6) & 0x1FFF) == 0) {
    checkTcp(filer, sourcePartner, ip, headerLength, transport);
  } else if (protocol == kProtocolIcmp) {
    if (isIcmpError(transport.u8(0))) filer.setError(kIcmpError);
  } else if (protocol == kProtocolUdp) {
    if (transport.be16(2) == kDnsPort) checkDnsQuery(filer, transport);
    if (transport.be16(0) == kDnsPort) checkDnsReply(filer, transport);
  }
}

}  // namespace veltris::agent
