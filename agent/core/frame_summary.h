#pragma once
// What the link-layer handlers make of one frame, read once from its headers,
// and what record frame files in one call: who sent it to whom, whether this
// station sent it or it went to a group address, the protocol and network
// addresses that name the partners, the error the link layer saw, and where
// the IP header and its transport header stand for the IP error checks.
#include <cstdint>

#include "agent/core/partner_keys.h"

namespace veltris::agent {

enum class AddressFamily : uint8_t { Other = 0, Ipv4 = 1, Ipv6 = 2 };
constexpr int kAddressFamilyCount = 3;

struct FrameSummary {
  uint32_t time = 0;
  uint32_t length = 0;  // on the wire
  bool sent = false;
  bool broadcast = false;
  bool counted = false;  // false: kept in the packet ring only (Token Ring MAC frames)
  NetworkKind kind = NetworkKind::Hardware;
  Protocol protocol = Protocol::Misc;
  AddressFamily family = AddressFamily::Other;
  uint8_t errorKind = 0;  // ARP, neighbour discovery or LLC error found by the link layer
  uint8_t ipProtocol = 0;  // transport protocol of an IP frame
  bool firstFragment = false;  // the transport header is in this frame
  int16_t networkHeader = -1;  // IPv4 or IPv6 header, -1 = none
  int16_t transportHeader = -1;
  uint16_t ipLength = 0;  // bytes of the IP packet from its header on, as the header says
  uint8_t destinationMac[6] = {};
  uint8_t sourceMac[6] = {};
  NetAddress destination;
  NetAddress source;
  char netbiosName[16] = {};  // from a group-addressed NetBIOS frame or datagram
};

}  // namespace veltris::agent
