#include "agent/diagnostics/external_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "agent/requests/dispatcher.h"
#include "tests/support/agent_fixture.h"
#include "tests/support/process_watch.h"

namespace veltris::agent {
namespace {

// ---- Line ends and the cut ------------------------------------------------------------

std::string collected(const std::vector<std::string>& reads, size_t capacity, size_t* length = nullptr) {
  std::vector<char> area(capacity + 1, 'Z');  // one guard byte behind the area
  CommandOutputText text(area.data(), capacity);
  for (const std::string& read : reads) text.addRead(read.data(), read.size());
  EXPECT_EQ(area[capacity], 'Z');
  if (length) *length = text.length();
  return capacity > 0 ? std::string(area.data()) : std::string();
}

TEST(CommandOutputTextTest, LineFeedsGetACarriageReturnWithinOneRead) {
  EXPECT_EQ(collected({"a\nb\n"}, 100), "a\r\nb\r\n");
  EXPECT_EQ(collected({"a\r\nb\r\n"}, 100), "a\r\nb\r\n");  // already CR LF: unchanged
  EXPECT_EQ(collected({"\n\n"}, 100), "\r\n\r\n");
  EXPECT_EQ(collected({"a\r\r\n"}, 100), "a\r\r\n");
}

TEST(CommandOutputTextTest, LineFeedStartingAReadGetsACarriageReturnEvenAfterOne) {
  EXPECT_EQ(collected({"one\r", "\ntwo"}, 100), "one\r\r\ntwo");
  EXPECT_EQ(collected({"one", "\n"}, 100), "one\r\n");
}

TEST(CommandOutputTextTest, TextIsCutAtCapacityLessOneAndStaysTerminated) {
  size_t length = 0;
  EXPECT_EQ(collected({"abcdef", "ghij"}, 5, &length), "abcd");
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(collected({"abc\n"}, 5, &length), "abc\r");  // the inserted CR counts too
  EXPECT_EQ(collected({"x"}, 1, &length), "");
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(collected({"x"}, 0, &length), "");
  std::vector<char> area(8, 'Q');
  CommandOutputText cleared(area.data(), area.size());
  EXPECT_EQ(std::string(area.begin(), area.end()), std::string(8, '\0'));  // cleared first
}

// ---- Through TapsorCC -----------------------------------------------------------------------

std::string runProgram(const std::vector<std::string>& program, size_t capacity = kTextAreaSize, size_t* length = nullptr) {
  std::vector<char> area(capacity, 'Q');
  const size_t written = runThroughCommandRunner(program, area.data(), capacity);
  if (length) *length = written;
  EXPECT_EQ(written, std::strlen(area.data()));
  return std::string(area.data());
}

TEST(CommandRunnerTest, TapsorccIsFoundInTheBuildTree) {
  const std::filesystem::path runner = commandRunnerPath();
  ASSERT_FALSE(runner.empty());
  EXPECT_EQ(runner.filename(), "TapsorCC");
}

TEST(CommandRunnerTest, OutputArrivesWithCrLfLineEnds) {
  EXPECT_EQ(runProgram({"printf", "first\\nsecond\\r\\nthird\\n"}), "first\r\nsecond\r\nthird\r\n");
  EXPECT_EQ(runProgram({"ls", "/veltris-no-such-file"}).find("veltris-no-such-file") != std::string::npos, true);
}

TEST(CommandRunnerTest, UnstartableCommandGivesTheRunnersNote) {
  EXPECT_EQ(runProgram({"veltris-no-such-program", "x"}), "NOTE: CreateProcess FAILED for 'veltris-no-such-program x'\r\n");
}

TEST(CommandRunnerTest, LongOutputIsCutButReadToTheEnd) {
  runner::testing::ScratchDir dir;
  // About 290 KB, far more than a pipe holds: the marker appears only when all was read.
  const std::string script = dir.file("long.sh", "#!/bin/sh\nseq 1 50000\ntouch \"$1\"\n");
  const std::string marker = dir.path() + "/done";
  size_t length = 0;
  const std::string text = runProgram({script, marker}, kTextAreaSize, &length);
  EXPECT_EQ(length, kTextAreaSize - 1);
  EXPECT_EQ(text.substr(0, 9), "1\r\n2\r\n3\r\n");
  EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(CommandRunnerTest, SeveralRunsAtOnceKeepTheirOwnOutput) {
  std::vector<std::string> texts(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < texts.size(); ++i) {
    threads.emplace_back([&texts, i] {
      std::vector<char> area(kTextAreaSize);
      runThroughCommandRunner({"seq", std::to_string(i * 100), std::to_string(i * 100 + 50)}, area.data(), area.size());
      texts[i] = area.data();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i].substr(0, texts[i].find('\r')), std::to_string(i * 100));
    EXPECT_EQ(std::count(texts[i].begin(), texts[i].end(), '\n'), 51);
  }
}

// ---- Permitted and refused commands ----------------------------------------------------------

TEST(ExternalCommandTest, RefusedCommandsRunNothingAndSaySo) {
  runner::testing::ScratchDir dir;
  const std::string victim = dir.file("somefile", "keep");
  for (const std::string& text : {"rm -rf " + victim, "PING 127.0.0.1;rm " + victim, "PING $(rm " + victim + ")"}) {
    char area[kTextAreaSize];
    const size_t written = runExternalCommand(text.c_str(), area, sizeof area);
    EXPECT_EQ(std::string(area).substr(0, 25 + text.size()), "Command not permitted: '" + text + "'") << text;
    EXPECT_EQ(written, std::strlen(area));
    EXPECT_FALSE(isPermittedCommand(text.c_str()));
  }
  EXPECT_TRUE(std::filesystem::exists(victim));
  char small[30];
  EXPECT_EQ(runExternalCommand("FORMAT C:", small, sizeof small), 29u);
  EXPECT_STREQ(small, "Command not permitted: 'FORMA");
  EXPECT_FALSE(isPermittedCommand(nullptr));
  EXPECT_TRUE(isPermittedCommand("ping 127.0.0.1"));
  EXPECT_TRUE(isPermittedCommand("IPCONFIG -all"));
}

TEST(ExternalCommandTest, IpconfigAllGivesCrLfLines) {
  char area[kTextAreaSize];
  const size_t written = runExternalCommand("IPCONFIG -all", area, sizeof area);
  const std::string text(area, written);
  ASSERT_GT(written, 0u);
  EXPECT_NE(text.find("lo"), std::string::npos);  // the loopback interface is always there
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    ASSERT_GT(at, 0u);
    EXPECT_EQ(text[at - 1], '\r') << "at " << at;
  }
}

// ---- Through the dispatcher ---------------------------------------------------------------------

class CommandRequestTest : public ::testing::Test, public testing::AgentFixture {
 protected:
  std::string dispatchText(std::string_view request) {
    std::string body;
    dispatchRequest(rt, Request(request), body);
    EXPECT_EQ(body.size(), sizeof(TextReply)) << request;
    EXPECT_EQ(body.substr(0, 4), "TXT4") << request;
    return body.size() > 4 ? std::string(body.c_str() + 4) : std::string();
  }
};

TEST_F(CommandRequestTest, PingOfLoopbackGivesPingOutput) {
  if (::geteuid() != 0) GTEST_SKIP() << "ping needs a raw or ICMP socket";
  const std::string text = dispatchText("CMD PING 127.0.0.1");
  EXPECT_EQ(text.substr(0, 15), "PING 127.0.0.1 ");
  EXPECT_NE(text.find("4 packets transmitted, 4 received"), std::string::npos) << text;
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST_F(CommandRequestTest, OtherCommandsAreRunOrRefused) {
  EXPECT_NE(dispatchText("CMD route print").find("\r\n"), std::string::npos);
  EXPECT_EQ(dispatchText("CMD rm -rf somefile").substr(0, 40), "Command not permitted: 'rm -rf somefile'");
  EXPECT_EQ(dispatchText("CMD PING WINS;id").substr(0, 39), "Command not permitted: 'PING WINS;id'\r\n");
}

TEST_F(CommandRequestTest, CfgGivesTheAdaptersReport) {
  const std::string text = dispatchText("CFG ");
  EXPECT_EQ(text.substr(0, 28), "INSTALLED NETWORK ADAPTERS\r\n");
  // The running system's cards, whatever the (scratch) system root holds.
  EXPECT_NE(text.find("  Platform    : Linux "), std::string::npos) << text;
  bool hasCard = false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", ec))
    hasCard = hasCard || entry.path().filename() != "lo";
  if (hasCard) EXPECT_EQ(text.find("COULD NOT LOCATE"), std::string::npos) << text;
}

}  // namespace
}  // namespace veltris::agent
