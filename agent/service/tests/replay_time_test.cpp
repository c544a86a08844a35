// The agent replaying capture files in its own process: agent time follows the
// frames' stamps (re-transmit windows, history periods, midnight), and Token
// Ring files replay as Token Ring adapters.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "agent/core/history.h"
#include "agent/core/statistics.h"
#include "agent/requests/dispatcher.h"
#include "agent/service/agent_main.h"
#include "common/detail_record.h"
#include "common/records.h"
#include "platform/system_root.h"
#include "tests/support/agent_clock.h"
#include "tests/support/console_capture.h"

namespace veltris::agent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::localTime;
using Frame = std::vector<uint8_t>;

struct Stamped {
  uint32_t seconds;
  Frame bytes;
};

void writeCapture(const fs::path& file, int linkType, const std::vector<Stamped>& frames) {
  pcap_t* dead = pcap_open_dead(linkType, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, file.c_str());
  ASSERT_NE(out, nullptr);
  for (const Stamped& frame : frames) {
    pcap_pkthdr h{};
    h.ts.tv_sec = frame.seconds;
    h.caplen = h.len = static_cast<bpf_u_int32>(frame.bytes.size());
    pcap_dump(reinterpret_cast<u_char*>(out), &h, frame.bytes.data());
  }
  pcap_dump_close(out);
  pcap_close(dead);
}

// UDP from 10.0.0.src to 10.0.0.dst, port 1025 to `port`, after `link` (a MAC
// header ending in the type or SNAP field for IP).
Frame udp(Frame link, uint8_t src, uint8_t dst, uint16_t port, uint8_t fill) {
  const Frame ip = {0x45, 0, 0, 60, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, src, 10, 0, 0, dst,
                    0x04, 0x01, uint8_t(port >> 8), uint8_t(port), 0, 40, 0, 0};
  link.insert(link.end(), ip.begin(), ip.end());
  link.resize(link.size() + 32, fill);
  return link;
}

Frame ethernetUdp(uint8_t src, uint8_t dst, uint16_t port, uint8_t fill = 0x11) {
  return udp({2, 0, 0, 0, 0, dst, 2, 0, 0, 0, 0, src, 0x08, 0x00}, src, dst, port, fill);
}

template <typename Record>
std::vector<Record> readRecords(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Record> records(bytes.size() / sizeof(Record));
  std::memcpy(records.data(), bytes.data(), records.size() * sizeof(Record));
  return records;
}

class ReplayTime : public ::testing::Test {
 protected:
  // Starts the agent on `adapters`, waits until `frames` frames are filed and
  // `whileRunning` has looked at the agent, then stops it.
  void replay(const std::vector<std::string>& adapters, uint32_t frames,
              const std::function<void(AgentRuntime&)>& whileRunning = {}) {
    options.adapters = adapters;
    options.serverDelay = 10ms;
    veltris::agent::testing::ConsoleCapture console1;
    std::thread agent([&] { agentMain(rt, options); });
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    auto filed = [&] {
      uint32_t total = 0;
      for (int i = 0; i < rt.global.adapterCount; ++i) total += rt.global.nics[i]->readsCompleted.load();
      return total;
    };
    while (filed() < frames && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms);
    if (whileRunning) whileRunning(rt);
    rt.stopEvent.set();
    agent.join();
    output = console1.take();
    ASSERT_EQ(filed(), frames) << output;
  }
  fs::path history() const { return platform::windowsDirectory() / "VELTRIS History"; }

  testing::ScratchRoot root;
  AgentRuntime rt;
  AgentOptions options;
  std::string output;
};

// This PC (.1) asks its DNS server (.53) the same question three times.
TEST_F(ReplayTime, DnsQueryRepeatedAfter100SecondsIsARetransmitAfter400ItIsNot) {
  const uint32_t t = localTime(1999, 11, 30, 10, 0, 0);
  writeCapture(root.path() / "dns.pcap", DLT_EN10MB,
               {{t, ethernetUdp(1, 53, 53)}, {t + 100, ethernetUdp(1, 53, 53)}, {t + 500, ethernetUdp(1, 53, 53)}});
  replay({"dns.pcap@02:00:00:00:00:01"}, 3);  // relative to where the agent starts
  uint32_t errors = 0, sent = 0;
  for (const TptRecord& r : readRecords<TptRecord>(history() / "19991130.TPT")) {
    errors += r.errorsSent.get();
    sent += r.framesSent.get();
  }
  EXPECT_EQ(errors, 1u) << "only the query 100 s after the first\n" << output;
  EXPECT_EQ(sent + errors, 3u);
  EXPECT_NE(output.find("agent time follows"), std::string::npos) << output;
}

TEST_F(ReplayTime, CaptureAcrossMidnightFillsEachDaysHistoryPeriods) {
  const uint32_t start = localTime(1999, 12, 31, 23, 45, 0);
  const std::vector<uint32_t> stamps = {start, start + 330, start + 780, start + 1080, start + 1740};
  std::vector<Stamped> frames;
  for (uint32_t s : stamps) frames.push_back({s, ethernetUdp(1, 5, 1234)});
  writeCapture(root.path() / "night.pcap", DLT_EN10MB, frames);
  replay({(root.path() / "night.pcap").string() + "@02:00:00:00:00:01"}, 5);

  const auto first = readRecords<TptRecord>(history() / "19991231.TPT");
  ASSERT_EQ(first.size(), 2u) << output;
  EXPECT_EQ(first[0].time.get(), start) << "the start marker at the capture's start";
  EXPECT_EQ(first[1].time.get(), start + 600);
  EXPECT_EQ(first[1].framesSent.get(), 2u);
  const auto second = readRecords<TptRecord>(history() / "20000101.TPT");
  ASSERT_EQ(second.size(), 2u) << output;
  EXPECT_EQ(second[0].time.get(), start + 1200);
  EXPECT_EQ(second[0].framesSent.get(), 2u);
  EXPECT_GE(second[1].time.get(), start + 1740) << "at stop: the clock runs on from the last frame";
  EXPECT_LE(second[1].time.get(), start + 1750);
  EXPECT_EQ(second[1].framesSent.get(), 1u);

  const auto dayOne = readRecords<TpsRecord>(history() / "19991231.TPS");
  ASSERT_FALSE(dayOne.empty());
  EXPECT_STREQ(dayOne[0].partner.station, "*020000000001");
  EXPECT_EQ(dayOne[0].partner.framesSent.get(), 4u) << "written at the first period after midnight";
  const auto dayTwo = readRecords<TpsRecord>(history() / "20000101.TPS");
  ASSERT_FALSE(dayTwo.empty());
  EXPECT_EQ(dayTwo[0].partner.framesSent.get(), 1u);
  EXPECT_FALSE(fs::exists(history() / (dateText(static_cast<uint32_t>(std::time(nullptr))) + ".TPT")))
      << "nothing is filed at the wall clock's date";
}

TEST_F(ReplayTime, TwoFilesAreMergedInTimeStampOrder) {
  const uint32_t t = localTime(2001, 5, 2, 8, 0, 0);
  // b's second frame lies past the first period: a's must not wait behind it.
  writeCapture(root.path() / "a.pcap", DLT_EN10MB, {{t, ethernetUdp(1, 5, 1234)}, {t + 200, ethernetUdp(1, 5, 1234)}});
  writeCapture(root.path() / "b.pcap", DLT_EN10MB, {{t + 100, ethernetUdp(1, 6, 1234)}, {t + 700, ethernetUdp(1, 6, 1234)}});
  replay({"a.pcap@02:00:00:00:00:01", "b.pcap@02:00:00:00:00:01"}, 4);
  const auto records = readRecords<TptRecord>(history() / "20010502.TPT");
  ASSERT_EQ(records.size(), 3u) << output;
  EXPECT_EQ(records[0].time.get(), t);
  EXPECT_EQ(records[1].time.get(), t + 600);
  EXPECT_EQ(records[1].framesSent.get(), 3u) << "t, t+100 and t+200 from both files";
  EXPECT_EQ(records[2].framesSent.get(), 1u);
  EXPECT_GE(records[2].time.get(), t + 700);
}

// "ADAPTER HH:MM:SS" of each frame "DETAILS 0" shows, in the order of the
// packet sequence numbers: the order in which the frames were filed.
std::vector<std::string> detailsInFilingOrder(AgentRuntime& agent) {
  std::string body;
  dispatchRequest(agent, Request("DETAILS 0"), body);
  std::vector<std::pair<uint32_t, std::string>> bySequence;
  for (size_t at = sizeof(TotalsRecord); at + sizeof(DetailRecord) <= body.size(); at += sizeof(DetailRecord)) {
    DetailRecord record;
    std::memcpy(&record, body.data() + at, sizeof record);
    bySequence.emplace_back(record.sequence.get(), std::to_string(record.adapter.get()) + " " +
                                                       std::string(record.time, strnlen(record.time, sizeof record.time)));
  }
  std::sort(bySequence.begin(), bySequence.end());
  std::vector<std::string> order;
  for (const auto& entry : bySequence) order.push_back(entry.second);
  return order;
}

// Interleaved stamps with ties: the packet sequence numbers give the order in
// which frames were filed: stamp order, equal stamps in file order.
TEST_F(ReplayTime, InterleavedFilesAreFiledInStampOrderTiesInFileOrder) {
  const uint32_t t = localTime(2003, 3, 3, 3, 0, 0);
  const std::vector<uint32_t> a = {t, t, t + 1, t + 2, t + 2}, b = {t, t + 1, t + 1, t + 2, t + 3};
  auto frames = [](const std::vector<uint32_t>& stamps, uint8_t peer) {
    std::vector<Stamped> out;
    for (uint32_t s : stamps) out.push_back({s, ethernetUdp(1, peer, 1234)});
    return out;
  };
  writeCapture(root.path() / "a.pcap", DLT_EN10MB, frames(a, 5));
  writeCapture(root.path() / "b.pcap", DLT_EN10MB, frames(b, 6));
  std::vector<std::string> order;
  replay({"a.pcap@02:00:00:00:00:01", "b.pcap@02:00:00:00:00:01"}, 10,
         [&](AgentRuntime& agent) { order = detailsInFilingOrder(agent); });
  const std::vector<std::string> expected = {"1 03:00:00", "1 03:00:00", "2 03:00:00", "1 03:00:01", "2 03:00:01",
                                             "2 03:00:01", "1 03:00:02", "1 03:00:02", "2 03:00:02", "2 03:00:03"};
  EXPECT_EQ(order, expected) << output;
}

// Two files longer than a read-ahead window whose stamps alternate frame by
// frame (every fifth pair on the same second), across a period's end: every
// frame is filed in merged order, and the period's record counts the frames
// before its end.
TEST_F(ReplayTime, AlternatingFilesLongerThanAWindowAreFiledInMergedOrder) {
  const uint32_t t = localTime(2004, 4, 4, 4, 0, 0);
  std::vector<Stamped> a, b;
  std::vector<std::string> expected;  // stamps never go down from a's frame to b's and on to a's next
  auto shown = [](int adapter, uint32_t seconds) {
    const time_t when = seconds;
    tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return std::to_string(adapter) + " " + text;
  };
  for (uint32_t i = 0; i < 280; ++i) {
    const uint32_t first = t + 3 * i, second = first + (i % 5 == 0 ? 0 : 1);
    a.push_back({first, ethernetUdp(1, 5, 1234)});
    b.push_back({second, ethernetUdp(1, 6, 1234)});
    expected.push_back(shown(1, first));
    expected.push_back(shown(2, second));
  }
  writeCapture(root.path() / "a.pcap", DLT_EN10MB, a);
  writeCapture(root.path() / "b.pcap", DLT_EN10MB, b);
  std::vector<std::string> order;
  replay({"a.pcap@02:00:00:00:00:01", "b.pcap@02:00:00:00:00:01"}, 560,
         [&](AgentRuntime& agent) { order = detailsInFilingOrder(agent); });
  EXPECT_EQ(order, expected) << output;
  const auto records = readRecords<TptRecord>(history() / "20040404.TPT");
  ASSERT_GE(records.size(), 2u) << output;
  EXPECT_EQ(records[1].time.get(), t + 600);
  EXPECT_EQ(records[1].framesSent.get(), 400u) << "200 frames of each file lie before the period's end";
}

std::vector<std::string> historyFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t framesIn(const fs::path& file) {
  uint32_t frames = 0;
  for (const TptRecord& r : readRecords<TptRecord>(file)) frames += r.framesSent.get() + r.framesReceived.get();
  return frames;
}

// Three quiet days in one capture: the day with frames is closed once, the
// clock leaps to the period of the next frame, the days between get no files,
// and the purge runs against the new day.
TEST_F(ReplayTime, AGapOfThreeDaysClosesTheDayOnceAndLeavesNoFilesForTheDaysBetween) {
  fs::create_directories(history());
  std::ofstream(history() / "19991101.TPT") << "x";  // a month and more before the new day
  std::ofstream(history() / "19991105.TPT") << "x";
  const uint32_t t = localTime(1999, 11, 30, 10, 0, 0);
  const uint32_t t3 = localTime(1999, 12, 3, 9, 0, 0);
  writeCapture(root.path() / "gap.pcap", DLT_EN10MB,
               {{t, ethernetUdp(1, 5, 1234)}, {t + 300, ethernetUdp(1, 6, 1234)},
                {t3, ethernetUdp(1, 7, 1234)}, {t3 + 60, ethernetUdp(1, 7, 1234)}, {t3 + 700, ethernetUdp(1, 7, 1234)}});
  replay({"gap.pcap@02:00:00:00:00:01"}, 5);

  EXPECT_EQ(historyFiles(history()), (std::vector<std::string>{"19991105.TPT", "19991130.TPS", "19991130.TPT",
                                                               "19991203.TPS", "19991203.TPT"}))
      << output;
  const auto first = readRecords<TptRecord>(history() / "19991130.TPT");
  ASSERT_EQ(first.size(), 2u) << output;
  EXPECT_EQ(first[1].time.get(), t + 600) << "the period of the last frames closes at its end";
  EXPECT_EQ(first[1].framesSent.get(), 2u);
  const auto last = readRecords<TptRecord>(history() / "19991203.TPT");
  ASSERT_EQ(last.size(), 2u) << output;
  EXPECT_EQ(last[0].time.get(), t3 + 600) << "periods continue on the capture's ten-minute marks";
  EXPECT_EQ(last[0].framesSent.get(), 2u);
  EXPECT_EQ(last[1].framesSent.get(), 1u);
  EXPECT_EQ(readRecords<TpsRecord>(history() / "19991130.TPS").size(), 3u) << "the station and the partners of its day";
  const auto partners = readRecords<TpsRecord>(history() / "19991203.TPS");
  ASSERT_EQ(partners.size(), 2u) << "the station and the one partner of the new day";
  EXPECT_EQ(partners[0].partner.framesSent.get(), 3u);
  EXPECT_EQ(rt.global.totals.resetCount.load(), 1u);
  EXPECT_NE(output.find("PURGING 19991101.TPT"), std::string::npos) << output;
}

// Files 28 years apart replayed together: every frame is filed and shown, and
// only the two days with frames get files.
TEST_F(ReplayTime, FilesTwentyEightYearsApartFillTwoDaysOnly) {
  const uint32_t old = localTime(1998, 6, 15, 12, 0, 0), recent = localTime(2026, 6, 15, 12, 0, 0);
  writeCapture(root.path() / "old.pcap", DLT_EN10MB, {{old, ethernetUdp(1, 5, 1234)}, {old + 30, ethernetUdp(5, 1, 1025)}});
  writeCapture(root.path() / "new.pcap", DLT_EN10MB,
               {{recent, ethernetUdp(1, 6, 1234)}, {recent + 5, ethernetUdp(6, 1, 1025)}, {recent + 9, ethernetUdp(1, 6, 1234)}});
  size_t details = 0;
  replay({"old.pcap@02:00:00:00:00:01", "new.pcap@02:00:00:00:00:01"}, 5, [&](AgentRuntime& agent) {
    std::string body;
    dispatchRequest(agent, Request("DETAILS 0"), body);
    details = (body.size() - sizeof(TotalsRecord)) / sizeof(DetailRecord);
  });
  EXPECT_EQ(details, 5u);
  EXPECT_EQ(historyFiles(history()), (std::vector<std::string>{"19980615.TPS", "19980615.TPT", "20260615.TPS",
                                                               "20260615.TPT"}))
      << output;
  EXPECT_EQ(framesIn(history() / "19980615.TPT"), 2u);
  EXPECT_EQ(framesIn(history() / "20260615.TPT"), 3u);
  EXPECT_EQ(rt.global.totals.resetCount.load(), 2u) << "one change of day for both adapters";
}

Frame tokenRingHeader(uint8_t frameControl, const uint8_t dst[6], const uint8_t src[6]) {
  Frame f = {0x10, frameControl};
  f.insert(f.end(), dst, dst + 6);
  f.insert(f.end(), src, src + 6);
  return f;
}

TEST_F(ReplayTime, TokenRingCaptureGivesTokenRingPartnersAndDecodes) {
  const uint8_t self[6] = {0x10, 0, 0x5A, 0, 0, 0x01}, peer[6] = {0x10, 0, 0x5A, 0, 0, 0x02};
  const uint8_t allStations[6] = {0xC0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  auto snapIp = [](Frame f) {
    f.insert(f.end(), {0xAA, 0xAA, 0x03, 0, 0, 0, 0x08, 0x00});
    return f;
  };
  Frame amp = tokenRingHeader(0x00, allStations, peer);
  amp.insert(amp.end(), {0x00, 0x12, 0x00, 0x05, 0, 0, 0, 0});  // Active Monitor Present
  const uint32_t t = localTime(1998, 3, 9, 14, 0, 0);
  writeCapture(root.path() / "ring.pcap", DLT_IEEE802,
               {{t, udp(snapIp(tokenRingHeader(0x40, peer, self)), 1, 2, 137, 0)},
                {t + 1, udp(snapIp(tokenRingHeader(0x40, self, peer)), 2, 1, 1025, 0)},
                {t + 2, amp}});
  std::vector<std::string> descriptions;
  replay({(root.path() / "ring.pcap").string() + "@10:00:5a:00:00:01"}, 3, [&](AgentRuntime& agent) {
    std::string body;
    dispatchRequest(agent, Request("DETAILS 0"), body);
    for (size_t at = sizeof(TotalsRecord); at + sizeof(DetailRecord) <= body.size(); at += sizeof(DetailRecord)) {
      DetailRecord record;
      std::memcpy(&record, body.data() + at, sizeof record);
      EXPECT_EQ(record.mediaType.get(), 1u);
      descriptions.emplace_back(record.description, strnlen(record.description, sizeof record.description));
    }
  });
  EXPECT_EQ(rt.global.nics[0]->mediaType.load(), 1);
  const auto partners = copyPartners(*rt.global.nics[0]);
  ASSERT_EQ(partners.size(), 2u) << output;
  EXPECT_STREQ(partners[0].station, "*10005A000001");
  EXPECT_STREQ(partners[0].protoAddr, "IP 10.0.0.1");
  EXPECT_STREQ(partners[1].station, "10005A000002");
  EXPECT_EQ(partners[0].framesSent.get(), 1u);
  EXPECT_EQ(partners[0].framesReceived.get(), 1u);
  ASSERT_EQ(descriptions.size(), 3u) << output;
  bool sawMonitor = false;
  for (const std::string& d : descriptions) sawMonitor = sawMonitor || d.find("ACTIVE Monitor Present") != std::string::npos;
  EXPECT_TRUE(sawMonitor) << ::testing::PrintToString(descriptions);
}

}  // namespace
}  // namespace veltris::agent
