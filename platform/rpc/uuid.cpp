#include "platform/rpc/uuid.h"

#include <cstdio>
#include <stdexcept>

namespace veltris::rpc {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text order of the 16 bytes mapped to wire order: the first three fields are
// little-endian integers on the wire.
constexpr std::array<int, 16> kWireIndexOfTextByte = {3, 2, 1, 0, 5, 4, 7, 6,
                                                      8, 9, 10, 11, 12, 13, 14, 15};

}  // namespace

bool Uuid::isNil() const {
  for (uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

std::optional<Uuid> parseUuid(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Uuid uuid;
  size_t textByte = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int high = hexValue(text[i]);
    int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    uuid.bytes[kWireIndexOfTextByte[textByte++]] = static_cast<uint8_t>(high << 4 | low);
    i += 2;
  }
  return uuid;
}

std::string toString(const Uuid& uuid) {
  std::array<uint8_t, 16> t{};
  for (size_t i = 0; i < 16; ++i) t[i] = uuid.bytes[kWireIndexOfTextByte[i]];
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", t[0],
                t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], t[12], t[13],
                t[14], t[15]);
  return text;
}

SyntaxId syntaxId(std::string_view uuidText, uint16_t major, uint16_t minor) {
  auto uuid = parseUuid(uuidText);
  if (!uuid) throw std::invalid_argument("bad UUID literal");
  return SyntaxId{*uuid, major, minor};
}

const SyntaxId& ndrTransferSyntax() {
  static const SyntaxId ndr = syntaxId("8a885d04-1ceb-11c9-9fe8-08002b104860", 2, 0);
  return ndr;
}

bool isCompatible(const SyntaxId& registered, const SyntaxId& requested) {
  return registered.uuid == requested.uuid && registered.major == requested.major &&
         requested.minor <= registered.minor;
}

}  // namespace veltris::rpc
