// Reverse lookups of new IP partners' host names on the worker thread.
#include "agent/core/name_lookup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "agent/core/names.h"
#include "tests/support/filing_harness.h"
#include "tests/support/ipv6_frames.h"

namespace veltris::agent {
namespace {

using namespace testing;

// A resolver that answers "host-<last byte>" and can be held back.
class FakeResolver {
 public:
  ReverseResolver function() {
    return [this](std::span<const uint8_t> address, char* name, size_t size) {
      const uint8_t last = address.back();
      std::unique_lock lock(mutex_);
      opened_.wait(lock, [this] { return open_; });
      calls_ += 1;
      if (longNames_) {
        std::snprintf(name, size, "%s", "a-very-long-host-name.example.internal.lan");
      } else {
        std::snprintf(name, size, "host-%d", last);
      }
      seenLengths_.push_back(address.size());
      return last != 99;  // .99 has no name
    };
  }
  void hold() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }
  void longNames() { longNames_ = true; }
  int calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<size_t> seenLengths() {
    std::lock_guard lock(mutex_);
    return seenLengths_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = true;
  bool longNames_ = false;
  int calls_ = 0;
  std::vector<size_t> seenLengths_;
};

class NameLookup : public ::testing::Test {
 protected:
  NameLookup() {
    h.global.autoIpName = 1;
    h.filer = std::make_unique<FrameFiler>(h.global, h.nic, &worker);
  }
  ~NameLookup() override { resolver.release(); }

  void fromPeer(uint8_t last) {
    Ip4 ip = {10, 0, 0, last};
    h.file(ipFrame(kStationMac, stationMac(last), ip, kStationIp, 17, udp(1, 2, {})));
  }
  std::string nameOf(uint8_t last) {
    std::lock_guard lock(h.nic.tableMutex);
    for (int i = 0; i < h.nic.partnerCount; ++i) {
      const PartnerRecord& r = h.nic.partners[i].record;
      if (r.ipv4[3] == last && !r.self.get()) return r.hostName;
    }
    return "<none>";
  }

  FilingHarness h;
  FakeResolver resolver;
  NameLookupWorker worker{h.global, resolver.function()};
};

TEST_F(NameLookup, NewIpPartnerGetsItsNameAndAStamp) {
  resolver.hold();
  fromPeer(5);
  h.file(ipFrame(kStationMac, stationMac(4), {10, 0, 0, 4}, kStationIp, 17, udp(1, 2, {})));
  h.global.autoIpName = 0;
  h.file(ipFrame(kStationMac, stationMac(3), {10, 0, 0, 3}, kStationIp, 17, udp(1, 2, {})));
  resolver.release();
  worker.drain();
  EXPECT_EQ(nameOf(5), "host-5");
  EXPECT_EQ(nameOf(4), "host-4");
  EXPECT_EQ(resolver.calls(), 2);  // this PC's own partner is named at once
  std::lock_guard lock(h.nic.tableMutex);
  EXPECT_EQ(h.nic.partners[0].record.changeStamp.get(), 3u);  // the sequence number when written back
}

// IPv6 partners are named as IPv4 ones: by an AAAA answer seen before them,
// else by a reverse lookup of their full 16-byte address.
TEST_F(NameLookup, Ipv6PartnersByAaaaAnswerOrReverseLookup) {
  const Ip6 self = ip6("2001:db8::5");
  const Ip6 server = ip6("2001:db8::53");
  const Ip6 named = ip6("2001:db8::80");
  const Ip6 unnamed = ip6("2001:db8:aaaa:bbbb:cccc:dddd:eeee:42");
  h.global.autoIpName = 0;
  h.file(ip6Frame(kStationMac, stationMac(53), server, self, 17, udp(53, 33000, dnsReplyAaaa(1, "www.example.org", named))));
  h.file(tcp6Frame(kStationMac, stationMac(80), named, self, 443, 50000, 1, 0x12, 0));
  h.global.autoIpName = 1;
  h.file(tcp6Frame(kStationMac, stationMac(42), unnamed, self, 22, 50001, 1, 0x12, 0));
  worker.drain();

  auto nameOf6 = [this](const Ip6& address) {
    std::lock_guard lock(h.nic.tableMutex);
    for (int i = 0; i < h.nic.partnerCount; ++i) {
      const PartnerRecord& r = h.nic.partners[i].record;
      if (std::memcmp(r.ipv6, address.data(), 16) == 0) return std::string(r.hostName);
    }
    return std::string("<none>");
  };
  EXPECT_EQ(nameOf6(named), "www.example.org");
  EXPECT_EQ(nameOf6(unnamed), "host-66");  // 0x42, the last byte of the full address
  EXPECT_EQ(resolver.calls(), 1);
  EXPECT_EQ(resolver.seenLengths(), std::vector<size_t>{16});
}

TEST_F(NameLookup, NoNameKeepsEntryEmptyButStamped) {
  fromPeer(99);
  worker.drain();
  EXPECT_EQ(nameOf(99), "");
  EXPECT_EQ(resolver.calls(), 1);
}

TEST_F(NameLookup, NameIsCutAtThirtyTwo) {
  resolver.longNames();
  fromPeer(6);
  worker.drain();
  EXPECT_EQ(nameOf(6), "a-very-long-host-name.example.in");
}

TEST_F(NameLookup, OnlyWhenAutoIpNameIsSetAndNoOtherNameIsKnown) {
  h.global.autoIpName = 0;
  fromPeer(7);
  h.global.autoIpName = 1;
  {
    std::lock_guard lock(h.nic.tableMutex);
    updateStationName(h.nic, hexStation(stationMac(8)).c_str(), "IP 10.0.0.8", "NBNAME", h.time);
  }
  fromPeer(8);
  h.file(ieee8023(kStationMac, stationMac(9), llc(0xF0, 0xF0, 0x03, Bytes(40, 0))));  // not IP
  worker.drain();
  EXPECT_EQ(resolver.calls(), 0);
  EXPECT_EQ(nameOf(8), "NBNAME");
}

TEST_F(NameLookup, EntryTakenByAnotherPartnerIsLeftAlone) {
  resolver.hold();
  fromPeer(10);  // partner 0, lookup waiting
  resetPartnerTable(h.global, h.nic);
  fromPeer(11);  // partner 0 again, another station
  resolver.release();
  worker.drain();
  EXPECT_EQ(nameOf(11), "host-11");
  EXPECT_EQ(resolver.calls(), 2);
}

TEST_F(NameLookup, FullQueueDropsRequests) {
  resolver.hold();
  for (int i = 1; i <= 70; ++i) fromPeer(static_cast<uint8_t>(i));
  uint32_t dropped = worker.dropped();
  EXPECT_GE(dropped, 70u - NameLookupWorker::kQueueCapacity - 1);
  EXPECT_LE(dropped, 70u - NameLookupWorker::kQueueCapacity);
  resolver.release();
  worker.drain();
  EXPECT_EQ(static_cast<uint32_t>(resolver.calls()), 70u - dropped);
  EXPECT_EQ(nameOf(1), "host-1");
  EXPECT_EQ(nameOf(70), "");
}

}  // namespace
}  // namespace veltris::agent
