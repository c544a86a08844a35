// NetBIOS Frames, the protocol that NetBEUI carries over LLC.
//
// Layout: length (0-1), delimiter 0xEFFF (2-3), command (4), data (5-11),
// destination name (12-27) and source name (28-43), each 15 characters and a
// name type, not encoded.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"
#include "agent/decode/netbios_names.h"

namespace veltris::agent::decode {
namespace {

using wire::netbios::kCommand;
using wire::netbios::kDestinationName;
using wire::netbios::kSourceName;

constexpr auto kCommands = std::to_array<CodeText>({
    {0x00, "Add Group Name"},
    {0x01, "Add Name Query"},
    {0x02, "Name in Conflict"},
    {0x03, "Status Query"},
    {0x07, "Terminate Trace"},
    {0x08, "Datagram"},
    {0x09, "Broadcast Datagram"},
    {0x0A, "Name Query"},
    {0x0D, "Add Name Response"},
    {0x0E, "Name Recognize"},
    {0x0F, "Status Response"},
    {0x13, "Terminate Trace"},
    {0x14, "Data Ack"},
    {0x15, "Data First Middle"},
    {0x16, "Data Only Last"},
    {0x17, "Session Confirm"},
    {0x18, "Session End"},
    {0x19, "Session Initialize"},
    {0x1A, "No Receive"},
    {0x1B, "Receive Outstanding"},
    {0x1C, "Receive Continue"},
    {0x1F, "Session Alive"},
});
constexpr ByteTextIndex kCommandIndex = indexByByte(kCommands);

}  // namespace

void decodeNetbiosFrame(DecodeState& state, FrameView netbios) {
  NetbiosName destination = readPlainName(netbios, kDestinationName);
  NetbiosName source = readPlainName(netbios, kSourceName);

  DescriptionText& text = state.description().set("NetBEUI ");
  if (const char* command = kCommandIndex[netbios.u8(kCommand)]) text.add(command);
  if (!destination.empty()) addNameAndType(text, "Dest", destination);
  if (!source.empty()) addNameAndType(text, "Src", source);
  setDatagramMeaning(state.protocol(), "NetBeui,     ", destination, source);
}

}  // namespace veltris::agent::decode
