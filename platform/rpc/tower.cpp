#include "platform/rpc/tower.h"

#include <algorithm>

#include "platform/rpc/ndr.h"

namespace veltris::rpc {
namespace {

constexpr uint16_t kMaxFloors = 16;
constexpr size_t kUuidFloorLhs = 19;  // id, UUID, major version

struct Floor {
  std::span<const uint8_t> lhs;
  std::span<const uint8_t> rhs;
  uint8_t protocol() const { return lhs.empty() ? 0 : lhs[0]; }
};

void writeFloor(NdrWriter& w, std::span<const uint8_t> lhs, std::span<const uint8_t> rhs) {
  w.u16(static_cast<uint16_t>(lhs.size()));
  w.bytes(lhs);
  w.u16(static_cast<uint16_t>(rhs.size()));
  w.bytes(rhs);
}

void writeSyntaxFloor(NdrWriter& w, const SyntaxId& id) {
  std::vector<uint8_t> lhs{tower_protocol::kUuid};
  lhs.insert(lhs.end(), id.uuid.bytes.begin(), id.uuid.bytes.end());
  lhs.resize(lhs.size() + 2);
  storeLe16(lhs.data() + lhs.size() - 2, id.major);
  uint8_t rhs[2];
  storeLe16(rhs, id.minor);
  writeFloor(w, lhs, rhs);
}

void writeProtocolFloor(NdrWriter& w, uint8_t protocol, std::span<const uint8_t> rhs) {
  const uint8_t lhs[1] = {protocol};
  writeFloor(w, lhs, rhs);
}

std::optional<SyntaxId> readSyntaxFloor(const Floor& floor) {
  if (floor.lhs.size() != kUuidFloorLhs || floor.protocol() != tower_protocol::kUuid ||
      floor.rhs.size() < 2) {
    return std::nullopt;
  }
  SyntaxId id;
  std::copy_n(floor.lhs.begin() + 1, 16, id.uuid.bytes.begin());
  id.major = loadLe16(floor.lhs.data() + 17);
  id.minor = loadLe16(floor.rhs.data());
  return id;
}

std::optional<TowerAddress> readTcpAddress(const std::vector<Floor>& floors) {
  if (floors.size() < 5 || floors[3].protocol() != tower_protocol::kTcpPort ||
      floors[3].rhs.size() != 2 || floors[4].protocol() != tower_protocol::kIpAddress ||
      floors[4].rhs.size() != 4) {
    return std::nullopt;
  }
  TowerAddress address;
  uint16_t port = loadBe16(floors[3].rhs.data());
  if (port != 0) address.endpoint = std::to_string(port);
  address.ipv4 = loadBe32(floors[4].rhs.data());
  return address;
}

std::optional<TowerAddress> readLocalAddress(const std::vector<Floor>& floors) {
  if (floors.size() < 4 || floors[3].protocol() != tower_protocol::kPipeName) return std::nullopt;
  TowerAddress address;
  address.protseq = Protseq::Local;
  const auto& name = floors[3].rhs;
  address.endpoint.assign(name.begin(), std::find(name.begin(), name.end(), uint8_t{0}));
  return address;
}

}  // namespace

std::vector<uint8_t> encodeTower(const SyntaxId& iface, const TowerAddress& address) {
  std::vector<uint8_t> out;
  NdrWriter w(out);
  bool tcp = address.protseq == Protseq::Tcp;
  w.u16(tcp ? 5 : 4);
  writeSyntaxFloor(w, iface);
  writeSyntaxFloor(w, ndrTransferSyntax());
  const uint8_t noMinor[2] = {0, 0};
  if (tcp) {
    uint16_t port = 0;
    parsePort(address.endpoint, port);
    writeProtocolFloor(w, tower_protocol::kConnectionOriented, noMinor);
    uint8_t portBytes[2];
    storeBe16(portBytes, port);
    writeProtocolFloor(w, tower_protocol::kTcpPort, portBytes);
    uint8_t ip[4];
    storeBe32(ip, address.ipv4);
    writeProtocolFloor(w, tower_protocol::kIpAddress, ip);
  } else {
    writeProtocolFloor(w, tower_protocol::kLocalRpc, noMinor);
    std::vector<uint8_t> name(address.endpoint.begin(), address.endpoint.end());
    name.push_back(0);
    writeProtocolFloor(w, tower_protocol::kPipeName, name);
  }
  return out;
}

std::optional<Tower> decodeTower(std::span<const uint8_t> bytes) {
  NdrReader r(bytes);
  uint16_t count = r.u16();
  if (count < 3 || count > kMaxFloors) return std::nullopt;
  std::vector<Floor> floors;
  for (uint16_t i = 0; i < count && r.ok(); ++i) {
    Floor floor;
    floor.lhs = r.bytes(r.u16());
    floor.rhs = r.bytes(r.u16());
    floors.push_back(floor);
  }
  if (!r.ok()) return std::nullopt;
  auto iface = readSyntaxFloor(floors[0]);
  auto transfer = readSyntaxFloor(floors[1]);
  if (!iface || !transfer) return std::nullopt;
  Tower tower{*iface, *transfer, std::nullopt};
  if (floors[2].protocol() == tower_protocol::kConnectionOriented) {
    tower.address = readTcpAddress(floors);
  } else if (floors[2].protocol() == tower_protocol::kLocalRpc) {
    tower.address = readLocalAddress(floors);
  }
  return tower;
}

}  // namespace veltris::rpc
