#pragma once
// DCE UUIDs and syntax identifiers (interface or transfer syntax + version).
// Bytes are kept in NDR little-endian wire order.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltris::rpc {

struct Uuid {
  std::array<uint8_t, 16> bytes{};

  bool isNil() const;
  friend bool operator==(const Uuid&, const Uuid&) = default;
};

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", either case.
std::optional<Uuid> parseUuid(std::string_view text);
std::string toString(const Uuid& uuid);

struct SyntaxId {
  Uuid uuid;
  uint16_t major = 0;
  uint16_t minor = 0;

  friend bool operator==(const SyntaxId&, const SyntaxId&) = default;
};

// Builds a syntax id from a literal known to be a valid UUID.
SyntaxId syntaxId(std::string_view uuidText, uint16_t major, uint16_t minor);

// NDR 2.0, the only transfer syntax spoken here.
const SyntaxId& ndrTransferSyntax();

// A client asking for `requested` may use the registered interface: same UUID and
// major version, and a minor version no newer than the registered one.
bool isCompatible(const SyntaxId& registered, const SyntaxId& requested);

}  // namespace veltris::rpc
