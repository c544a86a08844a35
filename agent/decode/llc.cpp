// IEEE 802.2 LLC, with SNAP and the IPX encapsulations that share its place.
//
// Layout: DSAP (0), SSAP (1), control (2, and 3 for I- and S-frames);
// SNAP adds an organisation code (3-5) and a type (6-7), payload at 8.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

namespace llc = wire::llc;

struct SapName {
  uint8_t first;
  uint8_t second;  // a second SAP of the same name, or the first again
  const char* descriptionStart;
  const char* protocol;
};

// First match wins; each tests the DSAP or the SSAP.
constexpr auto kSapNames = std::to_array<SapName>({
    {llc::kSapNetbios, llc::kSapNetbios, "NetBEUI ", "NetBEUI"},
    {llc::kSapSna, llc::kSapSnaGroup, "SNA ", "SNA"},
    {llc::kSapSpanningTree, llc::kSapSpanningTree, "Spanning Tree BPDU ", "Spanning Tree BPDU"},
    {llc::kSapNetworkManagement, llc::kSapNetworkManagement, "Network Management ", "Network Management"},
});

// Supervisory frames carry N(R) in the second control byte.
constexpr auto kSupervisoryControls = std::to_array<CodeText>({
    {0x01, " RR N(R)="},
    {0x05, " RNR N(R)="},
    {0x09, " REJ N(R)="},
});

constexpr auto kUnnumberedControls = std::to_array<CodeText>({
    {0x03, " UI"},
    {0x13, " UI POLL"},
    {0x0F, " DM"},
    {0x1F, " DM FINAL"},
    {0x43, " DISC"},
    {0x53, " DISC POLL"},
    {0x63, " UA"},
    {0x73, " UA FINAL"},
    {0x6F, " SABME"},
    {0x7F, " SABME POLL"},
    {0x87, " FRMR"},
    {0x97, " FRMR FINAL"},
    {0xAF, " XID"},
    {0xBF, " XID p/f=1"},
    {0xE3, " TEST"},
    {0xF3, " TEST p/f=1"},
});
constexpr ByteTextIndex kSupervisoryIndex = indexByByte(kSupervisoryControls);
constexpr ByteTextIndex kUnnumberedIndex = indexByByte(kUnnumberedControls);

void decodeSnap(DecodeState& state, FrameView header) {
  uint16_t type = header.be16(llc::kSnapType);
  if (decodeEtherType(state, type, header.sub(llc::kSnapPayload), true)) return;
  state.description().set("SNAP TYPE ").hex(type, 4);
  state.protocol().set("SNAP TYPE ").hex(type, 4);
}

const SapName* findSapName(uint8_t dsap, uint8_t ssap) {
  for (const SapName& name : kSapNames) {
    if (ssap == name.first || ssap == name.second || dsap == name.first || dsap == name.second) return &name;
  }
  return nullptr;
}

void addControlText(DescriptionText& text, uint8_t control, uint8_t control2) {
  if ((control & 0x01) == 0) {
    text.add(" I-Frame N(R)=").dec(control2 >> 1).add(" N(S)=").dec(control >> 1);
  } else if (const char* supervisory = kSupervisoryIndex[control]) {
    text.add(supervisory).dec(control2 >> 1);
  } else if (const char* unnumbered = kUnnumberedIndex[control]) {
    text.add(unnumbered);
  }
}

}  // namespace

void decodeLlc(DecodeState& state, FrameView header) {
  state.protocol().set("LLC");
  switch (header.be16(llc::kDsap)) {
    case llc::kRawIpx:
      decodeIpx(state, header);
      return;
    case llc::kIpxSaps:
      decodeIpx(state, header.sub(llc::kHeader));
      return;
    case llc::kSnapSaps:
      decodeSnap(state, header);
      return;
    default:
      break;
  }
  uint8_t dsap = header.u8(llc::kDsap);
  uint8_t ssap = header.u8(llc::kSsap);
  DescriptionText& text = state.description();
  text.clear();
  if (const SapName* name = findSapName(dsap, ssap)) {
    text.add(name->descriptionStart);
    state.protocol().set(name->protocol);
  }
  text.add("LLC ").hex(dsap, 2).add('/').hex(ssap, 2);
  addControlText(text, header.u8(llc::kControl), header.u8(llc::kControl + 1));
  if ((ssap & llc::kResponseBit) != 0) text.add(" Response");
}

}  // namespace veltris::agent::decode
