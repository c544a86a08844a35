#pragma once
// Turns captured frames of any supported link type into the Ethernet frames the
// agent reads. Ethernet frames pass as they are. Frames of other links (ppp, tun,
// wireguard, cooked captures) come from WAN adapters: they get a 14-byte header
// whose source is the " SEND" marker for frames this station sent and the " RECV"
// marker for frames it received, whose destination is the other marker and whose
// type is the network protocol.
#include <array>
#include <cstdint>
#include <string>

#include "platform/capture/device.h"

namespace veltris::capture {

enum class Direction : uint8_t { Unknown, Incoming, Outgoing };

// What a WAN link header says about one frame.
struct WanHeader {
  Direction direction = Direction::Unknown;
  uint16_t protocol = 0;      // Ethernet type of the payload
  uint32_t headerLength = 0;  // link header bytes before the payload
};

// The local side of a link whose headers carry no direction: frames whose IP
// source is this address count as sent.
struct LocalAddress {
  std::array<uint8_t, 16> bytes{};
  uint8_t length = 0;  // 0 none, 4 IPv4, 16 IPv6
  bool matchesSource(const uint8_t* payload, uint32_t available) const;
  std::string text() const;
};

bool isEthernetLink(int dlt);
bool isTokenRingLink(int dlt);  // IEEE 802.5 frames, stored as they are like Ethernet ones
bool isSupportedLink(int dlt);
std::string linkName(int dlt);

// Reads the link header of a WAN frame; false when the frame is shorter than it.
bool parseWanHeader(int dlt, const uint8_t* bytes, uint32_t captured, WanHeader& header);

// Stores one captured frame into buffer[0..kStoredFrameBytes) as the agent sees it.
void storeEthernetFrame(const uint8_t* bytes, uint32_t captured, uint32_t wireLength, uint8_t* buffer,
                        FrameRead& frame);
void storeWanFrame(int dlt, const LocalAddress& local, const uint8_t* bytes, uint32_t captured,
                   uint32_t wireLength, uint8_t* buffer, FrameRead& frame);

}  // namespace veltris::capture
