#include "agent/decode/netbios_names.h"

#include <cstring>

namespace veltris::agent::decode {
namespace {

constexpr size_t kNameLength = wire::netbios::kNameChars;
constexpr char kElectionName[kNameLength + 1] = "\x01\x02__MSBROWSE__\x02";

void trimTrailingBlanks(NetbiosName& name) {
  size_t n = kNameLength;
  while (n > 0 && name.text[n - 1] == ' ') --n;
  name.text[n] = '\0';
}

}  // namespace

std::string_view NetbiosName::view() const { return {text, strnlen(text, sizeof text)}; }

NetbiosName readEncodedName(FrameView view, size_t off) {
  NetbiosName name;
  uint8_t chars[kNameLength + 1];
  wire::netbios::decodeFirstLevel(view, off, chars);
  std::memcpy(name.text, chars, kNameLength);
  name.type = chars[kNameLength];
  trimTrailingBlanks(name);
  return name;
}

NetbiosName readPlainName(FrameView view, size_t off) {
  NetbiosName name;
  view.copy(off, kNameLength, reinterpret_cast<uint8_t*>(name.text));
  name.type = view.u8(off + kNameLength);
  trimTrailingBlanks(name);
  return name;
}

bool isElectionName(const NetbiosName& name) { return std::memcmp(name.text, kElectionName, kNameLength) == 0; }

void addNameAndType(DescriptionText& text, std::string_view label, const NetbiosName& name) {
  text.add(' ').add(label).add('=').add(name.view()).add('<').hex(name.type, 2).add('>');
}

void setDatagramMeaning(ProtocolText& protocol, std::string_view prefix, const NetbiosName& destination,
                        const NetbiosName& source) {
  protocol.set(prefix);
  if (isElectionName(destination) || isElectionName(source)) {
    protocol.add("*** MASTER BROWSER ***");
  } else if (destination.text[0] == '*') {
    protocol.add("Browser List");
  } else if (isBrowserSuffix(destination.type)) {
    protocol.add("Browser ").add(destination.view());
  } else if (!destination.empty() && destination.view() != source.view()) {
    protocol.add("Looking for ").add(destination.view());
  } else {
    protocol.add("Advertising ").add(source.view());
  }
}

}  // namespace veltris::agent::decode
