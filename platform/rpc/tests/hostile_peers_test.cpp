// Peers that connect and say nothing, bind slowly or hold the table full:
// clients, and local ones above all, are still served, and idle connections
// cost no thread.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

constexpr int kSmallBuffer = 4096;

size_t threadCount() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

class HostilePeers : public ::testing::Test {
 protected:
  void start(Limits limits, Interface iface = testing::testInterface()) {
    server_ = std::make_unique<Server>(limits);
    server_->registerInterface(std::move(iface));
    port_ = server_->openEndpoint("ncacn_ip_tcp", "", 3).endpoint;
    local_ = server_->openEndpoint("ncalrpc", "", 3).endpoint;
    ASSERT_EQ(server_->listen(100), 0u);
  }

  // A TCP connection from 127.0.0.<host> that sends nothing yet.
  Socket connectFrom(int host) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000000u | static_cast<uint32_t>(host));
    EXPECT_EQ(::bind(s.fd(), reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(port_)));
    EXPECT_EQ(::connect(s.fd(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return s;
  }

  bool waitForConnections(size_t count) {
    for (int i = 0; i < 500 && server_->connectionCount() != count; ++i) std::this_thread::sleep_for(10ms);
    return server_->connectionCount() == count;
  }

  static bool closedByServer(const Socket& s, std::chrono::seconds within) {
    PduReader reader(s.fd());
    Bytes pdu;
    return reader.next(pdu, 65535, Clock::now() + within, within) == IoResult::Closed;
  }

  static void expectServed(const std::string& binding) {
    Client client;
    ASSERT_EQ(client.open(binding, testing::testInterfaceId()), 0u) << binding << ": " << client.lastError();
    Bytes out;
    EXPECT_EQ(client.call(testing::test_op::kEcho, Bytes{7}, out, 10s), 0u) << binding;
    EXPECT_EQ(out, Bytes{7});
  }

  std::string tcpBinding() const { return "ncacn_ip_tcp:127.0.0.1[" + port_ + "]"; }
  std::string localBinding() const { return "ncalrpc:[" + local_ + "]"; }

  testing::TempRoot root_;
  std::unique_ptr<Server> server_;
  std::string port_;
  std::string local_;
};

TEST_F(HostilePeers, AFullTableOfSilentPeersMakesRoomAndCostsNoThreads) {
  Limits limits;
  limits.maxConnections = 16;
  limits.maxConnectionsPerPeer = 4;
  limits.maxLocalConnections = 4;
  limits.bindTimeout = 60s;  // held: only eviction makes room
  start(limits);
  expectServed(tcpBinding());
  std::this_thread::sleep_for(2500ms);  // the worker of that call has ended
  const size_t threadsBefore = threadCount();
  std::vector<Socket> flood;
  for (int host = 2; host <= 5; ++host) {
    for (int i = 0; i < 4; ++i) flood.push_back(connectFrom(host));
  }
  ASSERT_TRUE(waitForConnections(16));
  EXPECT_EQ(threadCount(), threadsBefore);  // silent connections wait without a thread

  flood.push_back(connectFrom(2));  // a fifth from one peer replaces that peer's oldest
  EXPECT_TRUE(closedByServer(flood[0], 5s));
  expectServed(tcpBinding());  // from 127.0.0.1: the oldest silent connection gives way
  expectServed(localBinding());
  EXPECT_LE(server_->connectionCount(), 16u + 4u);
}

TEST_F(HostilePeers, ABindMustArriveWithinTheBindTimeout) {
  Limits limits;
  limits.bindTimeout = 300ms;
  start(limits);
  Socket silent = connectFrom(9);
  Socket slow = connectFrom(9);
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  std::thread trickle([&] {  // one byte every 100 ms: never done in time
    for (size_t i = 0; i < 10; ++i) {
      if (::send(slow.fd(), &bind[i], 1, MSG_NOSIGNAL) != 1) return;
      std::this_thread::sleep_for(100ms);
    }
  });
  EXPECT_TRUE(closedByServer(silent, 5s));
  EXPECT_TRUE(closedByServer(slow, 5s));
  trickle.join();
  // A client that binds at once stays past the bind timeout.
  Client client;
  ASSERT_EQ(client.open(tcpBinding(), testing::testInterfaceId()), 0u);
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(server_->connectionCount(), 1u);
}

TEST_F(HostilePeers, AnUnfinishedCallEndsAfterTheReceiveTimeout) {
  Limits limits;
  limits.receiveTimeout = 300ms;
  start(limits);
  Socket s = connectFrom(4);
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax());
  Bytes first = testing::requestPdu(2, testing::test_op::kEcho, Bytes(100, 1), pfc::kFirstFrag);
  ASSERT_EQ(writeAll(s.fd(), bind, Clock::now() + 5s), IoResult::Ok);
  ASSERT_EQ(writeAll(s.fd(), first, Clock::now() + 5s), IoResult::Ok);
  PduReader reader(s.fd());
  Bytes pdu;
  ASSERT_EQ(reader.next(pdu, 65535, Clock::now() + 5s, 5s), IoResult::Ok);  // the bind_ack
  const auto started = Clock::now();
  EXPECT_EQ(reader.next(pdu, 65535, Clock::now() + 10s, 10s), IoResult::Closed);  // the rest never came
  EXPECT_LT(Clock::now() - started, 5s);
}

TEST_F(HostilePeers, ABusyConnectionIsNeverTheOneToGo) {
  std::mutex mutex;
  std::condition_variable cv;
  bool entered = false;
  bool release = false;
  Interface iface = testing::testInterface();
  iface.operations.push_back({8, "block", [&](const CallContext&, std::span<const uint8_t>, std::vector<uint8_t>& out) {
                                std::unique_lock lock(mutex);
                                entered = true;
                                cv.notify_all();
                                cv.wait(lock, [&] { return release; });
                                out = {1};
                                return 0u;
                              }});
  Limits limits;
  limits.maxConnections = 1;
  start(limits, std::move(iface));
  Client busy;
  ASSERT_EQ(busy.open(tcpBinding(), testing::testInterfaceId()), 0u);
  std::atomic<uint32_t> status{99};
  std::thread call([&] {
    Bytes out;
    status = busy.call(8, {}, out, 30s);
  });
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return entered; });
  }
  Socket newcomer = connectFrom(3);
  EXPECT_TRUE(closedByServer(newcomer, 5s));  // no room: the newcomer is the one refused
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  call.join();
  EXPECT_EQ(status, 0u);
}

// A brief call whose reply the peer never reads: the reader hands the rest of
// the reply to a worker and serves the others; the send times out and only
// that connection ends.
TEST_F(HostilePeers, AReplyThePeerDoesNotReadHoldsUpNobodyElse) {
  Limits limits;
  limits.receiveTimeout = 3s;
  start(limits);
  Socket s = connectFrom(5);
  ::setsockopt(s.fd(), SOL_SOCKET, SO_RCVBUF, &kSmallBuffer, sizeof kSmallBuffer);
  Bytes bind = testing::bindPdu(testing::testInterfaceId(), ndrTransferSyntax(), 4280, 4280);
  ASSERT_EQ(writeAll(s.fd(), bind, Clock::now() + 5s), IoResult::Ok);
  PduReader reader(s.fd());
  Bytes pdu;
  ASSERT_EQ(reader.next(pdu, 65535, Clock::now() + 5s, 5s), IoResult::Ok);  // the bind_ack
  Bytes call = testing::requestPdu(2, testing::test_op::kSized, testing::sizeStub(16u << 20));
  ASSERT_EQ(writeAll(s.fd(), call, Clock::now() + 5s), IoResult::Ok);
  std::this_thread::sleep_for(100ms);
  const auto started = Clock::now();
  expectServed(tcpBinding());
  expectServed(localBinding());
  EXPECT_LT(Clock::now() - started, 2500ms) << "served while the unread reply waits";
  EXPECT_TRUE(waitForConnections(0)) << "the unread connection ends after the send time-out";
}

// Connects to `address` on the test server's port; true when it is accepted.
bool reachable(const std::string& address, const std::string& port) {
  ListenAddress to;
  if (!parseListenAddress(address, to)) return false;
  sockaddr_storage a = to.address;
  socklen_t length = sizeof(sockaddr_in);
  if (a.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(static_cast<uint16_t>(std::stoi(port)));
    length = sizeof(sockaddr_in6);
  } else {
    reinterpret_cast<sockaddr_in&>(a).sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
  }
  Socket s(::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return s.valid() && ::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), length) == 0;
}

bool hasIpv6Loopback() {
  Socket s(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  return s.valid() && ::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

TEST_F(HostilePeers, ListenAddressesDecideWhoCanConnect) {
  start(Limits{});  // every address
  EXPECT_TRUE(reachable("127.0.0.1", port_));
  EXPECT_TRUE(reachable("127.0.0.2", port_));
  if (hasIpv6Loopback()) EXPECT_TRUE(reachable("::1", port_));

  auto loopbackOnly = std::make_unique<Server>();
  std::vector<ListenAddress> addresses(1);
  ASSERT_TRUE(parseListenAddress("127.0.0.1", addresses[0]));
  if (hasIpv6Loopback()) {
    addresses.emplace_back();
    ASSERT_TRUE(parseListenAddress("::1", addresses.back()));
  }
  loopbackOnly->setTcpAddresses(addresses);
  ListenerResult opened = loopbackOnly->openEndpoint("ncacn_ip_tcp", "", 3);
  ASSERT_EQ(opened.status, 0u) << opened.error;
  EXPECT_EQ(loopbackOnly->bindings().size(), 1u);  // one endpoint, one port on each address
  EXPECT_TRUE(reachable("127.0.0.1", opened.endpoint));
  EXPECT_FALSE(reachable("127.0.0.2", opened.endpoint));
  if (hasIpv6Loopback()) EXPECT_TRUE(reachable("::1", opened.endpoint));
  ListenAddress bad;
  EXPECT_FALSE(parseListenAddress("eth0", bad));
}

TEST_F(HostilePeers, CallersOnThisHostAreKnownByTheirUser) {
  Interface iface = testing::testInterface();
  iface.operations.push_back({9, "who", [](const CallContext& context, std::span<const uint8_t>, std::vector<uint8_t>& out) {
                                out.assign(context.user.begin(), context.user.end());
                                return 0u;
                              }});
  start(Limits{}, std::move(iface));
  const std::string me = "uid:" + std::to_string(::getuid());
  for (const std::string& binding : {tcpBinding(), localBinding()}) {
    Client client;
    ASSERT_EQ(client.open(binding, testing::testInterfaceId()), 0u);
    Bytes out;
    ASSERT_EQ(client.call(9, {}, out, 10s), 0u);
    EXPECT_EQ(std::string(out.begin(), out.end()), me) << binding;
  }
}

}  // namespace
}  // namespace veltris::rpc
