#include "agent/core/tcp_connections.h"

#include <cstring>

namespace veltris::agent {

void TcpTracker::clear() {
  std::memset(slots_.data(), 0, sizeof slots_);
  tails_.fill(0);
}

TcpKey TcpKey::fromBytes(const uint8_t bytes[kTcpKeyBytes]) {
  TcpKey key;
  std::memcpy(key.words, bytes, kTcpKeyBytes);
  return key;
}

void TcpKey::toBytes(uint8_t bytes[kTcpKeyBytes]) const { std::memcpy(bytes, words, kTcpKeyBytes); }

bool TcpKey::matches(const uint8_t bytes[kTcpKeyBytes]) const {
  uint64_t diff = 0;
  for (int i = 0; i < 4; ++i) {
    uint64_t w;
    std::memcpy(&w, bytes + 8 * i, 8);
    diff |= w ^ words[i];
  }
  uint32_t last;
  std::memcpy(&last, bytes + 32, 4);
  return (diff | (last ^ words[4])) == 0;
}

size_t TcpTracker::hash(int partner, const TcpKey& key) {
  // An IPv4 key fills the first 12 bytes; the rest is zero.
  const uint64_t* w = key.words;
  uint64_t h = w[0] * 0x9E3779B97F4A7C15ull ^ (w[1] + uint64_t(partner)) * 0xC2B2AE3D27D4EB4Full ^
               (w[2] ^ w[3] ^ w[4] << 32) * 0x165667B19E3779F9ull;
  // The closing mix brings high input bits (ports, IPv6 address ends) down to the slot bits.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  return static_cast<size_t>(h ^ (h >> 33));
}

int TcpTracker::find(const NicArea& nic, int partner, const TcpKey& key, size_t h) const {
  const uint32_t tag = static_cast<uint32_t>(h >> 32);
  for (size_t i = h & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
    const Slot& s = slots_[i];
    if (s.entry == 0) return -1;
    if (s.tag == tag && s.partner == partner && key.matches(nic.tcp[s.entry - 1].key)) return s.entry - 1;
  }
}

void TcpTracker::insert(int partner, size_t h, int entry) {
  size_t i = h & (kSlots - 1);
  while (slots_[i].entry != 0) i = (i + 1) & (kSlots - 1);
  slots_[i].tag = static_cast<uint32_t>(h >> 32);
  slots_[i].partner = static_cast<uint16_t>(partner);
  slots_[i].entry = static_cast<uint16_t>(entry + 1);
}

void TcpTracker::rebuild(const NicArea& nic) {
  clear();
  for (int p = 0; p < nic.partnerCount; ++p) {
    uint32_t ref = nic.partners[p].record.tcpList;
    // At most one step per table entry, whatever the references say.
    for (int steps = 0; ref != 0 && ref <= kMaxTcpConnections && steps < kMaxTcpConnections; ++steps) {
      int entry = static_cast<int>(ref) - 1;
      const TcpKey key = TcpKey::fromBytes(nic.tcp[entry].key);
      size_t h = hash(p, key);
      if (find(nic, p, key, h) < 0) insert(p, h, entry);
      tails_[p] = static_cast<uint16_t>(entry);
      ref = nic.tcp[entry].next;
    }
  }
}

bool TcpTracker::segment(NicArea& nic, int partner, const TcpKey& key, uint32_t sequence) {
  int entry = find(nic, partner, key, hash(partner, key));
  if (entry >= 0) {
    TcpConnection& c = nic.tcp[entry];
    bool retransmit = sequence <= c.lastSequence;
    c.lastSequence = sequence;
    return retransmit;
  }
  add(nic, partner, key, sequence);
  return false;
}

void TcpTracker::add(NicArea& nic, int partner, const TcpKey& key, uint32_t sequence) {
  if (nic.tcpCount + 1 > kMaxTcpConnections) {
    // Full: start over with an empty table; this segment adds nothing.
    nic.tcpCount = 0;
    for (int p = 0; p < nic.partnerCount; ++p) nic.partners[p].record.tcpList = 0;
    clear();
    return;
  }
  int entry = nic.tcpCount++;
  TcpConnection& c = nic.tcp[entry];
  c.next = 0;
  key.toBytes(c.key);
  c.lastSequence = sequence;
  PartnerRecord& owner = nic.partners[partner].record;
  if (owner.tcpList == 0)
    owner.tcpList = static_cast<uint32_t>(entry + 1);
  else
    nic.tcp[tails_[partner]].next = static_cast<uint32_t>(entry + 1);
  tails_[partner] = static_cast<uint16_t>(entry);
  insert(partner, hash(partner, key), entry);
}

}  // namespace veltris::agent
