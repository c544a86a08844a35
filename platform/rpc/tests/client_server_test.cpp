// Our client against our server over TCP loopback and local sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/rpc/client.h"
#include "platform/rpc/server.h"
#include "platform/rpc/tests/rpc_test_support.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
namespace op = testing::test_op;

constexpr auto kCallTimeout = 30s;

struct ServerEndpoints {
  std::string tcp;
  std::string local;
};

class ClientServerTest : public ::testing::Test {
 protected:
  ServerEndpoints start(Limits limits = {}, Interface iface = testing::testInterface()) {
    server_ = std::make_unique<Server>(limits);
    EXPECT_EQ(server_->registerInterface(std::move(iface)), 0u);
    ServerEndpoints endpoints;
    endpoints.tcp = "ncacn_ip_tcp:127.0.0.1[" + server_->openEndpoint("ncacn_ip_tcp", "", 3).endpoint + "]";
    endpoints.local = "ncalrpc:[" + server_->openEndpoint("ncalrpc", "", 3).endpoint + "]";
    EXPECT_EQ(server_->listen(1234), 0u);
    return endpoints;
  }

  static uint32_t echo(Client& client, const Bytes& in, Bytes& out) {
    return client.call(op::kEcho, in, out, kCallTimeout);
  }

  testing::TempRoot root_;
  std::unique_ptr<Server> server_;
};

TEST_F(ClientServerTest, EchoOverTcpAndLocal) {
  ServerEndpoints endpoints = start();
  for (const std::string& binding : {endpoints.tcp, endpoints.local}) {
    Client client;
    ASSERT_EQ(client.open(binding, testing::testInterfaceId()), 0u) << client.lastError();
    Bytes out;
    ASSERT_EQ(echo(client, {1, 2, 3}, out), 0u);
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    ASSERT_EQ(echo(client, {}, out), 0u);
    EXPECT_TRUE(out.empty());
  }
}

TEST_F(ClientServerTest, SeveralMegabytesTravelInManyFragmentsBothWays) {
  ServerEndpoints endpoints = start();
  ClientOptions options;
  options.maxXmitFrag = 4280;
  options.maxRecvFrag = 4280;
  for (const std::string& binding : {endpoints.tcp, endpoints.local}) {
    Client client(options);
    ASSERT_EQ(client.open(binding, testing::testInterfaceId()), 0u);
    EXPECT_EQ(client.receiveFragment(), 4280);
    Bytes out;
    ASSERT_EQ(client.call(op::kSized, testing::sizeStub(6u << 20), out, kCallTimeout), 0u);
    EXPECT_EQ(out, testing::pattern(6u << 20));  // about 1500 fragments
    Bytes request = testing::pattern(900 * 1024, 5);
    ASSERT_EQ(echo(client, request, out), 0u);
    EXPECT_EQ(out, request);
  }
}

TEST_F(ClientServerTest, FaultsReachTheCallerAndTheConnectionStays) {
  ServerEndpoints endpoints = start();
  Client client;
  ASSERT_EQ(client.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  Bytes out;
  EXPECT_EQ(client.call(42, {}, out, kCallTimeout), status::kProcnumOutOfRange);
  EXPECT_EQ(client.call(op::kBadStub, {}, out, kCallTimeout), status::kBadStubData);
  EXPECT_EQ(client.call(op::kThrows, {}, out, kCallTimeout), fault::kUnspecified);
  EXPECT_TRUE(client.isOpen());
  EXPECT_EQ(echo(client, {4}, out), 0u);
  EXPECT_EQ(server_->connectionCount(), 1u);
}

TEST_F(ClientServerTest, OversizedRequestEndsOnlyThatConnection) {
  ServerEndpoints endpoints = start();
  Client big;
  Client bystander;
  ASSERT_EQ(big.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  ASSERT_EQ(bystander.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  Bytes out;
  EXPECT_EQ(echo(big, Bytes((1u << 20) + 1, 0), out), status::kOutOfMemory);
  EXPECT_EQ(echo(bystander, {1}, out), 0u);
  // The refused client opens a new connection for its next call.
  EXPECT_EQ(echo(big, {2}, out), 0u);
  EXPECT_EQ(out, Bytes{2});
}

TEST_F(ClientServerTest, BindToUnknownInterfaceOrUnsupportedProtseqFails) {
  ServerEndpoints endpoints = start();
  Client client;
  EXPECT_EQ(client.open(endpoints.tcp, syntaxId("11111111-2222-3333-4444-555555555555", 1, 0)),
            status::kUnknownIf);
  EXPECT_EQ(client.open(endpoints.tcp, {testing::testInterfaceId().uuid, 1, 3}),
            status::kUnknownIf);
  EXPECT_EQ(client.open("ncacn_spx:~00000001[5000]", testing::testInterfaceId()),
            status::kProtseqNotSupported);
  EXPECT_EQ(server_->useProtseq("ncacn_nb_nb", 3), status::kProtseqNotSupported);
  EXPECT_EQ(server_->useProtseq("ncacn_spx", 3), status::kProtseqNotSupported);
  EXPECT_EQ(client.open("ncalrpc:[NOSUCHENDPOINT]", testing::testInterfaceId()),
            status::kServerUnavailable);
}

TEST_F(ClientServerTest, StopListeningEndsIdleConnectionsAtOnce) {
  ServerEndpoints endpoints = start();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_EQ(clients.back()->open(i % 2 ? endpoints.tcp : endpoints.local,
                                   testing::testInterfaceId()),
              0u);
  }
  std::thread waiter([&] { server_->waitForStop(); });
  EXPECT_EQ(server_->stopListening(), 0u);
  waiter.join();
  EXPECT_FALSE(server_->isListening());
  EXPECT_EQ(server_->connectionCount(), 0u);
  Bytes out;
  EXPECT_EQ(echo(*clients[0], {1}, out), status::kServerUnavailable);
  EXPECT_EQ(server_->stopListening(), status::kNotListening);
}

TEST_F(ClientServerTest, StopFromInsideAHandlerStillSendsTheReply) {
  Interface iface = testing::testInterface();
  Server* server = nullptr;
  iface.operations.push_back({9, "stop",
                              [&server](const CallContext&, std::span<const uint8_t>,
                                        std::vector<uint8_t>& out) {
                                server->stopListening();
                                out = {0x55};
                                return 0u;
                              }});
  ServerEndpoints endpoints = start({}, std::move(iface));
  server = server_.get();
  Client idle;
  ASSERT_EQ(idle.open(endpoints.local, testing::testInterfaceId()), 0u);
  Client client;
  ASSERT_EQ(client.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  Bytes out;
  EXPECT_EQ(client.call(9, {}, out, kCallTimeout), 0u);
  EXPECT_EQ(out, Bytes{0x55});
  server_->waitForStop();
  EXPECT_FALSE(server_->isListening());
}

TEST_F(ClientServerTest, IdleConnectionsTimeOutAndTheClientReconnects) {
  Limits limits;
  limits.idleTimeout = 100ms;
  ServerEndpoints endpoints = start(limits);
  Client client;
  ASSERT_EQ(client.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  for (int i = 0; i < 200 && server_->connectionCount() != 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server_->connectionCount(), 0u);
  Bytes out;
  EXPECT_EQ(echo(client, {3}, out), 0u);
  EXPECT_EQ(out, Bytes{3});
}

TEST_F(ClientServerTest, CallsBeyondTheConcurrencyLimitAreTooBusy) {
  std::mutex mutex;
  std::condition_variable cv;
  bool entered = false;
  bool release = false;
  Interface iface = testing::testInterface();
  iface.operations.push_back({8, "block",
                              [&](const CallContext&, std::span<const uint8_t>,
                                  std::vector<uint8_t>&) {
                                std::unique_lock lock(mutex);
                                entered = true;
                                cv.notify_all();
                                cv.wait(lock, [&] { return release; });
                                return 0u;
                              }});
  Limits limits;
  limits.maxConcurrentCalls = 1;
  ServerEndpoints endpoints = start(limits, std::move(iface));
  Client first;
  Client second;
  ASSERT_EQ(first.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  ASSERT_EQ(second.open(endpoints.tcp, testing::testInterfaceId()), 0u);
  std::atomic<uint32_t> firstStatus{99};
  std::thread blocked([&] {
    Bytes out;
    firstStatus = first.call(8, {}, out, kCallTimeout);
  });
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return entered; });
  }
  Bytes out;
  EXPECT_EQ(echo(second, {1}, out), status::kServerTooBusy);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  blocked.join();
  EXPECT_EQ(firstStatus, 0u);
  EXPECT_EQ(echo(second, {1}, out), 0u);
}

}  // namespace
}  // namespace veltris::rpc
