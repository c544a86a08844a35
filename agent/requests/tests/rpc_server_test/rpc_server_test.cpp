// The ServerRPC thread: its console lines, both procedures through the
// endpoint mapper over local sockets and TCP, and stopping.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "agent/requests/rpc_server.h"
#include "agent/requests/tests/rpc_server_test/fake_agent.h"
#include "platform/rpc/client.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tapsor_interface.h"
#include "tests/support/console_capture.h"

namespace veltris::agent {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
namespace tapsor = rpc::tapsor;

constexpr auto kTimeout = 30s;

class RpcServerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vsrvXXXXXX";
    root_ = ::mkdtemp(pattern);
    ::setenv("VELTRIS_ROOT", root_.c_str(), 1);
    ::setenv("VELTRIS_EPM_PORT", "0", 1);
  }
  void TearDown() override {
    thread_.stop();
    ::unsetenv("VELTRIS_EPM_PORT");
    ::unsetenv("VELTRIS_ROOT");
    std::filesystem::remove_all(root_);
  }

  void startServer(std::function<void()> onStop = {}) {
    thread_.start(testing::fakeAgentHooks(std::move(onStop)));
    ASSERT_TRUE(thread_.waitUntilListening(10s));
    ASSERT_NE(thread_.endpointMapperPort(), 0);
    ::setenv("VELTRIS_EPM_PORT", std::to_string(thread_.endpointMapperPort()).c_str(), 1);
  }

  static uint32_t request(rpc::Client& client, const std::string& key, const std::string& text,
                          tapsor::RequestRpcOut& out) {
    tapsor::RequestRpcIn in{testing::keyBytes(key), testing::requestBytes(text)};
    Bytes reply;
    uint32_t status =
        client.call(tapsor::kRequestRpc, tapsor::encodeRequestRpcIn(in), reply, kTimeout);
    if (status == 0 && !tapsor::decodeRequestRpcOut(reply, out)) return rpc::status::kBadStubData;
    return status;
  }

  std::filesystem::path root_;
  RpcServerThread thread_;
};

TEST_F(RpcServerThreadTest, PrintsTheStartupLinesInOrder) {
  bool taskbarStarted = false;
  RpcServerHooks hooks = testing::fakeAgentHooks();
  hooks.startTaskbar = [&] { taskbarStarted = true; };
  veltris::agent::testing::ConsoleCapture captured;
  thread_.start(hooks);
  ASSERT_TRUE(thread_.waitUntilListening(10s));
  std::string output = captured.take();
  EXPECT_EQ(output,
            "RpcServerUseProtseq ncalrpc = 0\n"
            "RpcServerUseProtseq ncacn_ip_tcp = 0\n"
            "RpcServerUseProtseq ncacn_nb_nb = 1703\n"
            "RpcServerUseProtseq ncacn_spx = 1703\n"
            "Creating Taskbar Thread \n"
            "To Terminate, close console window or press Ctrl-C\n");
  EXPECT_TRUE(taskbarStarted);
  EXPECT_EQ(thread_.bindings().size(), 2u);
}

// As the service, nothing of the above reaches the journal: no start-up trace,
// no line per ping.
TEST_F(RpcServerThreadTest, TheServiceWritesNoConsoleWindowLines) {
  struct ServiceMode {
    bool shown = setConsoleWindow(false);
    ~ServiceMode() { setConsoleWindow(shown); }
  } serviceMode;
  veltris::agent::testing::ConsoleCapture captured;
  startServer();
  rpc::Client client;
  ASSERT_EQ(client.open("ncalrpc:", tapsor::interfaceId()), 0u) << client.lastError();
  Bytes reply;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(client.call(tapsor::kPingRpc, {}, reply, kTimeout), 0u);
  consolePrint("an error line\n");
  EXPECT_EQ(captured.take(), "an error line\n");
}

TEST_F(RpcServerThreadTest, BothProceduresOverLocalAndTcpThroughTheMapper) {
  startServer();
  for (const char* binding : {"ncalrpc:", "ncacn_ip_tcp:127.0.0.1"}) {
    rpc::Client client;
    ASSERT_EQ(client.open(binding, tapsor::interfaceId()), 0u) << client.lastError();
    Bytes reply;
    veltris::agent::testing::ConsoleCapture captured;
    ASSERT_EQ(client.call(tapsor::kPingRpc, {}, reply, kTimeout), 0u);
    EXPECT_EQ(captured.take(), "PingRpc\n");
    EXPECT_EQ(reply, Bytes(4, 0));

    tapsor::RequestRpcOut out;
    ASSERT_EQ(request(client, testing::kFakeKey, "TOTAL", out), 0u);
    EXPECT_EQ(out.status, 0);
    EXPECT_FALSE(out.nullReply);
    EXPECT_EQ(out.replyLength, 37);
    EXPECT_EQ(std::string(out.reply.begin(), out.reply.begin() + 4), "TASK");
    EXPECT_EQ(std::string(out.reply.begin() + 32, out.reply.end()), "TOTAL");
  }
}

TEST_F(RpcServerThreadTest, WrongKeyGivesMinusTwoAndANullReply) {
  startServer();
  rpc::Client client;
  ASSERT_EQ(client.open("ncalrpc:", tapsor::interfaceId()), 0u);
  tapsor::RequestRpcOut out;
  ASSERT_EQ(request(client, "secret", "TOTAL", out), 0u);
  EXPECT_EQ(out.status, tapsor::kKeyMismatch);
  EXPECT_TRUE(out.nullReply);
  EXPECT_TRUE(out.reply.empty());
}

TEST_F(RpcServerThreadTest, AStubOfTheWrongSizeFaultsAndTheConnectionStays) {
  startServer();
  rpc::Client client;
  ASSERT_EQ(client.open("ncacn_ip_tcp:127.0.0.1", tapsor::interfaceId()), 0u);
  Bytes reply;
  EXPECT_EQ(client.call(tapsor::kRequestRpc, Bytes(271, 0), reply, kTimeout),
            rpc::status::kBadStubData);
  EXPECT_EQ(client.call(tapsor::kRequestRpc, Bytes(273, 0), reply, kTimeout),
            rpc::status::kBadStubData);
  EXPECT_EQ(client.call(tapsor::kPingRpc, Bytes(1, 0), reply, kTimeout), rpc::status::kBadStubData);
  EXPECT_EQ(client.call(2, {}, reply, kTimeout), rpc::status::kProcnumOutOfRange);
  EXPECT_TRUE(client.isOpen());
  tapsor::RequestRpcOut out;
  EXPECT_EQ(request(client, testing::kFakeKey, "TOTAL", out), 0u);
}

TEST_F(RpcServerThreadTest, ARequestTextOf255CharactersAndAReplyOfSeveralMegabytes) {
  startServer();
  rpc::Client client;
  ASSERT_EQ(client.open("ncacn_ip_tcp:127.0.0.1", tapsor::interfaceId()), 0u);
  tapsor::RequestRpcOut out;
  std::string longest(255, 'x');
  ASSERT_EQ(request(client, testing::kFakeKey, longest, out), 0u);
  EXPECT_EQ(std::string(out.reply.begin() + 32, out.reply.end()), longest);
  ASSERT_EQ(request(client, testing::kFakeKey, "BIG 5000000", out), 0u);
  ASSERT_EQ(out.reply.size(), 5000032u);
  EXPECT_EQ(out.replyLength, 5000032);
  EXPECT_EQ(Bytes(out.reply.begin() + 32, out.reply.end()), testing::fakePattern(5000000));
}

TEST_F(RpcServerThreadTest, StopEndsListeningAndRemovesTheEndpoints) {
  startServer();
  rpc::Client idle;
  ASSERT_EQ(idle.open("ncalrpc:", tapsor::interfaceId()), 0u);
  thread_.stop();
  EXPECT_FALSE(thread_.waitUntilListening(0ms));
  rpc::Client late;
  EXPECT_NE(late.open("ncalrpc:", tapsor::interfaceId()), 0u);
  EXPECT_FALSE(std::filesystem::exists(root_ / "run/veltris/epmapper"));
  thread_.stop();  // a second stop is harmless
}

TEST_F(RpcServerThreadTest, AHandlerMayStopTheServerAndStillReply) {
  startServer([this] { thread_.stop(); });
  rpc::Client client;
  ASSERT_EQ(client.open("ncacn_ip_tcp:127.0.0.1", tapsor::interfaceId()), 0u);
  tapsor::RequestRpcOut out;
  ASSERT_EQ(request(client, testing::kFakeKey, "STOP", out), 0u);
  EXPECT_EQ(std::string(out.reply.begin() + 32, out.reply.end()), "STOP");
  thread_.stop();
  EXPECT_FALSE(thread_.waitUntilListening(0ms));
}

TEST_F(RpcServerThreadTest, ATakenMapperPortIsReportedAndTheAgentServesOn) {
  rpc::Server squatter;
  rpc::ListenerResult taken = squatter.openEndpoint("ncacn_ip_tcp", "", 3);
  ASSERT_EQ(taken.status, 0u);
  ::setenv("VELTRIS_EPM_PORT", taken.endpoint.c_str(), 1);
  veltris::agent::testing::ConsoleCapture captured;
  thread_.start(testing::fakeAgentHooks());
  ASSERT_TRUE(thread_.waitUntilListening(10s));
  std::string output = captured.take();
  EXPECT_NE(output.find("Endpoint mapper not started (TCP port " + taken.endpoint), std::string::npos)
      << output;
  EXPECT_EQ(thread_.endpointMapperPort(), 0);
  rpc::Binding tcp;
  for (const std::string& text : thread_.bindings()) {
    if (text.rfind("ncacn_ip_tcp:", 0) == 0) {
      ASSERT_EQ(rpc::parseBinding(text, tcp), 0u);
    }
  }
  rpc::Client client;
  ASSERT_EQ(client.open("ncacn_ip_tcp:127.0.0.1[" + tcp.endpoint + "]", tapsor::interfaceId()), 0u);
  ASSERT_EQ(client.open("ncalrpc:", tapsor::interfaceId()), 0u);  // the local mapper still runs
}

TEST(EndpointRegisterFailure, NamesTheStatus) {
  EXPECT_EQ(endpointRegisterFailureText(1701), "RpcEpRegister failed - Wrong kind of binding");
  EXPECT_EQ(endpointRegisterFailureText(1702), "RpcEpRegister failed - Invalid binding");
  EXPECT_EQ(endpointRegisterFailureText(1718), "RpcEpRegister failed - No bindings");
  EXPECT_EQ(endpointRegisterFailureText(1740), "RpcEpRegister failed with rc 1740");
}

}  // namespace
}  // namespace veltris::agent
