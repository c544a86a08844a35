#pragma once
// What names a partner: the station (MAC address and whose it is) and the
// protocol with its network address. The binary PartnerKey and the two texts
// are made from the same parts, so equal keys mean equal texts and back.
#include <cstdint>

#include "agent/core/partner_index.h"
#include "common/records.h"

namespace veltris::agent {

enum class NetworkKind : uint8_t { Hardware = 0, Ip = 1, Ipx = 2, Ipv6 = 3 };

// The protocol words record frame is called with; IPv6 partners show their
// address alone, without a word.
enum class Protocol : uint8_t { Ip, Ipx, Appletalk, NetBEUI, Sna, Misc, Ipv6 };
const char* protocolWord(Protocol protocol);

// Whose station a MAC address is: another one, this PC, or a WAN link side.
enum class StationClass : uint8_t { Other = 0, Self = 1, LocalModem = 2, RemoteModem = 3 };

// A network address as the handlers pass it: 4 bytes (IP), network and node
// (IPX) or 16 bytes (IPv6).
struct NetAddress {
  uint8_t bytes[16] = {};
};

PartnerKey makePartnerKey(StationClass station, const uint8_t mac[6], NetworkKind kind, const NetAddress& address,
                          Protocol protocol);

// "%02X..." twelve digits, "*" in front for this PC, or the modem texts on WAN links.
void formatStationText(char out[kStationTextSize], StationClass station, const uint8_t mac[6]);
// "IP 10.0.0.1", "IPX 0000ABCD:00A0C9123456", "fe80::1" (IPv6, RFC 5952), or
// the protocol word alone. An IPv6 text longer than the field keeps its start
// and its end around a "~" (the full text: formatIpv6).
void formatProtoAddrText(char out[kProtoAddrTextSize], NetworkKind kind, const NetAddress& address, Protocol protocol);

// RFC 5952 text of an IPv6 address: lower case, no leading zeros, the longest
// run of two or more zero groups (the first of equals) as "::". At most 39
// characters and the terminator.
constexpr size_t kIpv6TextSize = 40;
size_t formatIpv6(char out[kIpv6TextSize], const uint8_t address[16]);
// Fits the n characters of `full` into `room` (out holds room + 1): whole, or
// its start and end around a "~"; answers the length written.
size_t fitIpv6Text(char* out, size_t room, const char* full, size_t n);

}  // namespace veltris::agent
