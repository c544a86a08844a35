// IEEE 802.5 Token Ring framing: MAC frames, LLC frames and source routing.
//
// Layout: access control (0), frame control (1), destination (2-7), source
// (8-13); with the routing bit (0x80 of byte 8) a routing information field
// follows at 14: routing control (14-15), then 2-byte route designators.
#include <array>
#include <cstring>

#include "agent/core/runtime.h"
#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"
#include "common/text_field.h"

namespace veltris::agent::decode {
namespace {

using namespace wire::tokenring;
constexpr size_t kFirstDesignator = 16;
constexpr size_t kMacCommand = 17;

constexpr auto kMacCommands = std::to_array<CodeText>({
    {0x00, ", Response"},
    {0x02, ", BEACON"},
    {0x03, ", Claim Token"},
    {0x04, ", RING PURGE"},
    {0x05, ", ACTIVE Monitor Present"},
    {0x06, ", Standby Monitor Present"},
    {0x07, ", Duplicate Address Test"},
    {0x08, ", Lobe Test"},
    {0x09, ", Transmit Forward"},
    {0x0B, ", Remove Ring Station"},
    {0x0C, ", Change Parameters"},
    {0x0D, ", Initialize Ring Station"},
    {0x0E, ", Request Ring Station Address"},
    {0x0F, ", Request Ring Station State"},
    {0x10, ", Request Ring Station Attachments"},
    {0x20, ", Request Initialization"},
    {0x22, ", Report Ring Station Address"},
    {0x23, ", Report Ring Station State"},
    {0x24, ", Report Ring Station Attachments"},
    {0x25, ", Report new ACTIVE Monitor"},
    {0x26, ", Report NAUN Change"},
    {0x27, ", Report Neighbor Notification Incomplete"},
    {0x28, ", Report Active Monitor Error"},
    {0x29, ", Report Soft ERROR"},
    {0x2A, ", Report Transmit Forward"},
});
constexpr ByteTextIndex kMacCommandIndex = indexByByte(kMacCommands);

// The source address as station texts carry it: the routing bit cleared.
void readSource(FrameView frame, uint8_t (&source)[6]) {
  frame.copy(kSource, sizeof source, source);
  source[0] &= static_cast<uint8_t>(~kRoutingBit);
}

void decodeMacFrame(DecodeState& state, FrameView frame) {
  state.protocol().set("Token Ring MAC Frame");
  DescriptionText& text = state.description().set("Token Ring MAC Frame");

  uint8_t source[6];
  readSource(frame, source);
  bool own = std::memcmp(source, state.context().ownAddress, sizeof source) == 0;
  FixedText<32> station;
  if (own) station.add('*');
  for (uint8_t byte : source) station.hex(byte, 2);
  DetailRecord& record = state.record();
  copyText(record.station, sizeof record.station, station.view());
  std::memcpy(record.direction, own ? "  >>" : "<<  ", sizeof record.direction);
  copyText(record.protoAddr, sizeof record.protoAddr, "TR-MAC");

  uint8_t command = frame.u8(kMacCommand);
  if (const char* name = kMacCommandIndex[command]) {
    text.add(name);
  } else {
    text.add(", Command x").hex(command, 2);
  }
}

bool isNetbiosFunctional(FrameView frame) {
  if ((frame.u8(kDestination) & kGroupBit) == 0) return false;
  for (size_t i = 0; i < sizeof kNetbiosFunctional; ++i) {
    if (frame.u8(kDestination + i) != kNetbiosFunctional[i]) return false;
  }
  return true;
}

// "  RIF=" and one "{RRR}B" group per route designator.
void addRouteList(DescriptionText& text, FrameView frame, size_t routingLength) {
  text.add("  RIF=");
  size_t end = kRouting + routingLength;
  for (size_t off = kFirstDesignator; off + 2 <= end; off += 2) {
    uint8_t first = frame.u8(off);
    uint8_t second = frame.u8(off + 1);
    text.add('{').hex(first, 2).hex(second >> 4, 1).add('}').hex(second & 0x0F, 1);
  }
}

void decodeLlcFrame(DecodeState& state, FrameView frame) {
  bool routed = (frame.u8(kSource) & kRoutingBit) != 0;
  size_t routingLength = routed ? frame.u8(kRouting) & kRoutingLengthMask : 0;
  size_t llcStart = kRouting + routingLength;
  if (isNetbiosFunctional(frame)) {
    decodeNetbiosFrame(state, frame.sub(llcStart + wire::llc::kHeader));
    return;
  }
  decodeLlc(state, frame.sub(llcStart));
  if (routingLength > 2) addRouteList(state.description(), frame, routingLength);
}

}  // namespace

void decodeTokenRing(DecodeState& state, FrameView frame) {
  FixedText<32> destination;
  addHardwareAddress(destination, frame, kDestination);
  state.setDestination(destination.view());

  uint8_t frameType = frame.u8(kFrameControl) & kFrameTypeMask;
  if (frameType == kMacFrame) {
    decodeMacFrame(state, frame);
  } else if (frameType == kLlcFrame) {
    decodeLlcFrame(state, frame);
  } else {
    agent::consolePrint("WARNING: Unexpected Frame Type x%02X\n", frameType);
  }
}

}  // namespace veltris::agent::decode
