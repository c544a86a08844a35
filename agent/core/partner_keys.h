#pragma once
// What names a partner: the station (MAC address and whose it is) and the
// protocol with its network address. The binary PartnerKey and the two texts
// are made from the same parts, so equal keys mean equal texts and back.
#include <cstdint>

#include "agent/core/partner_index.h"
#include "common/records.h"

namespace veltris::agent {

enum class NetworkKind : uint8_t { Hardware = 0, Ip = 1, Ipx = 2 };

// The protocol words record frame is called with.
enum class Protocol : uint8_t { Ip, Ipx, Appletalk, NetBEUI, Sna, Misc };
const char* protocolWord(Protocol protocol);

// Whose station a MAC address is: another one, this PC, or a WAN link side.
enum class StationClass : uint8_t { Other = 0, Self = 1, LocalModem = 2, RemoteModem = 3 };

// A network address as the handlers pass it: 4 bytes (IP) or network and node (IPX).
struct NetAddress {
  uint8_t bytes[10] = {};
};

PartnerKey makePartnerKey(StationClass station, const uint8_t mac[6], NetworkKind kind, const NetAddress& address,
                          Protocol protocol);

// "%02X..." twelve digits, "*" in front for this PC, or the modem texts on WAN links.
void formatStationText(char out[kStationTextSize], StationClass station, const uint8_t mac[6]);
// "IP 10.0.0.1", "IPX 0000ABCD:00A0C9123456", or the protocol word alone.
void formatProtoAddrText(char out[kProtoAddrTextSize], NetworkKind kind, const NetAddress& address, Protocol protocol);

}  // namespace veltris::agent
