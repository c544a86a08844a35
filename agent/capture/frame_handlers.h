#pragma once
// Link-layer frame handlers of the capture loop: they read the Ethernet, Token
// Ring and 802.2 headers of a frame once and sum it up for record frame: who
// sent it to whom, whether this station sent it or it went to a group address,
// which protocol and network addresses it carries and whether it shows an ARP,
// neighbour discovery or LLC error. The accounting twins of the decoders,
// reading the same headers by the same names (agent/core/wire). Offsets are
// into the stored frame; reads past it are zero.
#include <cstdint>

#include "agent/core/frame_summary.h"
#include "agent/core/state.h"
#include "common/frame_view.h"

namespace veltris::agent {

// Fills `s` from the frame (its time and length are set by the caller). Runs
// the re-transmit checks that keep state in the NIC area (ARP requests,
// neighbour solicitations) and learns a WAN adapter's station address; the
// caller holds the NIC area's tableMutex.
void summarizeFrame(NicArea& nic, FrameView frame, FrameSummary& s);

}  // namespace veltris::agent
