#pragma once
// A ring of fixed-size records written by one thread and read by any number
// of others without locks. Each slot carries a sequence word: odd while the
// writer is copying, even when the record is complete. Readers copy the words
// and check that the sequence did not move, so they either get a whole record
// or know to skip it. All accesses are atomic, so there is no data race.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace veltris::agent {

template <typename Record, size_t Capacity>
class SeqRing {
 public:
  static constexpr size_t kCapacity = Capacity;

  // Writer only. Copies `record` into `slot`.
  void publish(size_t slot, const Record& record) {
    Slot& s = slots_[slot];
    uint32_t seq = s.seq.load(std::memory_order_relaxed);
    s.seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    // Word by word straight from the record: no staging copy on the capture path.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < kWords; ++i) {
      uint64_t word = 0;
      std::memcpy(&word, bytes + i * 8, i + 1 < kWords ? 8 : sizeof(Record) - i * 8);
      std::atomic_ref<uint64_t>(s.words[i]).store(word, std::memory_order_relaxed);
    }
    s.seq.store(seq + 2, std::memory_order_release);
  }

  // Any thread. False when the slot was never written or is being rewritten.
  bool read(size_t slot, Record& out) const {
    const Slot& s = slots_[slot];
    uint32_t before = s.seq.load(std::memory_order_acquire);
    if (before == 0 || (before & 1) != 0) return false;
    uint64_t words[kWords];
    for (size_t i = 0; i < kWords; ++i)
      words[i] = std::atomic_ref<uint64_t>(const_cast<uint64_t&>(s.words[i])).load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (s.seq.load(std::memory_order_relaxed) != before) return false;
    std::memcpy(&out, words, sizeof(Record));
    return true;
  }

  // Writer only, or while no writer runs: forget every record.
  void clear() {
    for (Slot& s : slots_) s.seq.store(0, std::memory_order_release);
  }

 private:
  static constexpr size_t kWords = (sizeof(Record) + 7) / 8;
  struct Slot {
    std::atomic<uint32_t> seq{0};
    alignas(8) uint64_t words[kWords] = {};
  };
  std::array<Slot, Capacity> slots_;
};

}  // namespace veltris::agent
