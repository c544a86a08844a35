#include "agent/requests/request_handler.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "agent/requests/dispatcher.h"
#include "agent/requests/request_service.h"
#include "tests/support/agent_fixture.h"
#include "tests/support/console_capture.h"

namespace veltris::agent {
namespace {

using testing::AgentFixture;
using testing::hexBytes;
using testing::u32At;
using testing::utc;

struct Key {
  uint8_t bytes[kAccessKeySize] = {};
  explicit Key(std::string_view text) { std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes)); }
};

struct RequestBuffer {
  uint8_t bytes[kRequestSize] = {};
  explicit RequestBuffer(std::string_view text) { std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes)); }
};

class RequestHandlerTest : public ::testing::Test, public AgentFixture {
 protected:
  RequestHandlerTest() {
    clock.time = utc(1999, 4, 15, 9, 5, 3);
    setAgentKey("Secret1");
  }

  void setAgentKey(std::string_view text) {
    Key key(text);
    std::lock_guard lock(rt.global.labelMutex);
    std::memcpy(rt.global.accessKey, key.bytes, kAccessKeySize);
  }

  RequestHandlerOptions options() {
    RequestHandlerOptions o;
    o.reloadAccessParameters = [this](GlobalArea&) {
      ++reloads;
      if (!registryKey.empty()) setAgentKey(registryKey);
    };
    o.securityLog = [this](const std::string& line) { log.push_back(line); };
    o.throttle.maxFailures = 3;
    o.throttle.windowSeconds = 60;
    o.throttle.lockoutSeconds = 30;
    return o;
  }

  int32_t call(RequestHandler& handler, std::string_view key, std::string_view text, std::string_view peer = {}) {
    reply.assign({0xEE});  // must stay as it is on -2
    nullReply = false;
    return handler.handle(Key(key).bytes, RequestBuffer(text).bytes, reply, nullReply, peer);
  }

  std::string replyText() const { return std::string(reply.begin(), reply.end()); }

  int reloads = 0;
  std::string registryKey;
  std::vector<std::string> log;
  std::vector<uint8_t> reply;
  bool nullReply = false;
};

// ---- Header -------------------------------------------------------------------

TEST_F(RequestHandlerTest, HeaderCarriesVersionLocalDateTimeAndTrafficState) {
  rt.global.trafficState = 7;
  RequestHandler handler(rt, options());
  ASSERT_EQ(call(handler, "Secret1", "TOTAL"), kRequestDelivered);
  EXPECT_FALSE(nullReply);
  ASSERT_EQ(reply.size(), 32u + 100u);
  std::string bytes = replyText();
  EXPECT_EQ(bytes.substr(0, 32), "TASK19990415" "19990415" "09:05:03" + hexBytes("07000000"));
  EXPECT_EQ(bytes.substr(32, 4), "TOT ");
}

TEST_F(RequestHandlerTest, HeaderBeforeTheFirstTrafficEvaluation) {
  uint8_t header[32];
  writeReplyHeader(header, utc(2024, 12, 31, 23, 59, 59), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 32),
            "TASK19990415" "20241231" "23:59:59" + hexBytes("00000000"));
}

TEST_F(RequestHandlerTest, ReplacingRepliesFollowTheHeaderDirectly) {
  rt.shutdown = [] {};
  RequestHandler handler(rt, options());
  ASSERT_EQ(call(handler, "Secret1", "CMD VELTRISV STOP"), kRequestDelivered);
  ASSERT_EQ(reply.size(), 32u + 4100u);
  EXPECT_EQ(replyText().substr(32, 4), "TXT4");
  ASSERT_EQ(call(handler, "Secret1", "TPT 19990101"), kRequestDelivered);
  EXPECT_EQ(reply.size(), 32u);  // no records: the header alone
}

// ---- Access key ------------------------------------------------------------------

TEST_F(RequestHandlerTest, KeyComparisonIgnoresCaseOfLettersOnly) {
  EXPECT_TRUE(accessKeyMatches(Key("Secret1").bytes, Key("sECRET1").bytes));
  EXPECT_TRUE(accessKeyMatches(Key("ABCDEFGHIJKLMNOP").bytes, Key("abcdefghijklmnop").bytes));
  EXPECT_FALSE(accessKeyMatches(Key("Secret1").bytes, Key("Secret2").bytes));
  EXPECT_FALSE(accessKeyMatches(Key("[").bytes, Key("{").bytes));  // 0x20 apart, not letters
  EXPECT_FALSE(accessKeyMatches(Key("@").bytes, Key("`").bytes));
  // Bytes behind a zero byte count too.
  Key withTail("Secret1");
  withTail.bytes[15] = 'x';
  EXPECT_FALSE(accessKeyMatches(withTail.bytes, Key("Secret1").bytes));
  EXPECT_FALSE(accessKeyMatches(Key("").bytes, Key("Secret1").bytes));
}

TEST_F(RequestHandlerTest, WrongKeyGivesMinusTwoWithoutReplyOrDispatch) {
  RequestHandler handler(rt, options());
  veltris::agent::testing::ConsoleCapture captured;
  int32_t status = call(handler, "Secret2", "bogus request");
  std::string console = captured.take();
  EXPECT_EQ(status, kKeyMismatch);
  EXPECT_TRUE(nullReply);
  EXPECT_EQ(reply, std::vector<uint8_t>{0xEE});
  EXPECT_EQ(console, "");  // nothing printed, not even the unknown request
  EXPECT_EQ(call(handler, "SECRET1", "TOTAL"), kRequestDelivered);
}

TEST_F(RequestHandlerTest, OpenReReadsTheKeyBeforeComparing) {
  RequestHandler handler(rt, options());
  registryKey = "NewKey";
  EXPECT_EQ(call(handler, "NewKey", "TOTAL"), kKeyMismatch);  // no re-read for other words
  EXPECT_EQ(reloads, 0);
  EXPECT_EQ(call(handler, "NewKey", "open newkey"), kRequestDelivered);  // "OPEN " ignoring case
  EXPECT_EQ(reloads, 1);
  EXPECT_EQ(call(handler, "NewKey", "TOTAL"), kRequestDelivered);
  call(handler, "NewKey", "OPENX");
  EXPECT_EQ(reloads, 1);
}

TEST_F(RequestHandlerTest, RequestWithoutTerminatorIsReadAs256Bytes) {
  RequestHandler handler(rt, options());
  std::string text = "TOTAL" + std::string(251, 'X');
  ASSERT_EQ(call(handler, "Secret1", text), kRequestDelivered);
  EXPECT_EQ(reply.size(), 132u);
  veltris::agent::testing::ConsoleCapture captured;
  ASSERT_EQ(call(handler, "Secret1", std::string(256, 'q')), kRequestDelivered);
  std::string console = captured.take();
  EXPECT_EQ(reply.size(), 132u);
  EXPECT_EQ(console, "ERROR - Unknown request '" + std::string(256, 'q') + "'\n");
}

TEST_F(RequestHandlerTest, OwnRequestsAndTheRpcHookShape) {
  RequestHandler handler(rt, options());
  std::vector<uint8_t> own;
  EXPECT_EQ(handler.handleOwn("TOTAL", own), kRequestDelivered);
  EXPECT_EQ(own.size(), 132u);

  RequestHook hook = handler.hook();
  bool null = false;
  std::vector<uint8_t> out;
  EXPECT_EQ(hook(Key("secret1").bytes, RequestBuffer("TOTAL").bytes, out, null), kRequestDelivered);
  EXPECT_EQ(out.size(), 132u);
  EXPECT_EQ(hook(Key("nope").bytes, RequestBuffer("TOTAL").bytes, out, null), kKeyMismatch);
  EXPECT_TRUE(null);
}

// ---- Wrong-key throttle ---------------------------------------------------------------

TEST_F(RequestHandlerTest, RepeatedWrongKeysLockThePeerOutForAWhile) {
  RequestHandler handler(rt, options());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call(handler, "guess", "TOTAL", "10.0.0.9"), kKeyMismatch);
  // Locked out: even the right key is refused, other peers are served.
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.0.0.9"), kKeyMismatch);
  EXPECT_TRUE(nullReply);
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.0.0.8"), kRequestDelivered);
  clock.time += 29;
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.0.0.9"), kKeyMismatch);
  clock.time += 1;
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.0.0.9"), kRequestDelivered);

  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], "RequestRpc: wrong access key from 10.0.0.9 (1 within 60 s)");
  EXPECT_EQ(log[2], "RequestRpc: wrong access key from 10.0.0.9 (3 within 60 s)");
  EXPECT_EQ(log[3], "RequestRpc: requests from 10.0.0.9 refused for 30 s after 3 wrong access keys");
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("guess"), std::string::npos);
    EXPECT_EQ(line.find("Secret1"), std::string::npos);
  }
}

TEST_F(RequestHandlerTest, ALockedOutPeerMakesNoRegistryRead) {
  RequestHandler handler(rt, options());
  for (int i = 0; i < 3; ++i) call(handler, "guess", "OPEN x", "10.0.0.9");
  EXPECT_EQ(reloads, 3);  // each OPEN before the lock-out asked for a read (the watch decides)
  for (int i = 0; i < 10; ++i) EXPECT_EQ(call(handler, "guess", "OPEN x", "10.0.0.9"), kKeyMismatch);
  EXPECT_EQ(reloads, 3);
}

TEST_F(RequestHandlerTest, FailuresOutsideTheWindowDoNotAddUp) {
  RequestHandler handler(rt, options());
  call(handler, "guess", "TOTAL", "10.0.0.9");
  call(handler, "guess", "TOTAL", "10.0.0.9");
  clock.time += 60;
  call(handler, "guess", "TOTAL", "10.0.0.9");
  call(handler, "guess", "TOTAL", "10.0.0.9");
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.0.0.9"), kRequestDelivered);
  // A good key clears the count.
  call(handler, "guess", "TOTAL", "10.0.0.9");
  call(handler, "guess", "TOTAL", "10.0.0.9");
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.0.0.9"), kRequestDelivered);
}

TEST_F(RequestHandlerTest, PeerNamesAreBoundedAndPrintableInTheLog) {
  RequestHandler handler(rt, options());
  call(handler, "guess", "TOTAL", std::string("evil\n\x1b[31m", 10) + std::string(200, 'p'));
  call(handler, "guess", "TOTAL");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].find('\n'), std::string::npos);
  EXPECT_EQ(log[0].find('\x1b'), std::string::npos);
  EXPECT_LT(log[0].size(), 140u);
  EXPECT_EQ(log[1], "RequestRpc: wrong access key from local (1 within 60 s)");
}

TEST_F(RequestHandlerTest, SecurityLinesGoToTheConsoleInTheForegroundAndToStandardErrorWithoutSyslog) {
  RequestHandlerOptions o = options();
  o.securityLog = nullptr;
  const std::string line = "RequestRpc: wrong access key from 10.1.1.1 (1 within 60 s)";
  rt.debug = true;
  {
    RequestHandler handler(rt, o);
    veltris::agent::testing::ConsoleCapture console1;
    call(handler, "guess", "TOTAL", "10.1.1.1");
    EXPECT_EQ(console1.take(), line + "\n");
  }
  struct stat info {};
  if (::stat("/dev/log", &info) == 0) GTEST_SKIP() << "a syslog daemon listens here";
  rt.debug = false;
  RequestHandler service(rt, o);
  ::testing::internal::CaptureStderr();
  call(service, "guess", "TOTAL", "10.1.1.1");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "TapsorSv: " + line + "\n");
}

TEST(KeyThrottleTest, RemembersABoundedNumberOfPeers) {
  std::vector<std::string> log;
  KeyThrottle throttle({.maxFailures = 2, .windowSeconds = 60, .lockoutSeconds = 100, .maxPeers = 4},
                       [&](const std::string& line) { log.push_back(line); });
  uint32_t now = 1000;
  throttle.noteFailure("locked", now);
  throttle.noteFailure("locked", now);
  EXPECT_TRUE(throttle.refused("locked", now));
  // Many other peers, one failure each, long after their windows: the stale ones go first.
  for (int i = 0; i < 50; ++i) {
    throttle.noteFailure("peer" + std::to_string(i), now + 61 + static_cast<uint32_t>(i) * 61);
    EXPECT_LE(throttle.peerCount(), 4u);
  }
  // Many peers at the same moment: the oldest makes room.
  for (int i = 0; i < 50; ++i) throttle.noteFailure("burst" + std::to_string(i), now + 5000);
  EXPECT_EQ(throttle.peerCount(), 4u);
  EXPECT_EQ(log.size(), 103u);  // two failures and the lock-out, then one per peer
  EXPECT_FALSE(throttle.refused("peer0", now + 99));
  EXPECT_FALSE(throttle.refused("other", now + 1));
  throttle.noteSuccess("locked", now + 1);
  EXPECT_FALSE(throttle.refused("locked", now + 1));
}

TEST(KeyThrottleTest, ALockedOutPeerIsNeverTheOneForgotten) {
  KeyThrottle throttle({.maxFailures = 5, .windowSeconds = 60, .lockoutSeconds = 60, .maxPeers = 256},
                       [](const std::string&) {});
  const uint32_t now = 5000;
  for (int i = 0; i < 5; ++i) throttle.noteFailure("192.0.2.1", now);
  ASSERT_TRUE(throttle.refused("192.0.2.1", now));
  for (int i = 0; i < 600; ++i) throttle.noteFailure("198.51.100." + std::to_string(i), now + 1);
  EXPECT_TRUE(throttle.refused("192.0.2.1", now + 2));
  EXPECT_LE(throttle.peerCount(), 256u);
}

TEST(KeyThrottleTest, NetworkKeysShareABudgetPerSecondLocalUsersAndProvenPeersDoNot) {
  std::vector<std::string> log;
  KeyThrottle throttle({.maxFailures = 5, .networkKeysPerSecond = 20}, [&](const std::string& line) { log.push_back(line); });
  const uint32_t now = 7000;
  throttle.noteSuccess("203.0.113.7", now);  // a console that knows the key
  int looked = 0;
  for (int i = 0; i < 100; ++i) looked += !throttle.refused("10.9.0." + std::to_string(i), now);  // rotating addresses
  EXPECT_EQ(looked, 20);
  EXPECT_FALSE(throttle.refused("203.0.113.7", now));
  EXPECT_FALSE(throttle.refused("uid:1000", now));
  EXPECT_FALSE(throttle.refused("local", now));
  EXPECT_FALSE(throttle.refused("10.9.1.1", now + 1));  // a new second
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "RequestRpc: 10.9.1.1 and others: 80 access keys refused unseen beyond 20 a second");
}

// The handler as the agent makes it, with the default budget: 20 network keys
// are looked at in one second, the 21st is refused unseen, the next second has room.
TEST_F(RequestHandlerTest, TheDefaultBudgetRefusesTheTwentyFirstNetworkKeyInASecond) {
  RequestHandlerOptions defaults = options();
  defaults.throttle = KeyThrottlePolicy{};
  RequestHandler handler(rt, defaults);
  for (int i = 0; i < 19; ++i) EXPECT_EQ(call(handler, "guess", "TOTAL", "10.8.0." + std::to_string(i)), kKeyMismatch);
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.8.0.99"), kRequestDelivered);  // the 20th is looked at
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.8.1.1"), kKeyMismatch);       // the 21st, right or not, is not
  clock.time += 1;
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "10.8.1.1"), kRequestDelivered);
}

TEST_F(RequestHandlerTest, LocalUsersAreThrottledEachOnTheirOwn) {
  RequestHandler handler(rt, options());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call(handler, "guess", "TOTAL", "uid:1000"), kKeyMismatch);
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "uid:1000"), kKeyMismatch);  // locked out
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "uid:1001"), kRequestDelivered);
  EXPECT_EQ(call(handler, "Secret1", "TOTAL", "uid:0"), kRequestDelivered);
  EXPECT_EQ(log.back(), "RequestRpc: requests from uid:1000 refused for 30 s after 3 wrong access keys");
}

}  // namespace
}  // namespace veltris::agent

namespace veltris::agent {
namespace {

// The RPC trace stays readable under a flood: a budget a second, then a count.
TEST(TraceBudget, FloodIsSummedUpInTheNextSecond) {
  TraceBudget budget;
  for (int i = 0; i < TraceBudget::kLinesPerSecond; ++i) EXPECT_EQ(budget.admit("closed", 100), "closed");
  EXPECT_EQ(budget.admit("closed", 100), "");
  EXPECT_EQ(budget.admit("closed", 100), "");
  EXPECT_EQ(budget.admit("closed", 101), "closed (2 more not shown)");
  EXPECT_EQ(budget.admit("closed", 101), "closed");
}

}  // namespace
}  // namespace veltris::agent
