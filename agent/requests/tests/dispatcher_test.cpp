#include "agent/requests/dispatcher.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/agent_fixture.h"
#include "tests/support/console_capture.h"

namespace veltris::agent {
namespace {

using testing::AgentFixture;
using testing::u32At;
using testing::utc;

std::string wordOf(std::string_view text) {
  const RequestWord* word = findRequestWord(Request(text));
  return word != nullptr ? std::string(word->text) : "<unknown>";
}

std::string commandOf(std::string_view text) {
  const CommandWord* command = findCommandWord(Request(text));
  return command != nullptr ? std::string(command->text) : "<none>";
}

// ---- The request buffer ------------------------------------------------------

TEST(RequestTest, TextEndsAtTerminatorOrAfter256Bytes) {
  uint8_t raw[kRequestSize];
  std::memset(raw, 'A', sizeof raw);  // no terminator anywhere
  Request full(raw);
  EXPECT_EQ(full.length(), 256u);
  EXPECT_EQ(std::strlen(full.text()), 256u);
  EXPECT_EQ(full.at(255), 'A');
  EXPECT_EQ(full.at(256), 0);
  EXPECT_EQ(full.at(100000), 0);
  EXPECT_EQ(full.textFrom(250), "AAAAAA");
  EXPECT_EQ(full.field(252, 8), "AAAA");
  EXPECT_TRUE(full.textFrom(256).empty());

  Request longText(std::string(300, 'B'));
  EXPECT_EQ(longText.length(), 256u);
  Request shortText("TPS 1999");
  EXPECT_EQ(shortText.field(4, 8), "1999");
  EXPECT_TRUE(shortText.field(9, 8).empty());
}

TEST(RequestTest, BytesBehindTheTerminatorTakePartInComparisons) {
  uint8_t raw[kRequestSize] = {};
  std::memcpy(raw, "BCASTSENT\0LOW", 13);
  Request request(raw);
  EXPECT_EQ(request.length(), 9u);
  EXPECT_TRUE(request.matches(10, "LOW", 3, false));
}

TEST(RequestTest, NumbersAreSignedDecimalTakenModulo32Bits) {
  EXPECT_EQ(Request("STATS_PRO 0").number(9), 0u);
  EXPECT_EQ(Request("STATS_PRO    123").number(9), 123u);
  EXPECT_EQ(Request("STATS_PRO\t+77").number(9), 77u);
  EXPECT_EQ(Request("STATS_PRO -1").number(9), 0xFFFFFFFFu);
  EXPECT_EQ(Request("STATS_PRO 4294967295").number(9), 0xFFFFFFFFu);
  EXPECT_EQ(Request("STATS_PRO 4294967296").number(9), 0u);
  EXPECT_EQ(Request("STATS_PRO 12abc").number(9), 12u);
  EXPECT_EQ(Request("STATS_PRO").number(9), 0u);
  EXPECT_EQ(Request("DETAILS 99").number(7), 99u);
  // Digits up to the last of the 256 bytes, none read behind them.
  uint8_t raw[kRequestSize];
  std::memset(raw, '9', sizeof raw);
  std::memcpy(raw, "STATS_PRO ", 10);
  raw[246] = '1';
  EXPECT_NO_FATAL_FAILURE(Request(raw).number(9));
}

// ---- The word table ------------------------------------------------------------

TEST(WordTableTest, RowsInOrderWithTheirWidths) {
  const std::vector<std::pair<std::string, size_t>> expected = {
      {"TOTAL", 5}, {"OPEN", 4},     {"SNAPSHOT", 8}, {"CMD ", 4},      {"CFG ", 4},
      {"HISTORY_LIST", 12},          {"TPT ", 4},     {"TPS ", 4},      {"DETAILS", 7},
      {"ERRORS", 6},                 {"STATS_PRO", 9}, {"OID", 3},      {"BCASTSENT", 9},
      {"BCASTERS", 8},               {"ADDRESSES6", 10}};
  auto words = requestWords();
  ASSERT_EQ(words.size(), expected.size());
  for (size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(words[i].text, expected[i].first);
    EXPECT_EQ(words[i].width, expected[i].second);
  }
  for (size_t i = 0; i < words.size(); ++i) EXPECT_NE(words[i].answer, nullptr) << words[i].text;
}

TEST(WordTableTest, WordsAreExactOverTheirWidth) {
  EXPECT_EQ(wordOf("TOTAL"), "TOTAL");
  EXPECT_EQ(wordOf("TOTALS"), "TOTAL");  // only 5 bytes are compared
  EXPECT_EQ(wordOf("total"), "<unknown>");
  EXPECT_EQ(wordOf("TOTA"), "<unknown>");
  EXPECT_EQ(wordOf("OPEN secret"), "OPEN");
  EXPECT_EQ(wordOf("OPENX"), "OPEN");
  EXPECT_EQ(wordOf("open "), "<unknown>");
  EXPECT_EQ(wordOf("SNAPSHOT"), "SNAPSHOT");
  EXPECT_EQ(wordOf("SNAPSHOT "), "SNAPSHOT");
  EXPECT_EQ(wordOf("SNAPSHOT C:\\x.vsn"), "SNAPSHOT");
  EXPECT_EQ(wordOf("CMD CONFIG"), "CMD ");
  EXPECT_EQ(wordOf("CMD"), "<unknown>");  // the blank is part of the word
  EXPECT_EQ(wordOf("CFG "), "CFG ");
  EXPECT_EQ(wordOf("CFG"), "<unknown>");
  EXPECT_EQ(wordOf("HISTORY_LIST"), "HISTORY_LIST");
  EXPECT_EQ(wordOf("HISTORY_LIS"), "<unknown>");
  EXPECT_EQ(wordOf("TPT 19991015"), "TPT ");
  EXPECT_EQ(wordOf("TPS 19991015"), "TPS ");
  EXPECT_EQ(wordOf("TPT"), "<unknown>");
  EXPECT_EQ(wordOf("DETAILS 0"), "DETAILS");
  EXPECT_EQ(wordOf("ERRORS 0"), "ERRORS");
  EXPECT_EQ(wordOf("STATS_PRO 0"), "STATS_PRO");
  EXPECT_EQ(wordOf("OID"), "OID");
  EXPECT_EQ(wordOf("OIDS"), "OID");
  EXPECT_EQ(wordOf("BCASTSENT HIGH"), "BCASTSENT");
  EXPECT_EQ(wordOf("BCASTSENT"), "BCASTSENT");
  EXPECT_EQ(wordOf("BCASTERS LOW"), "BCASTERS");
  EXPECT_EQ(wordOf(""), "<unknown>");
}

TEST(WordTableTest, CommandsIgnoreCaseAndPingWinsMustEnd) {
  EXPECT_EQ(commandOf("CMD config"), "CONFIG");
  EXPECT_EQ(commandOf("CMD CONFIGURE"), "CONFIG");
  EXPECT_EQ(commandOf("CMD Subnet"), "SUBNET");
  EXPECT_EQ(commandOf("CMD test"), "TEST");
  EXPECT_EQ(commandOf("CMD PING GW"), "PING GW");
  EXPECT_EQ(commandOf("CMD ping gwxyz"), "PING GW");
  EXPECT_EQ(commandOf("CMD PING DNS"), "PING DNS");
  EXPECT_EQ(commandOf("CMD PING WINS"), "PING WINS");
  EXPECT_EQ(commandOf("CMD ping wins"), "PING WINS");
  EXPECT_EQ(commandOf("CMD PING WINS2"), "PING ");     // an external command
  EXPECT_EQ(commandOf("CMD PING 10.0.0.1"), "PING ");  // an external command
  EXPECT_EQ(commandOf("CMD PINGGW"), "");              // not "PING ": an external command
  EXPECT_EQ(commandOf("CMD veltrisv stop"), "VELTRISV STOP");
  EXPECT_EQ(commandOf("CMD NETSTAT -a"), "");
  EXPECT_EQ(commandOf("CMD "), "");
}

// ---- Dispatching -------------------------------------------------------------------

class DispatcherTest : public ::testing::Test, public AgentFixture {
 protected:
  DispatcherTest() { clock.time = utc(1999, 10, 15, 10, 25); }

  std::string dispatch(std::string_view text, std::string* console = nullptr) {
    std::string body;
    veltris::agent::testing::ConsoleCapture captured;
    dispatchRequest(rt, Request(text), body);
    std::string printed = captured.take();
    if (console) *console = printed;
    return body;
  }
};

TEST_F(DispatcherTest, UnknownRequestGivesTotalsRecordAndConsoleLine) {
  rt.global.totals.sequence = 42;
  std::string console;
  std::string body = dispatch("total", &console);
  ASSERT_EQ(body.size(), 100u);
  EXPECT_EQ(body.substr(0, 4), "TOT ");
  EXPECT_EQ(u32At(body, 4), 42u);
  EXPECT_EQ(console, "ERROR - Unknown request 'total'\n");

  body = dispatch("TOTAL", &console);
  EXPECT_EQ(body.size(), 100u);
  EXPECT_EQ(console, "");
}

TEST_F(DispatcherTest, UnknownRequestOf256BytesIsPrintedWhole) {
  uint8_t raw[kRequestSize];
  std::memset(raw, 'z', sizeof raw);
  std::string body;
  veltris::agent::testing::ConsoleCapture captured;
  dispatchRequest(rt, Request(raw), body);
  std::string console = captured.take();
  EXPECT_EQ(body.size(), 100u);
  EXPECT_EQ(console, "ERROR - Unknown request '" + std::string(256, 'z') + "'\n");
}

TEST_F(DispatcherTest, CommandsWithoutProducerTakeTheUnknownPath) {
  for (const char* text : {"CMD CONFIG", "CMD PING GW", "CMD NETSTAT -a", "SNAPSHOT", "CFG "}) {
    const RequestWord* word = findRequestWord(Request(text));
    ASSERT_NE(word, nullptr);
    const CommandWord* command = findCommandWord(Request(text));
    bool answered = word->answer != nullptr && (word->text != "CMD " || command->producer != nullptr);
    if (answered) continue;
    std::string console;
    std::string body = dispatch(text, &console);
    EXPECT_EQ(body.size(), 100u) << text;
    EXPECT_EQ(console, "ERROR - Unknown request '" + std::string(text) + "'\n");
  }
}

TEST_F(DispatcherTest, StopCommandRepliesTextThenShutsDown) {
  int shutdowns = 0;
  rt.shutdown = [&] { ++shutdowns; };
  std::string body = dispatch("CMD veltrisv stop");
  ASSERT_EQ(body.size(), 4100u);
  EXPECT_EQ(body.substr(0, 4), "TXT4");
  EXPECT_STREQ(body.c_str() + 4, "Tapsor Service terminating");
  EXPECT_EQ(shutdowns, 1);
}

TEST_F(DispatcherTest, TextReplyIsAlways4100Bytes) {
  std::string body = "old";
  setTextReply(body, "line\r\n");
  ASSERT_EQ(body.size(), 4100u);
  EXPECT_EQ(body.substr(0, 10), std::string("TXT4line\r\n"));
  setTextReply(body, std::string(5000, 'x'));
  ASSERT_EQ(body.size(), 4100u);
  EXPECT_EQ(std::strlen(body.c_str() + 4), 4095u);
}

TEST_F(DispatcherTest, RepliesThatKeepOrReplaceTheTotalsRecord) {
  NicArea& nic = addAdapter("eth0");
  addPartner(nic, "020000000001", "IP 10.0.0.1", 3);
  TptRecord r{};
  std::memcpy(r.tag, "TPT ", 4);
  r.time = utc(1999, 10, 14, 1, 0);
  appendFile("19991014.TPT", &r, sizeof r);

  std::string body = dispatch("STATS_PRO 0");
  ASSERT_EQ(body.size(), 100u + 124u);
  EXPECT_EQ(body.substr(100, 4), "STAT");
  EXPECT_EQ(dispatch("STATS_PRO 3").size(), 100u);

  body = dispatch("HISTORY_LIST");
  EXPECT_EQ(body.substr(100), "HIST19991014");

  body = dispatch("TPT 19991014");
  ASSERT_EQ(body.size(), 40u);
  EXPECT_EQ(u32At(body, 4), 6u);
  EXPECT_EQ(dispatch("TPT 19991015").size(), 40u);  // today: the running period only
  EXPECT_EQ(dispatch("TPT 19991013").size(), 0u);

  body = dispatch("TPS 19991015trailing");  // only 8 bytes name the day
  EXPECT_EQ(body.size(), 124u);
  EXPECT_EQ(dispatch("TPS 1999").size(), 0u);
}

TEST_F(DispatcherTest, DetailAndBroadcastWordsReachTheirBuilders) {
  addAdapter("eth0");
  std::string console;
  EXPECT_EQ(dispatch("DETAILS 0", &console).size(), 100u);  // no frames yet: the totals record
  EXPECT_EQ(dispatch("ERRORS 0", &console).size(), 100u);
  EXPECT_EQ(console, "");
  for (const char* text : {"BCASTSENT HIGH", "BCASTSENT LOW", "BCASTSENT", "BCASTERS HIGH", "BCASTERS LOW"}) {
    std::string body = dispatch(text, &console);
    EXPECT_EQ(body.substr(0, 4), "BHDR") << text;  // replaces the totals record
    EXPECT_EQ(console, "") << text;
  }
}

TEST_F(DispatcherTest, RequestsOfFull256BytesAreReadWithinTheBuffer) {
  uint8_t raw[kRequestSize];
  std::memset(raw, 'A', sizeof raw);
  std::memcpy(raw, "TPT ", 4);
  std::string body;
  dispatchRequest(rt, Request(raw), body);
  EXPECT_TRUE(body.empty());
  std::memset(raw, '9', sizeof raw);
  std::memcpy(raw, "STATS_PRO ", 10);
  body.clear();
  dispatchRequest(rt, Request(raw), body);
  EXPECT_EQ(body.size(), 100u);
}

TEST_F(DispatcherTest, AdapterStatusRecordPerAdapter) {
  addAdapter("eth0");
  addAdapter("wlan0");
  std::string body = dispatch("OID");
  ASSERT_EQ(body.size(), 2 * 744u);
  EXPECT_EQ(body.substr(0, 4), "OID ");
  EXPECT_EQ(u32At(body, 4), 1u);
  EXPECT_STREQ(body.c_str() + 8, "eth0");
  EXPECT_EQ(body.substr(744, 4), "OID ");
  EXPECT_EQ(u32At(body, 748), 2u);
  EXPECT_STREQ(body.c_str() + 744 + 8, "wlan0");

  rt.global.adapterCount = 0;
  rt.global.nics[0].reset();
  rt.global.nics[1].reset();
  EXPECT_EQ(dispatch("OID").size(), 0u);
}

TEST_F(DispatcherTest, OpenRelabelsOwnAddressesWithoutConfigurationReport) {
  NicArea& nic = addAdapter("eth0");
  nic.addresses.own[0] = inet_addr("10.0.0.5");
  Partner& own = addPartner(nic, "020000000005", "IP 10.0.0.5", 1);
  const uint8_t ownIp[4] = {10, 0, 0, 5};
  std::memcpy(own.record.ipv4, ownIp, 4);
  Partner& other = addPartner(nic, "020000000006", "IP 10.0.0.6", 1);
  const uint8_t otherIp[4] = {10, 0, 0, 6};
  std::memcpy(other.record.ipv4, otherIp, 4);
  rt.global.totals.sequence = 500;

  std::string body = dispatch("OPEN abc");
  EXPECT_EQ(body.size(), 100u);
  EXPECT_STREQ(own.record.roleLabel, "Self");
  EXPECT_EQ(own.record.changeStamp.get(), 500u);
  EXPECT_STREQ(other.record.roleLabel, "");
  EXPECT_EQ(other.record.changeStamp.get(), 1u);
  // The next "STATS_PRO" with the last sequence number returns the relabelled entry.
  EXPECT_EQ(dispatch("STATS_PRO 499").size(), 100u + 124u);
}

TEST_F(DispatcherTest, OpenRunsTheRoleLabelsHookWhenSet) {
  NicArea& nic = addAdapter("eth0");
  nic.addresses.own[0] = inet_addr("10.0.0.5");
  Partner& own = addPartner(nic, "020000000005", "IP 10.0.0.5", 1);
  const uint8_t ownIp[4] = {10, 0, 0, 5};
  std::memcpy(own.record.ipv4, ownIp, 4);
  int refreshes = 0;
  rt.refreshRoleLabels = [&] { ++refreshes; };
  dispatch("OPEN");
  EXPECT_EQ(refreshes, 1);
  EXPECT_STREQ(own.record.roleLabel, "");  // the hook owns the labels
  dispatch("TOTAL");
  EXPECT_EQ(refreshes, 1);
}

}  // namespace
}  // namespace veltris::agent
