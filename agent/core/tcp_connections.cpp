#include "agent/core/tcp_connections.h"

#include <cstring>

namespace veltris::agent {

void TcpTracker::clear() {
  std::memset(slots_.data(), 0, sizeof slots_);
  tails_.fill(0);
}

size_t TcpTracker::hash(int partner, const uint8_t key[kTcpKeyBytes]) {
  // An IPv4 key fills the first 12 bytes; the rest is zero.
  uint64_t w[4];
  uint32_t last = 0;
  std::memcpy(w, key, sizeof w);
  std::memcpy(&last, key + sizeof w, 4);
  uint64_t a = w[0] * 0x9E3779B97F4A7C15ull;
  uint64_t b = (w[1] ^ uint64_t(partner) << 48) * 0xC2B2AE3D27D4EB4Full;
  uint64_t c = (w[2] ^ w[3] ^ uint64_t{last} << 32) * 0x165667B19E3779F9ull;
  uint64_t h = a ^ (b >> 17) ^ (b << 23) ^ (c >> 11) ^ (c << 29);
  return static_cast<size_t>(h ^ (h >> 31));
}

int TcpTracker::find(int partner, const uint8_t key[kTcpKeyBytes]) const {
  for (size_t i = hash(partner, key) & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
    const Slot& s = slots_[i];
    if (s.entry == 0) return -1;
    if (s.partner == partner && std::memcmp(s.key, key, kTcpKeyBytes) == 0) return s.entry - 1;
  }
}

void TcpTracker::insert(int partner, const uint8_t key[kTcpKeyBytes], int entry) {
  size_t i = hash(partner, key) & (kSlots - 1);
  while (slots_[i].entry != 0) i = (i + 1) & (kSlots - 1);
  std::memcpy(slots_[i].key, key, kTcpKeyBytes);
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
      if (find(p, nic.tcp[entry].key) < 0) insert(p, nic.tcp[entry].key, entry);
      tails_[p] = static_cast<uint16_t>(entry);
      ref = nic.tcp[entry].next;
    }
  }
}

bool TcpTracker::segment(NicArea& nic, int partner, const uint8_t key[kTcpKeyBytes], uint32_t sequence) {
  int entry = find(partner, key);
  if (entry >= 0) {
    TcpConnection& c = nic.tcp[entry];
    bool retransmit = sequence <= c.lastSequence;
    c.lastSequence = sequence;
    return retransmit;
  }
  add(nic, partner, key, sequence);
  return false;
}

void TcpTracker::add(NicArea& nic, int partner, const uint8_t key[kTcpKeyBytes], uint32_t sequence) {
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
  std::memcpy(c.key, key, kTcpKeyBytes);
  c.lastSequence = sequence;
  PartnerRecord& owner = nic.partners[partner].record;
  if (owner.tcpList == 0)
    owner.tcpList = static_cast<uint32_t>(entry + 1);
  else
    nic.tcp[tails_[partner]].next = static_cast<uint32_t>(entry + 1);
  tails_[partner] = static_cast<uint16_t>(entry);
  insert(partner, key, entry);
}

}  // namespace veltris::agent
