// ARP and RARP for IPv4 over any hardware, with the role labels of the
// addresses looked for and found.
//
// Layout for 6-byte hardware and 4-byte protocol addresses: hardware type
// (0-1), protocol type (2-3), lengths (4, 5), operation (6-7), sender
// hardware (8-13) and protocol address (14-17), target (18-23, 24-27).
#include <array>
#include <cstring>

#include "agent/core/names.h"
#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

using wire::arp::kOperation;
using wire::arp::kSenderAddress;
using wire::arp::kTargetAddress;

constexpr auto kOperations = std::to_array<CodeText>({
    {1, "ARP Request"},
    {2, "ARP Reply"},
    {3, "RARP Request"},
    {4, "RARP Reply"},
});


void addRoleLabel(ProtocolText& protocol, const DecodeState& state, const uint8_t (&address)[4]) {
  if (state.context().addresses == nullptr) return;
  uint32_t networkOrder;
  std::memcpy(&networkOrder, address, sizeof networkOrder);
  const char* label = roleLabelFor(*state.context().addresses, networkOrder);
  if (*label != '\0') protocol.add(" (").add(label).add(')');
}

}  // namespace

const char* roleLabelFor(const agent::AddressLists& lists, uint32_t address) {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  return agent::roleText(lists, bytes);
}

void decodeArp(DecodeState& state, FrameView arp) {
  state.protocol().set("Address Resolution Protocol");
  uint16_t operation = arp.be16(kOperation);
  uint8_t sender[4];
  uint8_t target[4];
  readIpv4(arp, kSenderAddress, sender);
  readIpv4(arp, kTargetAddress, target);

  DescriptionText& text = state.description();
  if (const char* name = findText(kOperations, operation)) {
    text.set(name);
  } else {
    text.set("ARP ").hex(operation, 2);
  }
  if (operation == wire::arp::kRequest) {
    addRoleLabel(state.protocol().set("ARP Request, Looking for ").dotted(target), state, target);
  } else if (operation == wire::arp::kReply) {
    addRoleLabel(state.protocol().set("ARP Reply,   Found ").dotted(sender), state, sender);
  }
  text.add(", Target=").dotted(target).add(", Sender=").dotted(sender);
}

}  // namespace veltris::agent::decode
