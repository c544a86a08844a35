#pragma once
// A ring of fixed-size records written by one thread and read by any number
// of others without locks. Each slot carries a sequence word: odd while the
// writer is copying, even when the record is complete. Readers copy the words
// and check that the sequence did not move, so they either get a whole record
// or know to skip it. All accesses are atomic, so there is no data race.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
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

  // Writer only. Copies `record` up to `tailOffset` and `tail`'s first
  // `tailBytes` bytes after it, zeros past them to the record's end: a record
  // whose last field is a buffer goes in without being put together first.
  void publish(size_t slot, const Record& record, size_t tailOffset, const uint8_t* tail, size_t tailBytes) {
    Slot& s = slots_[slot];
    uint32_t seq = s.seq.load(std::memory_order_relaxed);
    s.seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const auto* head = reinterpret_cast<const unsigned char*>(&record);
    // Whole words of the head, the word across the boundary, whole words of
    // the tail, the word where the tail ends, zeros.
    const size_t end = std::min(tailOffset + tailBytes, sizeof(Record));  // zeros from here on
    const size_t headWords = tailOffset / 8, fullWords = end / 8;
    size_t i = 0;
    for (; i < headWords; ++i) store(s, i, head + i * 8);
    if (i * 8 < tailOffset) put(s, i++, head, tailOffset, tail, end);
    const unsigned char* from = tail + (i * 8 - tailOffset);
    for (; i < fullWords; ++i, from += 8) store(s, i, from);
    if (i * 8 < end) put(s, i++, head, tailOffset, tail, end);
    for (; i < kWords; ++i) std::atomic_ref<uint64_t>(s.words[i]).store(0, std::memory_order_relaxed);
    s.seq.store(seq + 2, std::memory_order_release);
  }

  // Writer only: brings `slot` into the cache ahead of its publish, so the
  // stores of the next record do not wait for its lines.
  void prefetch(size_t slot) const {
    const char* p = reinterpret_cast<const char*>(&slots_[slot]);
    for (size_t at = 0; at < sizeof(Slot); at += 64) __builtin_prefetch(p + at, 1);
    __builtin_prefetch(p + sizeof(Slot) - 1, 1);
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
  static_assert(std::endian::native == std::endian::little, "words are put together byte by byte, low first");
  struct Slot {
    std::atomic<uint32_t> seq{0};
    alignas(8) uint64_t words[kWords] = {};
  };
  // Word i from the head's bytes before `tailOffset`, the tail's up to `end`,
  // zeros after; put together in a register, as a load of byte stores would wait for them.
  static void put(Slot& s, size_t i, const unsigned char* head, size_t tailOffset, const unsigned char* tail,
                  size_t end) {
    uint64_t word = 0;
    for (size_t k = 0, pos = i * 8; k < 8 && pos < end; ++k, ++pos)
      word |= uint64_t{pos < tailOffset ? head[pos] : tail[pos - tailOffset]} << (8 * k);
    std::atomic_ref<uint64_t>(s.words[i]).store(word, std::memory_order_relaxed);
  }
  static void store(Slot& s, size_t i, const unsigned char* from) {
    uint64_t word;
    std::memcpy(&word, from, 8);
    std::atomic_ref<uint64_t>(s.words[i]).store(word, std::memory_order_relaxed);
  }
  std::array<Slot, Capacity> slots_;
};

}  // namespace veltris::agent
