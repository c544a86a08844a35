// Malformed, oversized and stalled PDUs from a raw socket end that connection
// only; other clients go on being served.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/rpc/client.h"
#include "platform/rpc/server.h"
#include "platform/rpc/tests/rpc_test_support.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class LimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Limits limits;
    limits.maxFragment = 8192;
    limits.receiveTimeout = 200ms;
    server_ = std::make_unique<Server>(limits);
    server_->registerInterface(testing::testInterface());
    server_->setTrace([this](std::string_view, std::string_view pdu, std::string_view reason) {
      std::lock_guard lock(traceMutex_);
      traced_.push_back(std::string(pdu) + ": " + std::string(reason));
    });
    port_ = server_->openEndpoint("ncacn_ip_tcp", "", 3).endpoint;
    ASSERT_EQ(server_->listen(10), 0u);
    ASSERT_EQ(bystander_.open(binding(), testing::testInterfaceId()), 0u);
  }

  std::string binding() const { return "ncacn_ip_tcp:127.0.0.1[" + port_ + "]"; }

  Socket rawConnection() {
    Socket socket;
    std::string error;
    uint16_t port = 0;
    parsePort(port_, port);
    EXPECT_EQ(connectTcp("127.0.0.1", port, Clock::now() + 5s, socket, error), 0u) << error;
    return socket;
  }

  // Sends bytes and returns what the server answers until it closes (or 5 s pass).
  std::vector<Bytes> exchange(const Bytes& bytes) {
    Socket socket = rawConnection();
    EXPECT_EQ(writeAll(socket.fd(), bytes, Clock::now() + 5s), IoResult::Ok);
    PduReader reader(socket.fd());
    std::vector<Bytes> answers;
    Bytes pdu;
    while (reader.next(pdu, 65535, Clock::now() + 5s, 5s) == IoResult::Ok) answers.push_back(pdu);
    return answers;
  }

  void expectBystanderServed() {
    Bytes out;
    EXPECT_EQ(bystander_.call(testing::test_op::kEcho, Bytes{1, 2}, out, 10s), 0u);
    EXPECT_EQ(out, (Bytes{1, 2}));
  }

  std::vector<std::string> traced() {
    std::lock_guard lock(traceMutex_);
    return traced_;
  }

  std::mutex traceMutex_;
  std::vector<std::string> traced_;
  testing::TempRoot root_;
  std::unique_ptr<Server> server_;
  std::string port_;
  Client bystander_;
};

TEST_F(LimitsTest, FragmentLengthBelowTheHeaderCloses) {
  Bytes pdu = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  pdu[8] = 10;
  pdu[9] = 0;
  EXPECT_TRUE(exchange(pdu).empty());
  expectBystanderServed();
}

TEST_F(LimitsTest, FragmentAboveTheLimitClosesBeforeItIsRead) {
  Bytes header = {5, 0, 0, 3, 0x10, 0, 0, 0, 0xff, 0xff, 0, 0, 1, 0, 0, 0};
  EXPECT_TRUE(exchange(header).empty());
  // After bind the negotiated size applies: 4280 here.
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax(), 4280, 4280);
  Bytes tooBig = testing::requestPdu(2, 0, Bytes(4281 - kCallHeaderSize, 0));
  bind.insert(bind.end(), tooBig.begin(), tooBig.end());
  auto answers = exchange(bind);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(decodeBindAck(answers[0]));
  expectBystanderServed();
}

TEST_F(LimitsTest, GarbageAndWrongVersionsClose) {
  EXPECT_TRUE(exchange(testing::pattern(200)).empty());
  Bytes v4 = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  v4[0] = 4;
  auto answers = exchange(v4);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(decodeBindNak(answers[0])->reason, reject_reason::kProtocolVersionNotSupported);
  expectBystanderServed();
}

TEST_F(LimitsTest, EveryConnectionTheServerEndsIsTraced) {
  Bytes v4 = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  v4[0] = 4;
  exchange(v4);
  exchange(Bytes{5, 0, 0, 3, 0x10, 0, 0, 0, 0xff, 0xff, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(traced(), (std::vector<std::string>{"bind: bind_nak sent, reason 4",
                                                ": fragment malformed or larger than agreed"}));
}

TEST_F(LimitsTest, BigEndianClientGetsBindNak) {
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  bind[4] = 0x00;
  std::swap(bind[8], bind[9]);
  auto answers = exchange(bind);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(decodeBindNak(answers[0])->reason, reject_reason::kUserDataNotReadable);
  expectBystanderServed();
}

TEST_F(LimitsTest, AStalledPduTimesOut) {
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  bind.resize(20);  // the rest never comes
  Socket socket = rawConnection();
  ASSERT_EQ(writeAll(socket.fd(), bind, Clock::now() + 5s), IoResult::Ok);
  PduReader reader(socket.fd());
  Bytes pdu;
  EXPECT_EQ(reader.next(pdu, 65535, Clock::now() + 10s, 10s), IoResult::Closed);
  expectBystanderServed();
}

TEST_F(LimitsTest, StoppingSendsShutdownToIdleConnections) {
  Socket socket = rawConnection();
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  ASSERT_EQ(writeAll(socket.fd(), bind, Clock::now() + 5s), IoResult::Ok);
  PduReader reader(socket.fd());
  Bytes pdu;
  ASSERT_EQ(reader.next(pdu, 65535, Clock::now() + 5s, 5s), IoResult::Ok);
  EXPECT_TRUE(decodeBindAck(pdu));
  EXPECT_EQ(server_->stopListening(), 0u);
  ASSERT_EQ(reader.next(pdu, 65535, Clock::now() + 5s, 5s), IoResult::Ok);
  EXPECT_EQ(decodeHeader(pdu)->type, static_cast<uint8_t>(PduType::Shutdown));
  EXPECT_EQ(reader.next(pdu, 65535, Clock::now() + 5s, 5s), IoResult::Closed);
}

}  // namespace
}  // namespace veltris::rpc
