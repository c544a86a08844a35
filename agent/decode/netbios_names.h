#pragma once
// NetBIOS names as the name and datagram services and NetBIOS Frames carry
// them, and the browser meaning of a frame that carries a pair of them.
#include <cstdint>
#include <string_view>

#include "agent/decode/decode_state.h"

namespace veltris::agent::decode {

struct NetbiosName {
  char text[16] = {};  // 15 characters at most, trailing blanks removed
  uint8_t type = 0;    // the 16th character: the name's suffix

  // The name as "%s" prints it: up to its first NUL.
  std::string_view view() const;
  bool empty() const { return text[0] == '\0'; }
};

// The first-level encoded name at `off` (32 bytes, two per character).
NetbiosName readEncodedName(FrameView view, size_t off);
// The 16 bytes at `off` as they stand.
NetbiosName readPlainName(FrameView view, size_t off);
// The browser election name 0x01 0x02 "__MSBROWSE__" 0x02.
bool isElectionName(const NetbiosName& name);

// " <label>=%s<%02X>", e.g. " Dest=SERVER1<20>".
void addNameAndType(DescriptionText& text, std::string_view label, const NetbiosName& name);

// What a datagram between `destination` and `source` means to the browser
// service, after `prefix`: "*** MASTER BROWSER ***", "Browser List",
// "Browser %s", "Looking for %s" or "Advertising %s".
void setDatagramMeaning(ProtocolText& protocol, std::string_view prefix, const NetbiosName& destination,
                        const NetbiosName& source);

// True for the suffixes of the browser names: 0x1B to 0x1E.
constexpr bool isBrowserSuffix(uint8_t type) { return type >= 0x1B && type <= 0x1E; }

}  // namespace veltris::agent::decode
