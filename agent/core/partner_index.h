#pragma once
// Hash index from a partner's binary key to its slot in the partner table.
// The binary key (station class and MAC, protocol word, network kind and
// address) maps one-to-one onto the pair of texts that names a partner, so the
// capture path finds a partner without formatting or comparing texts.
#include <array>
#include <cstdint>
#include <cstring>

namespace veltris::agent {

struct PartnerKey {
  uint64_t words[3] = {};

  bool operator==(const PartnerKey& other) const {
    return words[0] == other.words[0] && words[1] == other.words[1] && words[2] == other.words[2];
  }
  uint64_t hash() const {
    // Products carry low input bits upwards only; the closing mix brings the
    // high ones (an IPv6 address's last bytes, a MAC's) down to the slot bits.
    uint64_t h = words[0] * 0x9E3779B97F4A7C15ull ^ words[1] * 0xC2B2AE3D27D4EB4Full ^ words[2] * 0x165667B19E3779F9ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 33);
  }
};

class PartnerIndex {
 public:
  static constexpr size_t kSlots = 1024;  // power of two, over twice the partner capacity

  // Slot of the partner with this key, or -1.
  int find(const PartnerKey& key) const {
    for (size_t i = key.hash() & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
      const Slot& s = slots_[i];
      if (s.partner == 0) return -1;
      if (s.key == key) return s.partner - 1;
    }
  }

  // Callers insert at most kMaxPartners keys between clears, so a free slot exists.
  void insert(const PartnerKey& key, int partner) {
    size_t i = key.hash() & (kSlots - 1);
    while (slots_[i].partner != 0) i = (i + 1) & (kSlots - 1);
    slots_[i].key = key;
    slots_[i].partner = static_cast<int16_t>(partner + 1);
  }

  void clear() { slots_.fill(Slot{}); }

 private:
  struct Slot {
    PartnerKey key;
    int16_t partner = 0;  // index + 1, 0 = free
  };
  std::array<Slot, kSlots> slots_{};
};

}  // namespace veltris::agent
