#pragma once
// 64-bit counters kept beside the records for the metrics endpoint: per
// adapter (written by its NetMonitor thread only) and per request word.
#include <array>
#include <atomic>
#include <cstdint>

namespace veltris::agent {

// A counter with one writer: a plain load and store, no locked instruction on
// the capture path. Readers on other threads see a value at most a frame old.
class SingleWriterCounter {
 public:
  void add(uint64_t n) { value_.store(value_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed); }
  uint64_t get() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

enum Direction { kReceived = 0, kSent = 1 };
constexpr int kErrorKindCount = 7;  // 0 = none, 1 to 6 the error kinds

// Address family of a frame's network layer, as the metrics label it.
constexpr int kFamilyCount = 3;  // ipv4, ipv6, other

struct AdapterCounters {
  SingleWriterCounter familyFrames[kFamilyCount];  // every frame that reached record frame
  SingleWriterCounter sessionFrames[2];
  SingleWriterCounter sessionBytes[2];
  SingleWriterCounter broadcasts[2];
  SingleWriterCounter errorFrames[2];
  SingleWriterCounter errorKinds[kErrorKindCount];
  SingleWriterCounter unfiled;  // a partner was needed but the table was full
};

enum RequestResult { kRequestOk = 0, kRequestWrongKey = 1, kRequestLockedOut = 2 };
constexpr int kRequestResultCount = 3;
constexpr int kCountedWords = 32;  // request table rows; the last slot counts unknown words

// Written by RPC call threads concurrently, hence read-modify-write.
struct RequestCounters {
  std::array<std::atomic<uint64_t>, kCountedWords * kRequestResultCount> calls{};
  std::atomic<uint64_t> lockouts{0};

  void count(int word, RequestResult result) {
    if (word < 0 || word >= kCountedWords) word = kCountedWords - 1;
    calls[word * kRequestResultCount + result].fetch_add(1, std::memory_order_relaxed);
  }
  uint64_t get(int word, RequestResult result) const {
    return calls[word * kRequestResultCount + result].load(std::memory_order_relaxed);
  }
};

}  // namespace veltris::agent
