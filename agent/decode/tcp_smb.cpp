// TCP, and SMB inside NetBIOS session messages on port 139.
//
// TCP layout: source port (0-1), destination port (2-3), sequence (4-7),
// acknowledgement (8-11), header length (high nibble of 12), flags (13).
// Session message P: type (0), SMB signature 0xFF "SMB" (4-7), command (8),
// status (9-12), flags2 (14-15), word count (36), words from 37, then the
// byte count B and the bytes.
#include <array>

#include "agent/decode/code_table.h"
#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {
namespace {

constexpr uint16_t kSessionPort = wire::port::kNetbiosSession;
constexpr uint8_t kSessionMessage = 0x00;
constexpr uint8_t kUnicodeFlag = 0x80;   // high byte of flags2
constexpr uint8_t kNtStatusFlag = 0x40;  // high byte of flags2
constexpr uint8_t kTreeConnect = 0x75;
constexpr uint8_t kNtOpen = 0xA2;
constexpr uint8_t kTransaction2 = 0x32;
constexpr uint8_t kTransaction2MinWords = 15;
constexpr uint16_t kFindFirst = 1;
constexpr size_t kSmbCommand = 8;
constexpr size_t kSmbStatus = 9;
constexpr size_t kSmbDosError = 11;
constexpr size_t kSmbFlags2High = 15;
constexpr size_t kSmbWordCount = 36;
constexpr size_t kSmbWords = 37;
constexpr size_t kTransaction2Setup = 65;
constexpr size_t kNameInBytes = 3;
constexpr size_t kPatternInBytes = 17;

struct FlagText {
  uint8_t bit;
  const char* text;
};
constexpr auto kTcpFlags = std::to_array<FlagText>({
    {0x20, " URG"},
    {0x10, " ACK"},
    {0x08, " PSH"},
    {0x04, " RST"},
    {0x02, " SYN"},
    {0x01, " FIN"},
});

constexpr auto kSmbCommands = std::to_array<CodeText>({
    {0x00, " Make Directory"}, {0x01, " Delete directory"}, {0x02, " open file"}, {0x03, " Create file"},
    {0x04, " Close path"}, {0x05, " Flush file"}, {0x06, " Delete file"}, {0x07, " Rename file"},
    {0x08, " Get attributes"}, {0x09, " Set atributes"}, {0x0A, " Read"}, {0x2E, " Read"},
    {0x0B, " Write"}, {0x2F, " Write"}, {0x0C, " Lock"}, {0x24, " Lock"}, {0x0D, " Unlock"},
    {0x0E, " Create temp file"}, {0x0F, " Make new file"}, {0x10, " Check path"}, {0x11, " Exit"},
    {0x12, " Seek"}, {0x13, " Lock & read"}, {0x14, " Write & unlock"}, {0x1A, " Read block raw"},
    {0x1B, " Read block mpx"}, {0x1C, " Read block resp"}, {0x1D, " Write block raw"},
    {0x1E, " Write block mpx"}, {0x1F, " Write block resp"}, {0x20, " Write done"},
    {0x21, " Get server info"}, {0x22, " Set extended atributes"}, {0x23, " Get extended attributes"},
    {0x26, " Transact resp"}, {0x27, " Ioctl"}, {0x28, " Ioctl resp"}, {0x2A, " Move"}, {0x2B, " Echo"},
    {0x2C, " Write & close"}, {0x2D, " open"}, {0x30, " Set file size"}, {0x31, " Close & discon"},
    {0x33, " Transact2 resp"}, {0x34, " Find close"}, {0x84, " Find close"}, {0x35, " Find notify close"},
    {0x60, " Logon"}, {0x61, " Bind"}, {0x62, " Unbind"}, {0x63, " Get access rights"}, {0x64, " Link"},
    {0x65, " Fork"}, {0x68, " Get path name"}, {0x69, " Read & hide"}, {0x6B, " Read check"},
    {0x6C, " Make node"}, {0x6D, " Read link"}, {0x6E, " Get link attributes"}, {0x70, " Tree connect"},
    {0x75, " Tree connect"}, {0x71, " Tree disconnect"}, {0x72, " Negotiate"}, {0x73, " Session setup"},
    {0x74, " Logoff"}, {0x80, " Get disk attributes"}, {0x81, " Search directory"}, {0x82, " Find"},
    {0x83, " Find unique"}, {0xA1, " NT transact resp"}, {0xA2, " NT OPEN"}, {0xA4, " NT cancel"},
    {0xC0, " open spool file"}, {0xC1, " Write spool file"}, {0xC2, " Close spool file"},
    {0xC3, " Return spool file"}, {0xD0, " Send Message"}, {0xD1, " Broadcast message"},
    {0xD2, " Forward name"}, {0xD3, " Cancel forwarding"}, {0xD4, " Get computer name"},
    {0xD5, " Begin message"}, {0xD6, " End message"}, {0xD7, " Message text"},
    {0xFF, " No second command"},
});
constexpr ByteTextIndex kSmbCommandIndex = indexByByte(kSmbCommands);

constexpr auto kTransaction2Subcommands = std::to_array<CodeText>({
    {0, " Open"}, {1, " Findfirst"}, {2, " Findnext"}, {3, " Query file system info"},
    {4, " Set file system info"}, {5, " Query path info"}, {6, " Set path info"}, {7, " Query file info"},
    {8, " Set file info"}, {9, " FSCTL"}, {10, " IOCTL"}, {11, " Find-notify-first"},
    {12, " Find-notify-next"},
});

struct SmbMessage {
  FrameView p;
  uint8_t command = 0;
  uint8_t wordCount = 0;
  size_t bytes = 0;  // offset of the byte count
  bool unicode = false;
  bool ntStatus = false;
};

// A blank and the name at `off`: UTF-16LE when `unicode`, else narrow; both
// end at their terminator or at the end of the stored bytes.
void addName(ProtocolText& protocol, FrameView p, size_t off, bool unicode) {
  protocol.add(' ');
  if (!unicode) {
    protocol.add(p.text(off, kStoredFrameBytes));
    return;
  }
  for (size_t at = off; p.contains(at + 1) && protocol.size() < protocol.kCapacity; at += 2) {
    uint16_t unit = p.le16(at);
    if (unit == 0) break;
    protocol.add(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
}

void addTransaction2(ProtocolText& protocol, const SmbMessage& smb) {
  if (smb.wordCount < kTransaction2MinWords) return;
  uint16_t subcommand = smb.p.le16(kTransaction2Setup);
  const char* name = findText(kTransaction2Subcommands, subcommand);
  protocol.add(name != nullptr ? name : " Transact2");
  if (subcommand == kFindFirst && smb.p.u8(smb.bytes) != 0) {
    addName(protocol, smb.p, smb.bytes + kPatternInBytes, smb.unicode);
  }
}

void addSmbStatus(ProtocolText& protocol, const SmbMessage& smb) {
  uint32_t status = smb.p.le32(kSmbStatus);
  if (status == 0) return;
  if (smb.ntStatus) {
    protocol.add(" ERROR x").hex(status, 8);
  } else {
    protocol.add(" ERROR ").dec(smb.p.le16(kSmbDosError));
  }
}

void decodeSmb(DecodeState& state, FrameView p) {
  if (p.u8(0) != kSessionMessage || !p.equals(4, "\xFFSMB")) return;
  SmbMessage smb;
  smb.p = p;
  smb.command = p.u8(kSmbCommand);
  smb.wordCount = p.u8(kSmbWordCount);
  smb.bytes = kSmbWords + 2 * size_t{smb.wordCount};
  smb.unicode = (p.u8(kSmbFlags2High) & kUnicodeFlag) != 0;
  smb.ntStatus = (p.u8(kSmbFlags2High) & kNtStatusFlag) != 0;

  ProtocolText& protocol = state.protocol();
  if (const char* name = kSmbCommandIndex[smb.command]) protocol.add(name);
  if ((smb.command == kTreeConnect || smb.command == kNtOpen) && p.u8(smb.bytes) != 0) {
    addName(protocol, p, smb.bytes + kNameInBytes, smb.unicode);
  } else if (smb.command == kTransaction2) {
    addTransaction2(protocol, smb);
  }
  addSmbStatus(protocol, smb);
}

}  // namespace

void decodeTcp(DecodeState& state, const IpHeader& ip, FrameView tcp, DescriptionText& working) {
  working.add("TCP");
  state.protocol().set(ip.ipv6 ? "TCP/IPv6" : "TCP/IP");
  if (ip.fragmentOffset != 0) {
    working.add(" FragmentOffset=").dec(ip.fragmentOffset);
    addFragmentId(working, ip);
    state.protocol().add(" Fragment");
    return;
  }
  uint16_t source = tcp.be16(0);
  uint16_t destination = tcp.be16(2);
  addPortTexts(state, working, source, destination, Transport::Tcp);

  size_t tcpHeaderLength = static_cast<size_t>(tcp.u8(12) >> 4) * 4;
  auto dataLength = static_cast<uint16_t>(ip.totalLength - tcpHeaderLength - ip.headerLength);
  working.add(" Ack=").dec(tcp.be32(8)).add(" Seq=").dec(tcp.be32(4));
  working.add(" DataLen=").decLeft(dataLength, 5);

  uint8_t flags = tcp.u8(13);
  for (const FlagText& flag : kTcpFlags) {
    if ((flags & flag.bit) != 0) working.add(flag.text);
  }
  if (ip.moreFragments) {
    working.add(" FRAGMENTED");
    addFragmentId(working, ip);
  }

  if (source == kSessionPort || destination == kSessionPort) decodeSmb(state, tcp.sub(tcpHeaderLength));
}

}  // namespace veltris::agent::decode
