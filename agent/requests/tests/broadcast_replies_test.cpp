#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "agent/core/statistics.h"
#include "agent/requests/detail_replies.h"
#include "agent/requests/tests/detail_test_support.h"

namespace veltris::agent::testing {
namespace {

constexpr uint32_t kNow = 1700000000;
constexpr uint8_t kOwnMac[6] = {0x00, 0x60, 0x08, 0x11, 0x22, 0x33};
constexpr uint8_t kOtherMac[6] = {0x00, 0xA0, 0x24, 0x04, 0x05, 0x06};
constexpr char kOwnStation[] = "*006008112233";
constexpr char kOtherStation[] = "00A024040506";

Bytes arpFor(const uint8_t (&mac)[6], uint8_t sender, uint8_t target) {
  const uint8_t senderIp[4] = {10, 0, 0, sender};
  const uint8_t targetIp[4] = {10, 0, 0, target};
  return arpRequest(mac, senderIp, targetIp);
}

BroadcastReply sent(RingAgent& agent, bool low, uint32_t now = kNow) {
  std::string body = "totals record that is replaced";
  buildBroadcastsSent(agent.global, now, low, body);
  EXPECT_EQ((body.size() - sizeof(BroadcastHeaderRecord)) % sizeof(BroadcastEntryRecord), 0u);
  return broadcastReply(body);
}

BroadcastReply senders(RingAgent& agent, bool low, uint32_t now = kNow) {
  std::string body = "totals record that is replaced";
  buildBroadcasters(agent.global, now, low, body);
  EXPECT_EQ((body.size() - sizeof(BroadcastHeaderRecord)) % sizeof(BroadcastEntryRecord), 0u);
  return broadcastReply(body);
}

std::string keyText(const BroadcastEntryRecord& e) { return fieldText(e.keyText, sizeof e.keyText); }

TEST(BroadcastLists, EmptyWindowGivesTheHeaderAlone) {
  RingAgent agent;
  std::string body = "old";
  buildBroadcasters(agent.global, kNow, false, body);
  ASSERT_EQ(body.size(), sizeof(BroadcastHeaderRecord));
  BroadcastHeaderRecord h = broadcastReply(body).header;
  EXPECT_EQ(std::string(h.tag, 4), "BHDR");
  EXPECT_EQ(fieldText(h.now, sizeof h.now), localClock(kNow));
  EXPECT_EQ(fieldText(h.windowStart, sizeof h.windowStart), localClock(kNow - 900));
  EXPECT_EQ(h.windowCount.get(), 0u);
  EXPECT_EQ(h.lastMinuteCount.get(), 0u);
  EXPECT_EQ(h.entryCount.get(), 0u);
  EXPECT_EQ(h.reserved1[0] | h.reserved1[1] | h.reserved1[2] | h.reserved2[0] | h.reserved2[1] | h.reserved2[2], 0);
}

TEST(BroadcastLists, SendersGroupedByStationNewestFirst) {
  RingAgent agent;
  int partner = agent.addPartner(0, kOtherStation, "IP 10.0.0.5", "printer", "DNS");
  BroadcastRecord first = broadcast(10, kNow - 300, kOtherStation, "IP 10.0.0.5", arpFor(kOtherMac, 5, 1));
  first.partner = static_cast<uint32_t>(partner);
  agent.addBroadcast(0, first);
  agent.addBroadcast(0, broadcast(11, kNow - 200, kOwnStation, "IP 10.0.0.9", arpFor(kOwnMac, 9, 1)));
  BroadcastRecord newest = broadcast(12, kNow - 30, kOtherStation, "IP 10.0.0.5", arpFor(kOtherMac, 5, 7));
  newest.partner = static_cast<uint32_t>(partner);
  agent.addBroadcast(0, newest);

  BroadcastReply r = senders(agent, false);
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.header.entryCount.get(), 2u);
  EXPECT_EQ(r.header.windowCount.get(), 3u);
  EXPECT_EQ(r.header.lastMinuteCount.get(), 1u);

  const BroadcastEntryRecord& a = r.entries[0];
  EXPECT_EQ(std::string(a.tag, 4), "BENT");
  EXPECT_EQ(a.adapter.get(), 1u);
  EXPECT_EQ(fieldText(a.station, sizeof a.station), kOtherStation);
  EXPECT_EQ(fieldText(a.protoAddr, sizeof a.protoAddr), "IP 10.0.0.5");
  EXPECT_EQ(fieldText(a.roleLabel, sizeof a.roleLabel), "DNS");
  EXPECT_EQ(fieldText(a.hostName, sizeof a.hostName), "printer");
  EXPECT_EQ(a.windowCount.get(), 2u);
  EXPECT_EQ(a.lastMinuteCount.get(), 1u);
  EXPECT_EQ(a.sequence.get(), 12u) << "the group shows its newest broadcast";
  EXPECT_EQ(fieldText(a.time, sizeof a.time), localClock(kNow - 30));
  EXPECT_EQ(keyText(a), "ARP Request, Looking for 10.0.0.7");
  EXPECT_EQ(fieldText(a.destination, sizeof a.destination), "FFFFFFFFFFFF");
  EXPECT_EQ(a.reserved[0] | a.reserved[1] | a.reserved[2], 0);

  const BroadcastEntryRecord& b = r.entries[1];
  EXPECT_EQ(fieldText(b.station, sizeof b.station), kOwnStation);
  EXPECT_EQ(b.windowCount.get(), 1u);
  EXPECT_EQ(b.lastMinuteCount.get(), 0u);
  EXPECT_EQ(b.sequence.get(), 11u);
}

TEST(BroadcastLists, SendersLowAndHighSameGroupsOtherKeyText) {
  RingAgent agent;
  agent.addBroadcast(0, broadcast(1, kNow - 5, kOtherStation, "IP 10.0.0.5", arpFor(kOtherMac, 5, 1)));
  agent.addBroadcast(0, broadcast(2, kNow - 4, kOtherStation, "IPX 00000001:00A024040506", otherFrame(0x9000)));
  agent.addBroadcast(0, broadcast(3, kNow - 3, kOtherStation, "IP 10.0.0.5", arpFor(kOtherMac, 5, 2)));
  BroadcastReply high = senders(agent, false);
  BroadcastReply low = senders(agent, true);
  ASSERT_EQ(high.entries.size(), 2u);
  ASSERT_EQ(low.entries.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(fieldText(high.entries[i].protoAddr, 28), fieldText(low.entries[i].protoAddr, 28));
    EXPECT_EQ(high.entries[i].windowCount.get(), low.entries[i].windowCount.get());
  }
  EXPECT_EQ(keyText(high.entries[0]), "ARP Request, Looking for 10.0.0.2");
  EXPECT_EQ(keyText(low.entries[0]), "ARP Request, Target=10.0.0.2, Sender=10.0.0.5");
  EXPECT_EQ(high.entries[0].windowCount.get(), 2u);
}

TEST(BroadcastLists, SentGroupsOwnBroadcastsByContent) {
  RingAgent agent;
  // This PC looks for 10.0.0.1 from two of its addresses, then for 10.0.0.2.
  agent.addBroadcast(0, broadcast(1, kNow - 100, kOwnStation, "IP 10.0.0.8", arpFor(kOwnMac, 8, 1)));
  agent.addBroadcast(0, broadcast(2, kNow - 90, kOtherStation, "IP 10.0.0.5", arpFor(kOtherMac, 5, 1)));
  agent.addBroadcast(0, broadcast(3, kNow - 80, kOwnStation, "IP 10.0.0.9", arpFor(kOwnMac, 9, 1)));
  agent.addBroadcast(0, broadcast(4, kNow - 10, kOwnStation, "IP 10.0.0.9", arpFor(kOwnMac, 9, 2)));

  BroadcastReply high = sent(agent, false);
  ASSERT_EQ(high.entries.size(), 2u) << "one entry per address looked for";
  EXPECT_EQ(high.header.windowCount.get(), 3u) << "other stations are not counted";
  EXPECT_EQ(high.header.lastMinuteCount.get(), 1u);
  EXPECT_EQ(keyText(high.entries[0]), "ARP Request, Looking for 10.0.0.2");
  EXPECT_EQ(keyText(high.entries[1]), "ARP Request, Looking for 10.0.0.1");
  EXPECT_EQ(high.entries[1].windowCount.get(), 2u);
  EXPECT_EQ(high.entries[1].sequence.get(), 3u);
  EXPECT_EQ(fieldText(high.entries[1].protoAddr, 28), "IP 10.0.0.9");

  BroadcastReply low = sent(agent, true);
  ASSERT_EQ(low.entries.size(), 3u) << "the description also names the sender";
  EXPECT_EQ(keyText(low.entries[1]), "ARP Request, Target=10.0.0.1, Sender=10.0.0.9");
  EXPECT_EQ(keyText(low.entries[2]), "ARP Request, Target=10.0.0.1, Sender=10.0.0.8");
  for (const BroadcastEntryRecord& e : low.entries) EXPECT_EQ(e.windowCount.get(), 1u);
}

TEST(BroadcastLists, WindowEdgesAtSixtyAndNineHundredSeconds) {
  RingAgent agent;
  agent.addBroadcast(0, broadcast(1, kNow - 901, kOtherStation, "<misc>", otherFrame(0x9000)));
  agent.addBroadcast(0, broadcast(2, kNow - 900, kOtherStation, "<misc>", otherFrame(0x9000)));
  agent.addBroadcast(0, broadcast(3, kNow - 61, kOtherStation, "<misc>", otherFrame(0x9000)));
  agent.addBroadcast(0, broadcast(4, kNow - 60, kOtherStation, "<misc>", otherFrame(0x9000)));
  BroadcastReply r = senders(agent, true);
  EXPECT_EQ(r.header.windowCount.get(), 3u);
  EXPECT_EQ(r.header.lastMinuteCount.get(), 1u);
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].windowCount.get(), 3u);
  EXPECT_EQ(r.entries[0].lastMinuteCount.get(), 1u);
}

TEST(BroadcastLists, WalkStopsAtTheRingsOldestEnd) {
  RingAgent agent;
  // A slot behind the newest three that holds a later sequence: the ring's other end.
  agent.nic().broadcasts.publish(kBroadcastRingSize - 1, broadcast(50, kNow, kOtherStation, "<misc>", otherFrame(1)));
  for (uint32_t s = 10; s < 13; ++s) agent.addBroadcast(0, broadcast(s, kNow, kOtherStation, "<misc>", otherFrame(1)));
  EXPECT_EQ(senders(agent, false).header.windowCount.get(), 3u);

  // The newest entry is compared with the current packet sequence number.
  agent.global.totals.sequence.store(11);
  EXPECT_EQ(senders(agent, false).header.windowCount.get(), 0u);

  // Sequence 0 ends the walk.
  RingAgent zero;
  zero.addBroadcast(0, broadcast(5, kNow, kOtherStation, "<misc>", otherFrame(1)));
  zero.addBroadcast(0, broadcast(0, kNow, kOtherStation, "<misc>", otherFrame(1)));
  zero.addBroadcast(0, broadcast(7, kNow, kOtherStation, "<misc>", otherFrame(1)));
  EXPECT_EQ(senders(zero, false).header.windowCount.get(), 1u);
}

TEST(BroadcastLists, FullRingsEachBroadcastItsOwnGroup) {
  RingAgent agent(kMaxAdapters);
  uint32_t sequence = 0;
  for (int adapter = 0; adapter < kMaxAdapters; ++adapter) {
    for (int i = 0; i < kBroadcastRingSize + 7; ++i) {  // wrapped: the oldest seven are gone
      char station[16];
      std::snprintf(station, sizeof station, "%012X", ++sequence);
      agent.addBroadcast(adapter, broadcast(sequence, kNow - 100, station, "<misc>", otherFrame(1)));
    }
  }
  std::string body;
  buildBroadcasters(agent.global, kNow, false, body);
  ASSERT_EQ(body.size(), 4392040u);
  BroadcastReply r = broadcastReply(body);
  EXPECT_EQ(r.header.entryCount.get(), 18000u);
  EXPECT_EQ(r.header.windowCount.get(), 18000u);
  EXPECT_EQ(r.entries.front().sequence.get(), kBroadcastRingSize + 7u);
  EXPECT_EQ(r.entries[kBroadcastRingSize - 1].sequence.get(), 8u);
  EXPECT_EQ(r.entries[kBroadcastRingSize].adapter.get(), 2u);
  EXPECT_EQ(r.entries.back().sequence.get(), sequence - kBroadcastRingSize + 1);
}

TEST(BroadcastLists, StalePartnerAfterTableReset) {
  RingAgent agent;
  int partner = agent.addPartner(0, kOtherStation, "<misc>", "OLDNAME", "GW");
  agent.addStationName(0, kOtherStation, "<misc>", "TABLENAME");
  BroadcastRecord b = broadcast(1, kNow, kOtherStation, "<misc>", otherFrame(1));
  b.partner = static_cast<uint32_t>(partner);
  agent.addBroadcast(0, b);
  EXPECT_EQ(fieldText(senders(agent, false).entries.at(0).hostName, 32), "OLDNAME");

  resetPartnerTable(agent.global, agent.nic());
  BroadcastReply r = senders(agent, false);
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(fieldText(r.entries[0].hostName, 32), "TABLENAME");
  EXPECT_EQ(std::string(r.entries[0].roleLabel, 8), std::string(8, '\0'));
}

TEST(BroadcastLists, GroupsKeptPerAdapterInAdapterOrder) {
  RingAgent agent(2);
  agent.addBroadcast(1, broadcast(1, kNow - 50, kOtherStation, "<misc>", otherFrame(1)));
  agent.addBroadcast(0, broadcast(2, kNow - 40, kOtherStation, "<misc>", otherFrame(1)));
  BroadcastReply r = senders(agent, false);
  ASSERT_EQ(r.entries.size(), 1u) << "the same station on two adapters is one group";
  EXPECT_EQ(r.entries[0].adapter.get(), 1u);
  EXPECT_EQ(r.entries[0].windowCount.get(), 2u);

  agent.addBroadcast(1, broadcast(3, kNow - 30, kOwnStation, "<misc>", otherFrame(1)));
  BroadcastReply own = sent(agent, true);
  ASSERT_EQ(own.entries.size(), 1u);
  EXPECT_EQ(own.entries[0].adapter.get(), 2u);
}

TEST(BroadcastLists, WellFormedWhileTheRingIsOverwritten) {
  RingAgent agent;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (uint32_t s = 1; s <= 30000; ++s) {
      char station[16];
      std::snprintf(station, sizeof station, "%012X", s);
      agent.addBroadcast(0, broadcast(s, kNow, station, "<misc>", otherFrame(1)));
    }
    done = true;
  });
  int replies = 0;
  while (!done || replies == 0) {
    BroadcastReply r = senders(agent, false);
    ++replies;
    ASSERT_LE(r.entries.size(), size_t{kBroadcastRingSize});
    ASSERT_EQ(r.header.entryCount.get(), r.entries.size());
    ASSERT_EQ(r.header.windowCount.get(), r.entries.size()) << "each broadcast is its own station";
    for (size_t i = 1; i < r.entries.size(); ++i)
      ASSERT_LT(r.entries[i].sequence.get(), r.entries[i - 1].sequence.get()) << "newest first, no wrap-around";
  }
  writer.join();
  EXPECT_EQ(senders(agent, false).entries.size(), size_t{kBroadcastRingSize});
}

}  // namespace
}  // namespace veltris::agent::testing
