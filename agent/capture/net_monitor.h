#pragma once
// The NetMonitor thread: one per monitored adapter. It opens the adapter,
// learns its medium and station address, sets the packet filter and files
// every frame it reads into the NIC area and the GLOBAL traffic counters until
// the stop event is set.
#include <chrono>
#include <cstdint>

#include "agent/core/runtime.h"
#include "agent/core/statistics.h"
#include "platform/capture/device.h"

namespace veltris::agent {

// How long one device read waits before the stop event is looked at again.
constexpr std::chrono::milliseconds kReadWait{100};

// Runs on the adapter's own thread; returns when the stop event is set, or at
// once when the adapter cannot be opened or fails (the rest of the agent goes on).
void runNetMonitor(AgentRuntime& rt, NicArea& nic);

// What the read loop does with one completed read: reads completed + 1 and the
// frame filed into packet ring slot (reads completed mod 300), under tableMutex.
void fileCompletedRead(FrameFiler& filer, uint32_t frameTime, const uint8_t* buffer, const capture::FrameRead& read);

}  // namespace veltris::agent
