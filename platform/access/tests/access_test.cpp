// libveltris.so through its five C functions, against an in-process agent
// interface served locally and over TCP with the endpoint mapper.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/access/veltris.h"
#include "platform/rpc/endpoint_mapper.h"
#include "platform/rpc/server.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tapsor_interface.h"

namespace {

using namespace veltris;
using Bytes = std::vector<uint8_t>;
namespace tapsor = rpc::tapsor;

constexpr char kPassword[] = "PASSWORD";

Bytes snapshotBody() {
  Bytes body = {'V', 'S', 'N', ' '};
  for (int i = 0; i < 1000; ++i) body.push_back(static_cast<uint8_t>(i * 13));
  return body;
}

// Header, then: a snapshot for "SNAPSHOT", the signature alone for "EMPTYSNAP", n bytes for "BIG n", else the whole
// 256-byte request as the agent received it.
uint32_t fakeRequestRpc(std::span<const uint8_t> in, Bytes& out) {
  tapsor::RequestRpcIn args;
  if (!tapsor::decodeRequestRpcIn(in, args)) return rpc::fault::kNdr;
  Bytes key(16, 0);
  std::memcpy(key.data(), kPassword, std::strlen(kPassword));
  if (!std::equal(key.begin(), key.end(), args.accessKey.begin())) {
    tapsor::encodeRequestRpcOut({}, true, tapsor::kKeyMismatch, out);
    return 0;
  }
  const char* text = reinterpret_cast<const char*>(args.request.data());
  Bytes reply = {'T', 'A', 'S', 'K', '1', '9', '9', '9', '0', '4', '1', '5'};
  reply.resize(32, 0);
  Bytes body(args.request.begin(), args.request.end());
  if (std::strncmp(text, "SNAPSHOT", 8) == 0) body = snapshotBody();
  if (std::strncmp(text, "EMPTYSNAP", 9) == 0) body = {'V', 'S', 'N', ' '};  // the agent made no snapshot
  if (std::strncmp(text, "BIG ", 4) == 0) body.assign(std::strtoul(text + 4, nullptr, 10), 0x5a);
  reply.insert(reply.end(), body.begin(), body.end());
  tapsor::encodeRequestRpcOut(reply, false, 0, out);
  return 0;
}

class AccessLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vaccXXXXXX";
    root_ = ::mkdtemp(pattern);
    ::setenv("VELTRIS_ROOT", root_.c_str(), 1);
    rpc::Interface iface{tapsor::interfaceId(), "Tapsor", {}};
    iface.operations.push_back({tapsor::kPingRpc, "PingRpc",
                                [](const rpc::CallContext&, std::span<const uint8_t>, Bytes& out) {
                                  tapsor::encodePingRpcOut(0, out);
                                  return 0u;
                                }});
    iface.operations.push_back({tapsor::kRequestRpc, "RequestRpc",
                                [](const rpc::CallContext&, std::span<const uint8_t> in,
                                   Bytes& out) { return fakeRequestRpc(in, out); }});
    server_.registerInterface(std::move(iface));
    tcpPort_ = server_.openEndpoint("ncacn_ip_tcp", "", 3).endpoint;
    server_.openEndpoint("ncalrpc", "", 3);
    mapper_.registerEndpoints(tapsor::interfaceId(), server_.bindings());
    auto hosting = rpc::hostEndpointMapper(server_, mapper_, 0);
    ::setenv("VELTRIS_EPM_PORT", hosting.tcp.endpoint.c_str(), 1);
    ASSERT_EQ(server_.listen(10), 0u);
  }
  void TearDown() override {
    TapsorRpcClose();
    server_.stopListening();
    ::unsetenv("VELTRIS_EPM_PORT");
    ::unsetenv("VELTRIS_ROOT");
    std::filesystem::remove_all(root_);
  }

  static std::string readText(size_t size) {
    std::string record(size, '?');
    EXPECT_EQ(TapsorRpcRead(record.data(), static_cast<int32_t>(size)), 0);
    return record;
  }

  std::filesystem::path root_;
  rpc::EndpointMapper mapper_;
  rpc::Server server_;
  std::string tcpPort_;
};

TEST_F(AccessLibraryTest, LocalAgentOpensWithANullOrEmptyName) {
  for (const char* local : {static_cast<const char*>(nullptr), "", "  "}) {
    ASSERT_EQ(TapsorRpcOpen(local), 0);
    ASSERT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0);
    EXPECT_EQ(readText(4), "TASK");
    EXPECT_EQ(readText(8), "19990415");
    EXPECT_EQ(TapsorRpcClose(), 0);
  }
}

TEST_F(AccessLibraryTest, RemoteNamesGoOverTcp) {
  for (const std::string& name : std::vector<std::string>{
           "127.0.0.1", "\\\\127.0.0.1", "LOCALHOST", "127.0.0.1[" + tcpPort_ + "]"}) {
    ASSERT_EQ(TapsorRpcOpen(name.c_str()), 0) << name;
    EXPECT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0) << name;
  }
  EXPECT_EQ(TapsorRpcOpen("127.0.0.1[1]"), static_cast<int32_t>(rpc::status::kServerUnavailable));
}

TEST_F(AccessLibraryTest, IPv6LiteralsGoOverTcp) {
  if (TapsorRpcOpen("[::1]") != 0) GTEST_SKIP() << "no IPv6 loopback here";
  for (const std::string& name : std::vector<std::string>{
           "[::1]", "::1", "[::1][" + tcpPort_ + "]", "\\\\[0:0:0:0:0:0:0:1]", "::1%LO", "[::1%lo]"}) {
    ASSERT_EQ(TapsorRpcOpen(name.c_str()), 0) << name;
    EXPECT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0) << name;
    EXPECT_EQ(readText(4), "TASK") << name;
  }
  EXPECT_EQ(TapsorRpcOpen("[::1][1]"), static_cast<int32_t>(rpc::status::kServerUnavailable));
  EXPECT_EQ(TapsorRpcOpen("[::1]x"), static_cast<int32_t>(rpc::status::kInvalidRpcProtseq));
}

TEST_F(AccessLibraryTest, SnapshotFilesOpenAnswerAndSaveThroughTheFiveFunctions) {
  auto writeFile = [](const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  };
  Bytes snapshot = {'V', 'S', 'N', ' ', 16 + 132, 0, 0, 0, 'O', 'P', 'E', 'N', ' '};
  snapshot.resize(4 + 4 + 16, 0);
  for (char c : std::string("TASK19990415199904151200000")) snapshot.push_back(static_cast<uint8_t>(c));
  snapshot.resize(4 + 4 + 16 + 32, 0);
  for (char c : std::string("TOT ")) snapshot.push_back(static_cast<uint8_t>(c));
  snapshot.resize(4 + 4 + 16 + 132 + 4, 0);  // the totals record, then the end marker
  const auto good = root_ / "good.VSN";
  writeFile(good, snapshot);
  writeFile(root_ / "cut.VSN", Bytes(snapshot.begin(), snapshot.end() - 4));
  writeFile(root_ / "other.VSN", Bytes(100, 'x'));

  EXPECT_EQ(TapsorRpcOpen(("*SNAPSHOT* " + (root_ / "missing.VSN").string()).c_str()), TAPSOR_SNAPSHOT_UNREADABLE);
  EXPECT_EQ(TapsorRpcOpen(("*SNAPSHOT* " + (root_ / "cut.VSN").string()).c_str()), TAPSOR_SNAPSHOT_CUT_SHORT);
  EXPECT_EQ(TapsorRpcOpen(("*SNAPSHOT* " + (root_ / "other.VSN").string()).c_str()), TAPSOR_SNAPSHOT_NOT_A_SNAPSHOT);
  EXPECT_EQ(TapsorRpcWrite("TOTAL"), static_cast<int32_t>(rpc::status::kInvalidBinding));

  ASSERT_EQ(TapsorRpcOpen(("  *SNAPSHOT* " + good.string() + " ").c_str()), 0);
  ASSERT_EQ(TapsorRpcWrite("OPEN any key at all"), 0);
  EXPECT_EQ(readText(4), "TASK");
  EXPECT_EQ(TapsorRpcWrite("CMD NETSTAT -n"), TAPSOR_SNAPSHOT_NO_REPLY);
  ASSERT_EQ(TapsorRpcWrite("SNAPSHOT"), 0);
  const auto saved = root_ / "saved.VSN";
  ASSERT_EQ(TapsorRpcSave(saved.c_str()), 0);
  std::ifstream file(saved, std::ios::binary);
  EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()), snapshot);
  EXPECT_EQ(TapsorRpcClose(), 0);
  EXPECT_EQ(TapsorRpcWrite("TOTAL"), static_cast<int32_t>(rpc::status::kInvalidBinding));
}

TEST_F(AccessLibraryTest, TheKeyFromOpenTravelsWithEveryLaterRequest) {
  ASSERT_EQ(TapsorRpcOpen(nullptr), 0);
  EXPECT_EQ(TapsorRpcWrite("TOTAL"), -2);  // no key yet
  char record[32];
  EXPECT_EQ(TapsorRpcRead(record, 32), -1);
  EXPECT_EQ(TapsorRpcWrite("OPEN wrong"), -2);
  EXPECT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0);
  EXPECT_EQ(TapsorRpcWrite("TOTAL"), 0);
  ASSERT_EQ(TapsorRpcOpen(nullptr), 0);  // a new connection forgets the key
  EXPECT_EQ(TapsorRpcWrite("TOTAL"), -2);
}

TEST_F(AccessLibraryTest, RepliesAreReadRecordByRecordAndZeroFilledAtTheEnd) {
  ASSERT_EQ(TapsorRpcOpen(nullptr), 0);
  ASSERT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0);
  std::string header(32, '\0');
  ASSERT_EQ(TapsorRpcRead(header.data(), 32), 0);
  EXPECT_EQ(header.substr(0, 12), "TASK19990415");
  std::string request(256, '?');
  ASSERT_EQ(TapsorRpcRead(request.data(), 256), 0);  // the agent saw text then zeros
  EXPECT_EQ(request, std::string("OPEN PASSWORD") + std::string(256 - 13, '\0'));
  char tail[12];
  std::memset(tail, 'x', sizeof tail);
  EXPECT_EQ(TapsorRpcRead(tail, sizeof tail), -1);
  EXPECT_EQ(std::string(tail, sizeof tail), std::string(12, '\0'));
  EXPECT_EQ(TapsorRpcRead(nullptr, 4), -1);
  EXPECT_EQ(TapsorRpcRead(tail, -4), -1);
}

TEST_F(AccessLibraryTest, RequestsAreCutTo255CharactersAndLargeRepliesArrive) {
  ASSERT_EQ(TapsorRpcOpen(""), 0);
  ASSERT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0);
  std::string longest(300, 'Q');
  ASSERT_EQ(TapsorRpcWrite(longest.c_str()), 0);
  readText(32);
  std::string request(256, '?');
  ASSERT_EQ(TapsorRpcRead(request.data(), 256), 0);
  EXPECT_EQ(request, std::string(255, 'Q') + '\0');
  ASSERT_EQ(TapsorRpcWrite("BIG 4000000"), 0);
  std::vector<char> body(4000000);
  readText(32);
  ASSERT_EQ(TapsorRpcRead(body.data(), static_cast<int32_t>(body.size())), 0);
  EXPECT_EQ(body.front(), 0x5a);
  EXPECT_EQ(body.back(), 0x5a);
}

TEST_F(AccessLibraryTest, SaveWritesTheSnapshotOfTheLastReply) {
  ASSERT_EQ(TapsorRpcOpen("127.0.0.1"), 0);
  ASSERT_EQ(TapsorRpcWrite("OPEN PASSWORD"), 0);
  std::string path = (root_ / "remote.VSN").string();
  EXPECT_EQ(TapsorRpcSave(path.c_str()), -1);  // not a snapshot reply
  ASSERT_EQ(TapsorRpcWrite("EMPTYSNAP"), 0);
  EXPECT_EQ(TapsorRpcSave(path.c_str()), -1);  // the signature alone: no 4-byte file
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_EQ(TapsorRpcWrite("SNAPSHOT"), 0);
  ASSERT_EQ(TapsorRpcSave(path.c_str()), 0);
  std::ifstream file(path, std::ios::binary);
  Bytes saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, snapshotBody());
  EXPECT_EQ(TapsorRpcSave((root_ / "no/such/dir/x.VSN").c_str()), -1);
  EXPECT_EQ(TapsorRpcSave(nullptr), -1);
}

TEST_F(AccessLibraryTest, WritesWithoutAConnectionOrAfterTheAgentWentAwayFail) {
  EXPECT_EQ(TapsorRpcWrite("TOTAL"), static_cast<int32_t>(rpc::status::kInvalidBinding));
  std::string name = "127.0.0.1[" + tcpPort_ + "]";
  ASSERT_EQ(TapsorRpcOpen(name.c_str()), 0);
  server_.stopListening();
  int32_t status = TapsorRpcWrite("OPEN PASSWORD");
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -2);
}

TEST(AccessLibraryExports, OnlyTheFiveFunctionsAreVisible) {
  void* library = ::dlopen(VELTRIS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  for (const char* name : {"TapsorRpcOpen", "TapsorRpcWrite", "TapsorRpcRead", "TapsorRpcSave",
                           "TapsorRpcClose"}) {
    EXPECT_NE(::dlsym(library, name), nullptr) << name;
  }
  EXPECT_EQ(::dlsym(library, "_ZN7veltris3rpc15statusFromFaultEj"), nullptr);
  ::dlclose(library);
}

}  // namespace
