// IPX, with the NetWare service advertising protocol (SAP).
//
// Layout: checksum (0-1), length (2-3), transport control (4), packet type
// (5), destination network (6-9), node (10-15), socket (16-17), source
// network, node and socket (18-29); a SAP operation word follows at 30-31.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

using namespace wire::ipx;

constexpr auto kSapOperations = std::to_array<CodeText>({
    {1, "SAP General Service Query"},
    {2, "SAP General Service Response"},
    {3, "SAP Nearest Service Query"},
    {4, "SAP Nearest Service Response"},
});

void setIpxDestination(DecodeState& state, FrameView ipx) {
  FixedText<32> destination;
  for (size_t i = 0; i < 4; ++i) destination.hex(ipx.u8(kDestinationNetwork + i), 2);
  destination.add(':');
  addHardwareAddress(destination, ipx, kDestinationNode);
  state.setDestination(destination.view());
}

}  // namespace

void decodeIpx(DecodeState& state, FrameView ipx) {
  setIpxDestination(state, ipx);
  ProtocolText& protocol = state.protocol().set("IPX");
  DescriptionText& text = state.description().set("IPX ");

  uint16_t destinationSocket = ipx.be16(kDestinationSocket);
  if (destinationSocket == kSapSocket) {
    const char* operation = findText(kSapOperations, ipx.u8(kSapOperation));
    if (operation == nullptr) operation = "SAP";
    protocol.add(' ').add(operation);
    text.add(operation);
  } else {
    text.add("DestSocket=").dec(destinationSocket).add(" SrcSocket=").dec(ipx.be16(kSourceSocket));
  }
  protocol.add(" (NetWare)");
  text.add(" (NetWare)");
}

}  // namespace veltris::agent::decode
