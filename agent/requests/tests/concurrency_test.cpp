// Replies read adapter state that the capture side changes while it files
// frames. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "agent/decode/frame_decoder.h"
#include "tests/support/filing_harness.h"

namespace veltris::agent {
namespace {

using namespace testing;

// A WAN adapter learns its station address from its first frame while the
// detail replies take the address for their decoding context.
TEST(Concurrency, DecodingContextWhileWanAdapterLearnsItsAddress) {
  const Mac learnt = stationMac(7);
  for (int round = 0; round < 20; ++round) {
    FilingHarness h(0, true);
    std::atomic<bool> done{false};
    std::atomic<int> contexts{0};
    std::thread replies([&] {
      AddressLists copy;
      while (!done.load()) {
        decode::DecodeContext context = decode::decodeContextFor(h.nic, copy);
        bool zero = std::all_of(std::begin(context.ownAddress), std::end(context.ownAddress),
                                [](uint8_t b) { return b == 0; });
        EXPECT_TRUE(zero || std::memcmp(context.ownAddress, learnt.data(), 6) == 0);
        contexts.fetch_add(1);
      }
    });
    while (contexts.load() == 0) std::this_thread::yield();
    for (int i = 0; i < 50; ++i)
      h.file(ipFrame(kBroadcastMac, learnt, stationIp(7), stationIp(9), 17, udp(1024, 1025, Bytes(20, 0))));
    done = true;
    replies.join();

    AddressLists copy;
    decode::DecodeContext context = decode::decodeContextFor(h.nic, copy);
    EXPECT_EQ(std::memcmp(context.ownAddress, learnt.data(), 6), 0);
  }
}

}  // namespace
}  // namespace veltris::agent
