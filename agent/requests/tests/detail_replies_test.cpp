#include "agent/requests/detail_replies.h"

#include <gtest/gtest.h>

#include "agent/core/statistics.h"
#include "agent/requests/detail_reply_parts.h"
#include "agent/requests/tests/detail_test_support.h"

namespace veltris::agent::testing {
namespace {

constexpr uint8_t kSenderMac[6] = {0x00, 0xA0, 0x24, 0x04, 0x05, 0x06};
constexpr uint8_t kSenderIp[4] = {10, 0, 0, 5};
constexpr uint8_t kTargetIp[4] = {10, 0, 0, 1};

std::vector<uint32_t> sequences(const std::string& body) {
  std::vector<uint32_t> out;
  for (const DetailRecord& r : detailRecords(body)) out.push_back(r.sequence.get());
  return out;
}

std::string details(RingAgent& agent, uint32_t since) {
  std::string body;
  appendDetails(agent.global, since, body);
  EXPECT_EQ(body.size() % sizeof(DetailRecord), 0u);
  return body;
}

TEST(DetailReplies, SlotOrderAndSequenceFilter) {
  RingAgent agent;
  // A wrapped ring: the newest frames sit in the low slots.
  agent.nic().packets.publish(0, packet(301, otherFrame(0x9000)));
  agent.nic().packets.publish(1, packet(302, otherFrame(0x9000)));
  for (uint32_t slot = 2; slot < kPacketRingSize; ++slot)
    agent.nic().packets.publish(slot, packet(slot + 1, otherFrame(0x9000)));

  std::vector<uint32_t> all = sequences(details(agent, 0));
  ASSERT_EQ(all.size(), size_t{kPacketRingSize});
  EXPECT_EQ(all[0], 301u);
  EXPECT_EQ(all[1], 302u);
  EXPECT_EQ(all[2], 3u);
  EXPECT_EQ(all.back(), 300u);

  EXPECT_EQ(sequences(details(agent, 298)), (std::vector<uint32_t>{301, 302, 299, 300}));
  EXPECT_TRUE(details(agent, 302).empty());

  agent.nic().packets.publish(0, packet(0x80000001u, otherFrame(0x9000)));  // compared unsigned
  EXPECT_EQ(sequences(details(agent, 302)), std::vector<uint32_t>{0x80000001u});
  EXPECT_TRUE(details(agent, 0xFFFFFFFFu).empty());
}

TEST(DetailReplies, IncompleteSkippedUnusedEnds) {
  RingAgent agent;
  PacketRecord incomplete = packet(2, otherFrame(0x9000));
  incomplete.complete = 0;
  agent.nic().packets.publish(0, packet(1, otherFrame(0x9000)));
  agent.nic().packets.publish(1, incomplete);
  agent.nic().packets.publish(2, packet(3, otherFrame(0x9000)));
  agent.nic().packets.publish(3, packet(0, otherFrame(0x9000)));  // sequence 0: never used
  agent.nic().packets.publish(4, packet(5, otherFrame(0x9000)));
  EXPECT_EQ(sequences(details(agent, 0)), (std::vector<uint32_t>{1, 3}));
}

TEST(DetailReplies, AdaptersInOrderAndUntouchedAdapterSilent) {
  RingAgent agent(3);
  agent.nic(2).mediaType = 1;
  agent.nic(2).packets.publish(0, packet(7, otherFrame(0x9000)));
  agent.nic(0).packets.publish(0, packet(9, otherFrame(0x9000)));
  std::vector<DetailRecord> records = detailRecords(details(agent, 0));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].adapter.get(), 1u);
  EXPECT_EQ(records[0].sequence.get(), 9u);
  EXPECT_EQ(records[1].adapter.get(), 3u);
  EXPECT_EQ(records[1].sequence.get(), 7u);
  EXPECT_EQ(records[0].mediaType.get(), 0u);
  EXPECT_EQ(records[1].mediaType.get(), 1u);
}

TEST(DetailReplies, RecordFieldsFromEntryPartnerAndDecoder) {
  RingAgent agent(2);
  int partner = agent.addPartner(1, "00A024040506", "IP 10.0.0.5", "fileserver", "GW");
  PacketRecord entry = packet(42, arpRequest(kSenderMac, kSenderIp, kTargetIp), 1234567);
  setText(entry.protoAddr, sizeof entry.protoAddr, "IP 10.0.0.5");
  entry.partner = static_cast<uint32_t>(partner);
  entry.frameKind = kBroadcastSent;
  entry.errorKind = kArpRetransmit;
  entry.length = 64;
  agent.nic(1).packets.publish(0, entry);

  std::string body = "TOT-";  // records go behind what the body holds
  appendDetails(agent.global, 0, body);
  ASSERT_EQ(body.size(), 4 + sizeof(DetailRecord));
  DetailRecord r = detailRecords(body.substr(4))[0];
  EXPECT_EQ(std::string(r.tag, 4), "DETL");
  EXPECT_EQ(r.adapter.get(), 2u);
  EXPECT_EQ(r.length.get(), 64u);
  EXPECT_EQ(fieldText(r.time, sizeof r.time), localClock(1234567));
  EXPECT_EQ(r.time[8], '\0');
  EXPECT_EQ(fieldText(r.station, sizeof r.station), "00A024040506");
  EXPECT_EQ(fieldText(r.protoAddr, sizeof r.protoAddr), "IP 10.0.0.5");
  EXPECT_EQ(fieldText(r.roleLabel, sizeof r.roleLabel), "GW");
  EXPECT_EQ(fieldText(r.hostName, sizeof r.hostName), "fileserver");
  EXPECT_EQ(std::string(r.direction, 4), "  >>");
  EXPECT_EQ(fieldText(r.destination, sizeof r.destination), "FFFFFFFFFFFF");
  EXPECT_EQ(fieldText(r.description, sizeof r.description), "ARP Request, Target=10.0.0.1, Sender=10.0.0.5");
  EXPECT_EQ(fieldText(r.protocol, sizeof r.protocol), "ARP Request, Looking for 10.0.0.1");
  EXPECT_EQ(std::string(r.errorText, 16), "ARP Re-transmit ");
  EXPECT_EQ(r.mediaType.get(), 0u);
  EXPECT_EQ(r.reserved[0] | r.reserved[1] | r.reserved[2], 0);
}

TEST(DetailReplies, DirectionMarkersAndErrorTexts) {
  const char* markers[] = {"<<  ", "<-  ", "<=  ", "  >>", "  ->", "  =>", "<<  "};
  const char* errors[] = {"                ", "TCP Re-transmit ", "DNS Re-transmit ", "ARP Re-transmit ",
                          "TCP RESET       ", "ICMP ERROR      ", "LLC ERROR       ", "?               "};
  RingAgent agent;
  for (uint32_t kind = 0; kind < 8; ++kind) {
    PacketRecord entry = packet(kind + 1, otherFrame(0x9000));
    entry.frameKind = kind < 7 ? kind : 77;
    entry.errorKind = kind < 7 ? kind : 1000;
    agent.nic().packets.publish(kind, entry);
  }
  std::vector<DetailRecord> records = detailRecords(details(agent, 0));
  ASSERT_EQ(records.size(), 8u);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(std::string(records[i].direction, 4), markers[std::min<size_t>(i, 6)]) << i;
    EXPECT_EQ(std::string(records[i].errorText, 16), errors[i]) << i;
  }
}

TEST(DetailReplies, NoPartnerOrStalePartnerNameFromStationTable) {
  RingAgent agent;
  int partner = agent.addPartner(0, "00A024040506", "<misc>", "OLDNAME", "WINS");
  agent.addStationName(0, "00A024040506", "<misc>", "TABLENAME");
  agent.nic().packets.publish(1, packet(2, otherFrame(0x9000)));  // no partner
  PacketRecord entry = packet(1, otherFrame(0x9000));
  entry.partner = static_cast<uint32_t>(partner);
  agent.nic().packets.publish(0, entry);
  DetailRecord without = detailRecords(details(agent, 0))[1];
  EXPECT_EQ(fieldText(without.hostName, sizeof without.hostName), "TABLENAME");
  EXPECT_EQ(std::string(without.roleLabel, 8), std::string(8, '\0'));
  EXPECT_EQ(fieldText(detailRecords(details(agent, 0))[0].hostName, 32), "OLDNAME");

  resetPartnerTable(agent.global, agent.nic());
  DetailRecord emptied = detailRecords(details(agent, 0))[0];
  EXPECT_EQ(fieldText(emptied.hostName, sizeof emptied.hostName), "TABLENAME");
  EXPECT_EQ(std::string(emptied.roleLabel, 8), std::string(8, '\0'));

  // Refilled: the same index now holds another station.
  agent.addPartner(0, "00A0240A0B0C", "<misc>", "STRANGER", "GW");
  DetailRecord refilled = detailRecords(details(agent, 0))[0];
  EXPECT_EQ(fieldText(refilled.hostName, sizeof refilled.hostName), "TABLENAME");
  EXPECT_EQ(std::string(refilled.roleLabel, 8), std::string(8, '\0'));
}

TEST(DetailReplies, ErrorsReadTheErrorRing) {
  RingAgent agent;
  agent.nic().packets.publish(0, packet(1, otherFrame(0x9000)));
  std::string none;
  appendErrors(agent.global, 0, none);
  EXPECT_TRUE(none.empty()) << "no error frames: nothing behind the totals";

  PacketRecord error = packet(2, otherFrame(0x9000));
  error.errorKind = kTcpReset;
  agent.nic().errors.publish(0, error);
  agent.nic().errors.publish(1, packet(4, otherFrame(0x9000)));
  std::string body;
  appendErrors(agent.global, 1, body);
  EXPECT_EQ(sequences(body), (std::vector<uint32_t>{2, 4}));
  EXPECT_EQ(std::string(detailRecords(body)[0].errorText, 16), "TCP RESET       ");
}

TEST(LocalClockTexts, WindowClockMatchesTheTimeZoneAcrossAChange) {
  const char* saved = getenv("TZ");
  std::string previous = saved != nullptr ? saved : "";
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  const int64_t change = 1615705200;  // 2021-03-14 07:00 UTC: 02:00 EST becomes 03:00 EDT
  for (int64_t end : {change - 1000, change + 400, change + 2000}) {
    WindowClock clock(end - 900, end);
    for (int64_t t = end - 900; t <= end; t += 7) {
      char fast[kClockTextSize];
      clock.format(t, fast);
      EXPECT_EQ(std::string(fast), localClock(static_cast<time_t>(t))) << t;
    }
  }
  if (saved != nullptr) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace veltris::agent::testing
