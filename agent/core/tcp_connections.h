#pragma once
// The TCP connection table of an adapter, used to spot re-transmits. The table
// and the partners' connection lists live in the NIC area; this tracker keeps a
// hash index over (partner, connection key) and each list's last entry, so a
// segment finds its connection without walking the list.
#include <array>
#include <cstdint>

#include "agent/core/state.h"

namespace veltris::agent {

// A connection key as 64-bit words: its 36 bytes in order, then zeros. Built
// and compared word by word, so no load waits on a narrower store.
struct TcpKey {
  uint64_t words[5] = {};

  static TcpKey fromBytes(const uint8_t bytes[kTcpKeyBytes]);
  void toBytes(uint8_t bytes[kTcpKeyBytes]) const;
  bool matches(const uint8_t bytes[kTcpKeyBytes]) const;
};

class TcpTracker {
 public:
  TcpTracker() { clear(); }

  // Re-reads the lists of the NIC area (after the partner table was emptied, or
  // when a tracker starts on a table that is already filled).
  void rebuild(const NicArea& nic);

  // One segment of `partner`'s connection `key` with sequence number `sequence`.
  // True when it is a re-transmit (sequence not above the connection's last one).
  // An unknown connection is added; when the table is full it is emptied instead.
  bool segment(NicArea& nic, int partner, const TcpKey& key, uint32_t sequence);

 private:
  static constexpr size_t kSlots = 2048;  // power of two, over twice the table size
  // Small slots: the key itself is compared in the connection entry, which a
  // segment of a known connection updates anyway.
  struct Slot {
    uint32_t tag;  // high bits of the key's hash
    uint16_t partner;
    uint16_t entry;  // index + 1, 0 = free
  };

  void clear();
  int find(const NicArea& nic, int partner, const TcpKey& key, size_t h) const;
  void insert(int partner, size_t h, int entry);
  void add(NicArea& nic, int partner, const TcpKey& key, uint32_t sequence);
  static size_t hash(int partner, const TcpKey& key);

  std::array<Slot, kSlots> slots_;
  std::array<uint16_t, kMaxPartners> tails_;  // last entry of each partner's list
};

}  // namespace veltris::agent
