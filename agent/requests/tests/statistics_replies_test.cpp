#include "agent/requests/statistics_replies.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "common/text_field.h"
#include "tests/support/agent_fixture.h"

namespace veltris::agent {
namespace {

using testing::AgentFixture;
using testing::f32At;
using testing::hexBytes;
using testing::padded;
using testing::u32At;
using testing::utc;

TptRecord tptRecord(uint32_t time, uint32_t base) {
  TptRecord r{};
  std::memcpy(r.tag, "TPT ", 4);
  r.time = time;
  r.bytesSent = 512.0f;
  r.framesSent = base;
  r.broadcastsSent = base + 1;
  r.errorsSent = base + 2;
  r.bytesReceived = 256.0f;
  r.framesReceived = base + 3;
  r.broadcastsReceived = base + 4;
  r.errorsReceived = base + 5;
  return r;
}

TpsRecord tpsRecord(const char* tag, uint32_t adapter, const char* station) {
  TpsRecord r{};
  std::memcpy(r.tag, tag, 4);
  r.adapter = adapter;
  copyText(r.partner.station, sizeof r.partner.station, station);
  copyText(r.partner.protoAddr, sizeof r.partner.protoAddr, "NetBEUI");
  return r;
}

class StatisticsRepliesTest : public ::testing::Test, public AgentFixture {};

// ---- Totals record -----------------------------------------------------------

TEST_F(StatisticsRepliesTest, TotalsRecordMatchesHandComputedBytes) {
  LiveTotals& t = rt.global.totals;
  t.sequence = 1234;
  t.bytesSent = 1500;
  t.framesSent = 10;
  t.broadcastsSent = 2;
  t.errorsSent = 1;
  t.bytesReceived = 64;
  t.framesReceived = 20;
  t.broadcastsReceived = 3;
  t.errorsReceived = 4;
  t.resetCount = 2;
  const uint32_t now = utc(1999, 10, 15, 12);
  t.lastReceived = now - 7;
  std::strcpy(rt.global.hostName, "pc-one");
  std::strcpy(rt.global.ipSummary, "IP=10.0.0.1");

  std::string body;
  appendTotalsRecord(rt.global, now, body);
  std::string expected = hexBytes(
      "544F5420 D2040000 0080BB44 0A000000 02000000 01000000"
      "00008042 14000000 03000000 04000000 02000000 07000000");
  expected += padded("PC-ONE", 32, '\0') + padded("IP=10.0.0.1", 20, '\0');
  ASSERT_EQ(body.size(), 100u);
  EXPECT_EQ(body, expected);
}

TEST_F(StatisticsRepliesTest, TotalsRecordEdgeValues) {
  const uint32_t now = utc(1999, 10, 15, 12);
  std::memset(rt.global.hostName, 'H', 32);  // 32 characters: no terminator in the record
  std::string body;
  appendTotalsRecord(rt.global, now, body);
  EXPECT_EQ(body.substr(48, 32), std::string(32, 'H'));
  EXPECT_EQ(body.substr(80, 20), std::string(20, '\0'));  // no TCP/IP address
  // Nothing received yet: the seconds since the last frame are the time itself.
  EXPECT_EQ(u32At(body, 44), now);
}

// ---- Partner statistics record -----------------------------------------------

TEST_F(StatisticsRepliesTest, PartnerStatMatchesHandComputedBytes) {
  PartnerRecord entry{};
  copyText(entry.station, sizeof entry.station, "*006008112233");
  copyText(entry.protoAddr, sizeof entry.protoAddr, "IP 192.168.1.10");
  copyText(entry.roleLabel, sizeof entry.roleLabel, "Self");
  copyText(entry.hostName, sizeof entry.hostName, "PC01");
  entry.lastSeen = utc(1999, 10, 15, 13, 5, 9);
  entry.bytesSent = 1024.0f;
  entry.framesSent = 7;
  entry.broadcasts = 1;
  entry.errors = 2;
  entry.bytesReceived = 2048.0f;
  entry.framesReceived = 9;
  entry.changeStamp = 77;  // not part of the record

  PartnerStatRecord stat;
  fillPartnerStat(stat, 2, entry);
  std::string bytes(reinterpret_cast<const char*>(&stat), sizeof stat);
  std::string expected = "STAT" + hexBytes("02000000") + padded("*006008112233", 16, ' ') +
                         padded("IP 192.168.1.10", 28, ' ') + padded("Self", 8, ' ') + padded("PC01", 32, ' ') +
                         "13:05:09" + hexBytes("00008044 07000000 01000000 02000000 00000045 09000000");
  ASSERT_EQ(bytes.size(), 124u);
  EXPECT_EQ(bytes, expected);
}

TEST_F(StatisticsRepliesTest, PartnerStatTextsFillWholeFieldsWithoutTerminator) {
  PartnerRecord entry{};
  std::memset(entry.station, 'S', sizeof entry.station);      // 16 characters, no terminator
  std::memset(entry.protoAddr, 'P', sizeof entry.protoAddr);  // 29 characters: field holds 28
  std::memset(entry.roleLabel, 'R', sizeof entry.roleLabel);
  std::memset(entry.hostName, 'N', sizeof entry.hostName);
  PartnerStatRecord stat;
  fillPartnerStat(stat, 1, entry);
  std::string bytes(reinterpret_cast<const char*>(&stat), sizeof stat);
  EXPECT_EQ(bytes.substr(8, 16), std::string(16, 'S'));
  EXPECT_EQ(bytes.substr(24, 28), std::string(28, 'P'));
  EXPECT_EQ(bytes.substr(52, 8), std::string(8, 'R'));
  EXPECT_EQ(bytes.substr(60, 32), std::string(32, 'N'));
  EXPECT_EQ(bytes.substr(92, 8), "00:00:00");
  // An empty entry gives blank texts.
  fillPartnerStat(stat, 1, PartnerRecord{});
  bytes.assign(reinterpret_cast<const char*>(&stat), sizeof stat);
  EXPECT_EQ(bytes.substr(8, 84), std::string(84, ' '));
}

// ---- Slots and today -----------------------------------------------------------

TEST_F(StatisticsRepliesTest, PeriodSlotArithmetic) {
  EXPECT_EQ(periodSlot(utc(1999, 10, 15, 0, 0, 0)), 0u);
  EXPECT_EQ(periodSlot(utc(1999, 10, 15, 0, 9, 59)), 0u);
  EXPECT_EQ(periodSlot(utc(1999, 10, 15, 0, 10, 0)), 1u);
  EXPECT_EQ(periodSlot(utc(1999, 10, 15, 12, 34, 0)), 75u);
  EXPECT_EQ(periodSlot(utc(1999, 10, 15, 23, 59, 0)), 143u);
  EXPECT_TRUE(isToday("19991015", utc(1999, 10, 15, 23, 59)));
  EXPECT_TRUE(isToday("19991015xyz", utc(1999, 10, 15, 1)));
  EXPECT_FALSE(isToday("1999101", utc(1999, 10, 15, 1)));
  EXPECT_FALSE(isToday("19991014", utc(1999, 10, 15, 1)));
}

// ---- History list --------------------------------------------------------------

TEST_F(StatisticsRepliesTest, HistoryListHasOneRecordPerTotalsFile) {
  for (const char* name : {"19991014.TPT", "19991015.TPT", "19991015.TPS", "notes.txt", "19991013.TPX"})
    appendFile(name, "x", 1);
  std::filesystem::create_directory("19991001.TPT");  // a folder is not a history day
  std::string body;
  appendHistoryList(body);
  ASSERT_EQ(body.size(), 24u);
  std::vector<std::string> records = {body.substr(0, 12), body.substr(12, 12)};
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records[0], "HIST19991014");
  EXPECT_EQ(records[1], "HIST19991015");
}

// ---- Day totals ------------------------------------------------------------------

TEST_F(StatisticsRepliesTest, DayTotalsFromFileSkipPartialLastRecord) {
  TptRecord a = tptRecord(utc(1999, 10, 14, 23, 59), 3);
  TptRecord b = tptRecord(utc(1999, 10, 14, 0, 0), 13);
  appendFile("19991014.TPT", &a, sizeof a);
  appendFile("19991014.TPT", &b, sizeof b);
  appendFile("19991014.TPT", &a, 20);  // being written

  std::string body;
  appendDayTotals(rt.global, "19991014", utc(1999, 10, 15, 10), body);  // a past day: no live record
  std::string expected = hexBytes(
      "54505420 8F000000 00000044 03000000 04000000 05000000 00008043 06000000 07000000 08000000"
      "54505420 00000000 00000044 0D000000 0E000000 0F000000 00008043 10000000 11000000 12000000");
  EXPECT_EQ(body, expected);
}

TEST_F(StatisticsRepliesTest, DayTotalsForTodayAddTheRunningPeriod) {
  rt.global.totals.bytesSent = 3000;
  rt.global.totals.framesSent = 50;
  rt.global.totals.errorsReceived = 9;
  TrafficTotals snapshot;
  snapshot.bytesSent = 1000;
  snapshot.framesSent = 20;
  snapshot.errorsReceived = 4;
  rt.global.setPeriodSnapshot(snapshot);
  const uint32_t now = utc(1999, 10, 15, 10, 25);

  std::string body;
  appendDayTotals(rt.global, "19991015", now, body);  // agent just started: no file yet
  std::string expected = hexBytes(
      "54505420 3E000000 0000FA44 1E000000 00000000 00000000 00000000 00000000 00000000 05000000");
  EXPECT_EQ(body, expected);

  TptRecord stored = tptRecord(utc(1999, 10, 15, 0, 5), 1);
  appendFile("19991015.TPT", &stored, sizeof stored);
  body.clear();
  appendDayTotals(rt.global, "19991015", now, body);
  ASSERT_EQ(body.size(), 80u);
  EXPECT_EQ(u32At(body, 4), 0u);
  EXPECT_EQ(u32At(body, 44), 62u);  // the live record comes last
}

TEST_F(StatisticsRepliesTest, DayNamesCannotLeaveTheHistoryFolder) {
  std::filesystem::create_directory("sub");
  TptRecord r = tptRecord(utc(1999, 10, 14, 1), 1);
  appendFile("sub/19991014.TPT", &r, sizeof r);
  std::string body;
  appendDayTotals(rt.global, "sub/19991014", utc(1999, 10, 15), body);
  appendDayTotals(rt.global, "", utc(1999, 10, 15), body);
  appendDayTotals(rt.global, std::string(300, 'A'), utc(1999, 10, 15), body);
  EXPECT_TRUE(body.empty());
  // A folder or a pipe named like a history file gives nothing and does not block.
  std::filesystem::create_directory("19991013.TPT");
  ASSERT_EQ(mkfifo("19991012.TPT", 0600), 0);
  appendDayTotals(rt.global, "19991013", utc(1999, 10, 15), body);
  appendDayTotals(rt.global, "19991012", utc(1999, 10, 15), body);
  EXPECT_TRUE(body.empty());
}

TEST_F(StatisticsRepliesTest, HistoryFilesAreNeverLinksToOtherFiles) {
  TptRecord r = tptRecord(utc(1999, 10, 14, 1), 1);
  appendFile("private.bin", &r, sizeof r);
  std::filesystem::create_symlink("private.bin", "19991014.TPT");
  std::filesystem::create_hard_link("private.bin", "19991013.TPT");
  std::filesystem::create_symlink("private.bin", "19991014.TPS");
  std::string body;
  appendDayTotals(rt.global, "19991014", utc(1999, 10, 15), body);
  appendDayTotals(rt.global, "19991013", utc(1999, 10, 15), body);
  appendDayPartners(rt.global, "19991014", utc(1999, 10, 15), body);
  EXPECT_TRUE(body.empty());
  appendFile("19991012.TPT", &r, sizeof r);
  appendHistoryList(body);
  ASSERT_EQ(body.size(), 24u);  // the hard link is a regular file: listed, but not read
  EXPECT_EQ(std::min(body.substr(0, 12), body.substr(12)) + std::max(body.substr(0, 12), body.substr(12)),
            "HIST19991012HIST19991013");
}

TEST_F(StatisticsRepliesTest, HistoryReadsStopAtAForeignTagAndAtADaysWorth) {
  TptRecord good = tptRecord(utc(1999, 10, 14, 1), 1);
  TptRecord foreign = good;
  std::memcpy(foreign.tag, "XXXX", 4);
  for (const TptRecord* r : {&good, &good, &foreign, &good}) appendFile("19991014.TPT", r, sizeof *r);
  std::string body;
  appendDayTotals(rt.global, "19991014", utc(1999, 10, 15), body);
  EXPECT_EQ(body.size(), 2 * sizeof(PeriodTotalsRecord));

  std::vector<TptRecord> many(kMaxDayPeriodRecords + 100, good);
  appendFile("19991011.TPT", many.data(), many.size() * sizeof good);
  body.clear();
  appendDayTotals(rt.global, "19991011", utc(1999, 10, 15), body);
  EXPECT_EQ(body.size(), kMaxDayPeriodRecords * sizeof(PeriodTotalsRecord));  // what was read, answered
}

TEST_F(StatisticsRepliesTest, HistoryListNamesOnlyDays) {
  for (const char* name : {"19991014.TPT", "19991015.tpt", "1999101x.TPT", "19991314.TPT", "19991000.TPT",
                           "1999101.TPT", "199910145.TPT", "README.TPT"}) {
    appendFile(name, "x", 1);
  }
  std::string body;
  appendHistoryList(body);
  ASSERT_EQ(body.size(), 24u);
  std::vector<std::string> records = {body.substr(0, 12), body.substr(12, 12)};
  std::sort(records.begin(), records.end());
  EXPECT_EQ(records[0], "HIST19991014");
  EXPECT_EQ(records[1], "HIST19991015");
}

// The history writer appends while a console reads: every reply holds whole,
// correct records, whatever moment the read hits.
TEST_F(StatisticsRepliesTest, DayTotalsReadWhileTheFileIsAppended) {
  constexpr uint32_t kRecords = 3000;
  std::atomic<bool> done{false};
  std::atomic<bool> written{true};
  std::thread writer([&] {
    int fd = ::open("19991014.TPT", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    for (uint32_t i = 0; fd >= 0 && i < kRecords; ++i) {
      TptRecord r = tptRecord(utc(1999, 10, 14) + i * 60 % 86400, i);
      const char* bytes = reinterpret_cast<const char*>(&r);
      // Every third record arrives in two pieces.
      size_t first = i % 3 == 0 ? 17 : sizeof r;
      bool ok = ::write(fd, bytes, first) == static_cast<ssize_t>(first);
      if (first < sizeof r) ok = ok && ::write(fd, bytes + first, sizeof r - first) == static_cast<ssize_t>(sizeof r - first);
      if (!ok) written = false;
    }
    if (fd < 0) written = false;
    else ::close(fd);
    done = true;
  });
  // A reply is good when it is whole records, each the one written at its place.
  auto wellFormed = [](const std::string& body) {
    if (body.size() % 40 != 0) return false;
    for (size_t off = 0; off < body.size(); off += 40) {
      uint32_t index = static_cast<uint32_t>(off / 40);
      if (body.substr(off, 4) != "TPT " || u32At(body, off + 4) != (index * 60 % 86400) / 600 ||
          u32At(body, off + 12) != index || u32At(body, off + 36) != index + 5)
        return false;
    }
    return true;
  };
  size_t reads = 0;
  size_t badReads = 0;
  while (!done || reads == 0) {
    std::string body;
    appendDayTotals(rt.global, "19991014", utc(1999, 10, 15), body);
    if (!wellFormed(body)) ++badReads;
    ++reads;
  }
  writer.join();
  ASSERT_TRUE(written);
  EXPECT_EQ(badReads, 0u) << "of " << reads << " reads";
  std::string body;
  appendDayTotals(rt.global, "19991014", utc(1999, 10, 15), body);
  EXPECT_EQ(body.size(), kRecords * 40u);
  EXPECT_TRUE(wellFormed(body));
}

// ---- Day partners and partner changes ---------------------------------------------

TEST_F(StatisticsRepliesTest, DayPartnersStopAtForeignTagAndShortRecord) {
  TpsRecord a = tpsRecord("TPS1", 0, "020000000001");
  TpsRecord b = tpsRecord("TPS1", 1, "020000000002");
  TpsRecord bad = tpsRecord("TPS2", 0, "020000000003");
  appendFile("19991014.TPS", &a, sizeof a);
  appendFile("19991014.TPS", &b, sizeof b);
  appendFile("19991014.TPS", &bad, sizeof bad);
  appendFile("19991014.TPS", &a, sizeof a);  // behind the foreign tag: never read

  std::string body;
  appendDayPartners(rt.global, "19991014", utc(1999, 10, 15), body);
  ASSERT_EQ(body.size(), 2 * 124u);
  EXPECT_EQ(u32At(body, 4), 1u);  // stored index + 1
  EXPECT_EQ(body.substr(8, 16), padded("020000000001", 16, ' '));
  EXPECT_EQ(body.substr(24, 28), padded("NetBEUI", 28, ' '));
  EXPECT_EQ(u32At(body, 124 + 4), 2u);

  appendFile("19991013.TPS", &a, sizeof a);
  appendFile("19991013.TPS", &b, 100);  // being written
  body.clear();
  appendDayPartners(rt.global, "19991013", utc(1999, 10, 15), body);
  EXPECT_EQ(body.size(), 124u);
}

TEST_F(StatisticsRepliesTest, DayPartnersForTodayAddEveryLiveEntry) {
  NicArea& first = addAdapter("eth0");
  NicArea& second = addAdapter("eth1");
  addPartner(first, "020000000011", "IP 10.0.0.11", 0);
  addPartner(first, "020000000012", "IP 10.0.0.12", 5);
  Partner& p = addPartner(second, "020000000021", "IP 10.0.0.21", 9);
  p.bytesSent = 4096;
  TpsRecord stored = tpsRecord("TPS1", 0, "020000000001");
  appendFile("19991015.TPS", &stored, sizeof stored);

  std::string body;
  appendDayPartners(rt.global, "19991015", utc(1999, 10, 15, 8), body);
  ASSERT_EQ(body.size(), 4 * 124u);
  EXPECT_EQ(body.substr(8, 12), "020000000001");  // the file first
  EXPECT_EQ(body.substr(124 + 8, 12), "020000000011");
  EXPECT_EQ(body.substr(248 + 8, 12), "020000000012");
  EXPECT_EQ(u32At(body, 372 + 4), 2u);
  EXPECT_EQ(f32At(body, 372 + 100), 4096.0f);
}

TEST_F(StatisticsRepliesTest, PartnerChangesCompareStampsUnsigned) {
  NicArea& first = addAdapter("eth0");
  NicArea& second = addAdapter("eth1");
  addPartner(first, "A", "IP 10.0.0.1", 0);
  addPartner(first, "B", "IP 10.0.0.2", 5);
  addPartner(second, "C", "IP 10.0.0.3", 10);
  addPartner(second, "D", "IP 10.0.0.4", 0xFFFFFFF0u);

  auto stations = [&](uint32_t since) {
    std::string body;
    appendPartnerChanges(rt.global, since, body);
    std::string out;
    for (size_t off = 0; off < body.size(); off += 124) out += body.substr(off + 8, 1) + std::to_string(u32At(body, off + 4));
    return out;
  };
  EXPECT_EQ(stations(0), "B1C2D2");
  EXPECT_EQ(stations(5), "C2D2");
  EXPECT_EQ(stations(10), "D2");
  EXPECT_EQ(stations(0xFFFFFFF0u), "");
}

// "ADDRESSES6": the full address for IPv6 partners changed since the number,
// keyed as their "STAT" rows; IPv4 and IPX partners have none.
TEST_F(StatisticsRepliesTest, Ipv6AddressesOfChangedPartners) {
  NicArea& first = addAdapter("eth0");
  NicArea& second = addAdapter("eth1");
  const uint8_t longAddress[16] = {0x20, 0x01, 0x0d, 0xb8, 0x12, 0x34, 0x56, 0x78,
                                   0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78};
  const uint8_t shortAddress[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  addPartner(first, "020000000001", "IP 10.0.0.1", 9);
  addPartner(first, "020000000001", "IPX 0000ABCD:020000000001", 9);
  std::memcpy(addPartner(first, "020000000001", "2001:db8:1234:~ef0:1234:5678", 9).record.ipv6, longAddress, 16);
  std::memcpy(addPartner(second, "*020000000002", "fe80::1", 3).record.ipv6, shortAddress, 16);

  std::string body;
  appendIpv6Addresses(rt.global, 0, body);
  ASSERT_EQ(body.size(), 2 * sizeof(PartnerAddressRecord));
  EXPECT_EQ(body.substr(0, 4), "ADR6");
  EXPECT_EQ(u32At(body, 4), 1u);
  EXPECT_EQ(body.substr(8, 16), padded("020000000001", 16, ' '));
  EXPECT_EQ(body.substr(24, 28), padded("2001:db8:1234:~ef0:1234:5678", 28, ' '));
  EXPECT_EQ(body.substr(52, 16), std::string(reinterpret_cast<const char*>(longAddress), 16));
  EXPECT_EQ(u32At(body, 68 + 4), 2u);
  EXPECT_EQ(body.substr(68 + 24, 28), padded("fe80::1", 28, ' '));

  body.clear();
  appendIpv6Addresses(rt.global, 3, body);
  EXPECT_EQ(body.size(), sizeof(PartnerAddressRecord));
}

}  // namespace
}  // namespace veltris::agent
