#pragma once
// Protocol error checks of a unicast IPv4 or IPv6 frame: TCP reset and
// re-transmit, ICMP and ICMPv6 errors, DNS query re-transmit; DNS replies feed
// the DNS name cache.
#include "agent/core/frame_summary.h"
#include "agent/core/statistics.h"

namespace veltris::agent {

// Runs on the frame being filed, whose network header is set and whose source
// partner is `sourcePartner`; may set the packet ring entry's error kind.
void checkIpErrors(FrameFiler& filer, const FrameSummary& s, int sourcePartner);

// A repeated ARP request, neighbour solicitation or DNS query counts as a
// re-transmit within this many seconds.
constexpr uint32_t kRetransmitWindow = 300;
inline bool withinRetransmitWindow(uint32_t now, uint32_t last) {
  return uint64_t{now} < uint64_t{last} + kRetransmitWindow;
}

}  // namespace veltris::agent
