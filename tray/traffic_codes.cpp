#include "tray/traffic_codes.h"

#include <array>

namespace veltris::tray {
namespace {

constexpr std::array<TrafficState, 10> kStates = {{
    {1, "Error detected", Picture::Error},
    {2, "Error detected", Picture::Error},
    {3, "Broadcast traffic sent", Picture::BroadcastSent},
    {4, "Session traffic", Picture::Session},
    {5, "Session traffic", Picture::Session},
    {6, "Session traffic since last broadcast", Picture::Session},
    {7, "Broadcast traffic received", Picture::BroadcastReceived},
    {8, "No traffic sent or received", Picture::Idle},
    {9, "NO traffic received since PC started", Picture::NotReceiving},
    {10, "No traffic received in over 60 seconds", Picture::NotReceiving},
}};

}  // namespace

const TrafficState* trafficState(uint32_t code) {
  if (code < 1 || code > kStates.size()) return nullptr;
  return &kStates[code - 1];
}

}  // namespace veltris::tray
