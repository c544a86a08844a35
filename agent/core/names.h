#pragma once
// Names the agent learns from traffic: NetBIOS names by station (station name
// table), host names from DNS answers (DNS name cache), and the role an IPv4
// address has for an adapter. Callers hold the NIC area's tableMutex.
#include <cstddef>
#include <cstdint>

#include "agent/core/state.h"
#include "common/frame_view.h"

namespace veltris::agent {

// Station name table. `name` is taken up to 32 characters; `now` stamps the entry.
void updateStationName(NicArea& nic, const char* station, const char* protoAddr, const char* name, uint32_t now);
// Copies at most min(size, 33) bytes of the stored name, or leaves `out` all zero.
void lookupStationName(const NicArea& nic, const char* station, const char* protoAddr, char* out, size_t size);

// Bytes of a DNS message the harvest examines.
constexpr size_t kDnsHarvestBytes = 214;

// Stores the A records of a DNS reply in the DNS name cache and its AAAA
// records in the IPv6 one. `message` starts at the DNS header; only its first
// 214 bytes are examined.
void harvestDnsReply(NicArea& nic, FrameView message);
// Copies at most min(size, 33) bytes of the cached name for `ipv4`, or leaves `out` all zero.
void lookupDnsName(const NicArea& nic, const uint8_t ipv4[4], char* out, size_t size);
// The same for an IPv6 address (16 bytes), from the AAAA answers seen.
void lookupIpv6DnsName(const NicArea& nic, const uint8_t ipv6[16], char* out, size_t size);

// "Self", "GW", "DNS", "WINS" or "" for an IPv4 address, from the adapter's
// address lists (each address as in_addr.s_addr, the list ending at 0).
const char* roleText(const AddressLists& lists, const uint8_t ipv4[4]);

}  // namespace veltris::agent
