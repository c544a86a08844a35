#pragma once
// Link-layer frame handlers of the capture loop: they work out from the
// Ethernet, Token Ring and 802.2 headers who sent a frame to whom, whether it
// was sent by this station or to a group address, which protocol and network
// addresses it carries and whether it shows an ARP or LLC error, then hand it
// to record frame: the accounting twins of the decoders, reading the same
// headers by the same names (agent/core/wire). Offsets are into the stored
// frame; reads past it are zero.
#include <cstddef>
#include <cstdint>

#include "agent/core/statistics.h"

namespace veltris::agent {

// Files one completed read: begins the frame, runs the handler of the
// adapter's medium and ends the frame in packet ring slot `ringSlot`. The
// caller holds the NIC area's tableMutex.
void fileFrame(FrameFiler& filer, uint32_t ringSlot, uint32_t time, const uint8_t* bytes, uint32_t stored,
               uint32_t wireLength);

void handleEthernetFrame(FrameFiler& filer);
void handleTokenRingFrame(FrameFiler& filer);
// 802.2 header at `llc`.
void handleLlc(FrameFiler& filer, size_t llc);

// ARP header at `arp`: marks a request this station repeats within 300 s unchanged.
void checkArpRetransmit(FrameFiler& filer, size_t arp);
// IP header at `ip`: the source name of a NetBIOS datagram (UDP port 138).
void captureDatagramName(FrameFiler& filer, size_t ip);
// NetBIOS Frames header after the 802.2 header at `llc`: names of name queries and claims.
void captureFramesName(FrameFiler& filer, size_t llc);

}  // namespace veltris::agent
