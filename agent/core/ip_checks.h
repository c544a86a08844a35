#pragma once
// Protocol error checks of a unicast IP frame: TCP reset and re-transmit, ICMP
// errors, DNS query re-transmit; DNS replies feed the DNS name cache.
#include "agent/core/statistics.h"

namespace veltris::agent {

// Runs on the current frame, whose network header is set and whose source
// partner is `sourcePartner`; may set the packet ring entry's error kind.
void checkIpErrors(FrameFiler& filer, int sourcePartner);

// A repeated ARP request or DNS query counts as a re-transmit within this many seconds.
constexpr uint32_t kRetransmitWindow = 300;
inline bool withinRetransmitWindow(uint32_t now, uint32_t last) {
  return uint64_t{now} < uint64_t{last} + kRetransmitWindow;
}

}  // namespace veltris::agent
