// DHCPv6 on UDP ports 546 (client) and 547 (server and relay).
//
// Client and server messages: type (0), transaction id (1-3), options.
// Relay messages: type (0), hop count (1), link address (2-17), peer
// address (18-33), options.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

constexpr uint8_t kRelayForward = 12;
constexpr uint8_t kRelayReply = 13;
constexpr size_t kTransactionId = 1;
constexpr size_t kPeerAddress = 18;

constexpr auto kMessageTypes = std::to_array<CodeText>({
    {1, "Solicit"},
    {2, "Advertise"},
    {3, "Request"},
    {4, "Confirm"},
    {5, "Renew"},
    {6, "Rebind"},
    {7, "Reply"},
    {8, "Release"},
    {9, "Decline"},
    {10, "Reconfigure"},
    {11, "Information-request"},
    {kRelayForward, "Relay-forward"},
    {kRelayReply, "Relay-reply"},
});
constexpr ByteTextIndex kMessageTypeIndex = indexByByte(kMessageTypes);

}  // namespace

void decodeDhcpv6(DecodeState& state, FrameView dhcp, DescriptionText& working) {
  uint8_t type = dhcp.u8(0);
  ProtocolText& protocol = state.protocol().set("DHCPv6 ");
  working.add(' ');
  if (const char* name = kMessageTypeIndex[type]) {
    protocol.add(name);
    working.add(name);
  } else {
    protocol.add("Type=").dec(type);
    working.add("Type=").dec(type);
  }
  if (type == kRelayForward || type == kRelayReply) {
    uint8_t peer[kIpv6Address];
    readIpv6(dhcp, kPeerAddress, peer);
    working.add(" Hops=").dec(dhcp.u8(1)).add(" Peer=").ipv6(peer);
    return;
  }
  uint32_t id = uint32_t{dhcp.u8(kTransactionId)} << 16 | uint32_t{dhcp.u8(kTransactionId + 1)} << 8 |
                dhcp.u8(kTransactionId + 2);
  working.add(" xid=").hex(id, 6);
}

}  // namespace veltris::agent::decode
