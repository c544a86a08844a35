#pragma once
// Replies that show individual frames: "DETAILS" and "ERRORS" (one "DETL"
// record per recent frame of the packet or error rings) and "BCASTSENT" and
// "BCASTERS" (the broadcasts of the last 15 minutes, grouped). Frames are
// decoded here, per request, from the bytes the rings keep.
#include <cstdint>
#include <string>

#include "agent/core/state.h"
#include "agent/decode/frame_decoder.h"
#include "common/detail_record.h"

namespace veltris::agent {

// Fills `out` for one packet ring entry of the adapter `nic` at position
// `adapterIndex` (from 0); `context` is that adapter's decode context.
void buildDetailRecord(const NicArea& nic, int adapterIndex, const decode::DecodeContext& context,
                       const PacketRecord& entry, DetailRecord& out);

// "DETAILS n": appends a detail record for every complete packet ring entry
// whose sequence number is above `sinceSequence`, adapter by adapter, in slot order.
void appendDetails(const GlobalArea& global, uint32_t sinceSequence, std::string& body);
// "ERRORS n": the same over the error rings.
void appendErrors(const GlobalArea& global, uint32_t sinceSequence, std::string& body);

// "BCASTSENT": replaces `body` with this PC's broadcasts of the 15 minutes up
// to `now`, grouped by decoded description (`lowList`) or decoded protocol.
void buildBroadcastsSent(const GlobalArea& global, uint32_t now, bool lowList, std::string& body);
// "BCASTERS": replaces `body` with all broadcasts of the 15 minutes up to
// `now`, grouped by sending station; the key text is the decoded description
// (`lowList`) or the decoded protocol of each group's newest broadcast.
void buildBroadcasters(const GlobalArea& global, uint32_t now, bool lowList, std::string& body);

}  // namespace veltris::agent
