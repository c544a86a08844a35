// Readers of the partner table and the rings, and the midnight reset, run
// while the capture side files frames. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "agent/core/name_lookup.h"
#include "tests/support/filing_harness.h"

namespace veltris::agent {
namespace {

using namespace testing;

struct ReaderFindings {
  uint64_t partnerCopies = 0;
  uint64_t ringEntries = 0;
  uint64_t badPartners = 0;
  uint64_t badEntries = 0;
};

bool wellFormed(const PartnerRecord& r) {
  return r.station[0] != '\0' && strnlen(r.station, kStationTextSize) < kStationTextSize &&
         strnlen(r.protoAddr, kProtoAddrTextSize) < kProtoAddrTextSize && r.owner.get() == 1;
}

// A packet ring entry must be whole: complete, in its slot, with the length of its own frame.
bool wellFormed(const PacketRecord& e, size_t slot) {
  if (e.complete != 1 || (e.sequence.get() - 1) % kPacketRingSize != slot) return false;
  uint32_t ipLength = uint32_t{e.frame[16]} << 8 | e.frame[17];
  return e.frame[12] != 0x08 || e.frame[13] != 0x00 || e.length.get() == ipLength + 14;
}

void readWhileFiling(FilingHarness& h, std::atomic<bool>& done, ReaderFindings& found) {
  while (!done.load()) {
    for (const PartnerRecord& r : copyPartners(h.nic)) {
      found.partnerCopies += 1;
      found.badPartners += !wellFormed(r);
    }
    for (size_t slot = 0; slot < kPacketRingSize; ++slot) {
      PacketRecord e;
      if (!h.nic.packets.read(slot, e)) continue;
      found.ringEntries += 1;
      found.badEntries += !wellFormed(e, slot);
    }
    uint32_t broadcasts = h.nic.broadcastCount.load(std::memory_order_acquire);
    BroadcastRecord b;
    if (broadcasts != 0 && h.nic.broadcasts.read((broadcasts - 1) % kBroadcastRingSize, b))
      found.badEntries += b.sequence.get() == 0;
    TrafficTotals t = h.global.totals.load();
    found.badEntries += t.framesSent > t.sequence;
  }
}

TEST(Concurrency, ReadersAndResetWhileFramesAreFiled) {
  FilingHarness h;
  h.global.autoIpName = 1;
  NameLookupWorker worker(h.global, [](std::span<const uint8_t> address, char* name, size_t size) {
    std::snprintf(name, size, "h%d", address.back());
    return true;
  });
  h.filer = std::make_unique<FrameFiler>(h.global, h.nic, &worker);

  std::atomic<bool> done{false};
  ReaderFindings found;
  std::thread reader([&] { readWhileFiling(h, done, found); });
  std::thread midnight([&] {
    while (!done.load()) {
      resetPartnerTable(h.global, h.nic);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  constexpr int kFrames = 30000;
  for (int i = 0; i < kFrames; ++i) {
    int peer = i % 700;
    Bytes frame;
    switch (i % 4) {
      case 0:
        frame = tcpFrame(kStationMac, stationMac(peer), stationIp(peer), kStationIp, 80, 1025,
                         static_cast<uint32_t>(i), kAck | kPsh, static_cast<size_t>(i % 200));
        break;
      case 1:
        frame = tcpFrame(stationMac(peer), kStationMac, kStationIp, stationIp(peer), 1025, 80, 7, kRst, 0);
        break;
      case 2:
        frame = arpRequestFrame(stationMac(peer), stationIp(peer), kStationIp);
        break;
      default:
        frame = ipFrame(kStationMac, stationMac(peer), stationIp(peer), kStationIp, 17, udp(53, 999, dnsReplyA(1, "n.lan", {1, 2, 3, 4})));
        break;
    }
    h.file(frame);
  }
  done = true;
  reader.join();
  midnight.join();
  worker.stop();

  EXPECT_EQ(found.badPartners, 0u);
  EXPECT_EQ(found.badEntries, 0u);
  EXPECT_GT(found.ringEntries, 0u);
  TrafficTotals t = h.global.totals.load();
  EXPECT_EQ(t.sequence, static_cast<uint32_t>(kFrames));
  EXPECT_EQ(t.broadcastsReceived, static_cast<uint32_t>(kFrames / 4));
  EXPECT_EQ(t.errorsSent, static_cast<uint32_t>(kFrames / 4));
  EXPECT_GE(t.resetCount, 1u);
}

// Several adapters add to the same GLOBAL counters.
TEST(Concurrency, AdaptersShareGlobalCounters) {
  GlobalArea global;
  constexpr int kAdapters = 3;
  constexpr int kFrames = 20000;
  std::vector<std::thread> threads;
  for (int a = 0; a < kAdapters; ++a) {
    global.nics[a] = std::make_unique<NicArea>();
    global.nics[a]->index = a;
    std::memcpy(global.nics[a]->station, kStationMac.data(), 6);
  }
  global.adapterCount = kAdapters;
  for (int a = 0; a < kAdapters; ++a) {
    threads.emplace_back([&global, a] {
      NicArea& nic = *global.nics[a];
      FrameFiler filer(global, nic);
      Bytes frame = ipFrame(stationMac(5), kStationMac, kStationIp, stationIp(5), 17, udp(1, 2, Bytes(100, 0)));
      capture::FrameRead read{static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())};
      uint8_t buffer[256] = {};
      std::memcpy(buffer, frame.data(), frame.size());
      for (int i = 0; i < kFrames; ++i) fileCompletedRead(filer, 1000, buffer, read);
    });
  }
  for (std::thread& t : threads) t.join();
  TrafficTotals t = global.totals.load();
  EXPECT_EQ(t.sequence, uint32_t{kAdapters * kFrames});
  EXPECT_EQ(t.framesSent, uint32_t{kAdapters * kFrames});
  EXPECT_EQ(t.bytesSent, uint64_t{kAdapters} * kFrames * 142);
  for (int a = 0; a < kAdapters; ++a) EXPECT_EQ(copyPartners(*global.nics[a])[0].owner.get(), uint32_t(a + 1));
}

// Adapters that start and stop while another files: the first filer adds
// without locked instructions while it is alone, and no addition is lost at
// either switch.
TEST(Concurrency, FilersComingAndGoingKeepTheTotalsExact) {
  GlobalArea global;
  constexpr int kAdapters = 3;
  for (int a = 0; a < kAdapters; ++a) {
    global.nics[a] = std::make_unique<NicArea>();
    global.nics[a]->index = a;
    std::memcpy(global.nics[a]->station, kStationMac.data(), 6);
  }
  global.adapterCount = kAdapters;
  Bytes frame = ipFrame(stationMac(5), kStationMac, kStationIp, stationIp(5), 17, udp(1, 2, Bytes(100, 0)));
  capture::FrameRead read{static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())};
  uint8_t buffer[256] = {};
  std::memcpy(buffer, frame.data(), frame.size());

  // The steady filer runs from before the first visitor comes until after the last one left.
  constexpr int kVisits = 40, kVisitFrames = 500;
  std::atomic<int> filing{0}, visitorsDone{0};
  uint32_t steadyFrames = 0;
  std::thread steady([&] {
    FrameFiler filer(global, *global.nics[0]);
    while (visitorsDone.load() < kAdapters - 1 || steadyFrames < 1000) {
      fileCompletedRead(filer, 1000, buffer, read);
      if (++steadyFrames == 100) filing = 1;
    }
  });
  std::vector<std::thread> visitors;
  for (int a = 1; a < kAdapters; ++a) {
    visitors.emplace_back([&, a] {
      while (filing.load() == 0) std::this_thread::yield();
      for (int v = 0; v < kVisits; ++v) {
        FrameFiler filer(global, *global.nics[a]);
        for (int i = 0; i < kVisitFrames; ++i) fileCompletedRead(filer, 1000, buffer, read);
      }
      visitorsDone += 1;
    });
  }
  for (std::thread& t : visitors) t.join();
  steady.join();
  const uint32_t frames = steadyFrames + (kAdapters - 1) * kVisits * kVisitFrames;
  TrafficTotals t = global.totals.load();
  EXPECT_EQ(t.sequence, frames);
  EXPECT_EQ(t.framesSent, frames);
  EXPECT_EQ(t.bytesSent, uint64_t{frames} * 142);
  EXPECT_FALSE(global.filers.shared.load());
  EXPECT_TRUE(global.filers.areas.empty());
}

}  // namespace
}  // namespace veltris::agent
