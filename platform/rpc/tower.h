#pragma once
// Protocol towers of the endpoint mapper: a floor count, then floors of
// {LHS length, protocol id and data, RHS length, related data}, all counts
// little-endian. TCP: interface, NDR, RPC CO (0x0b), TCP port (0x07, big-endian),
// IPv4 address (0x09). Local: interface, NDR, LRPC (0x0c), endpoint name (0x10).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/rpc/binding.h"
#include "platform/rpc/uuid.h"

namespace veltris::rpc {

namespace tower_protocol {
inline constexpr uint8_t kUuid = 0x0d;
inline constexpr uint8_t kConnectionOriented = 0x0b;
inline constexpr uint8_t kLocalRpc = 0x0c;
inline constexpr uint8_t kTcpPort = 0x07;
inline constexpr uint8_t kIpAddress = 0x09;
inline constexpr uint8_t kPipeName = 0x10;
}  // namespace tower_protocol

struct TowerAddress {
  Protseq protseq = Protseq::Tcp;
  uint32_t ipv4 = 0;     // host order; TCP only
  std::string endpoint;  // TCP port in decimal, or local endpoint name; may be empty
};

struct Tower {
  SyntaxId iface;
  SyntaxId transfer;
  std::optional<TowerAddress> address;  // absent for protocols this runtime lacks
};

std::vector<uint8_t> encodeTower(const SyntaxId& iface, const TowerAddress& address);
std::optional<Tower> decodeTower(std::span<const uint8_t> bytes);

}  // namespace veltris::rpc
