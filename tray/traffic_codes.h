#pragma once
// The traffic state codes of the reply header as the tray shows them.
#include <cstdint>

#include <QString>

namespace veltris::tray {

// The six designs of the state table.
enum class Picture { BroadcastReceived, Idle, Session, BroadcastSent, NotReceiving, Error };

struct TrafficState {
  uint32_t code;
  const char* text;
  Picture picture;
};

// The row of a code 1 to 10; nullptr for anything else (0: the agent has not
// evaluated yet).
const TrafficState* trafficState(uint32_t code);

}  // namespace veltris::tray
