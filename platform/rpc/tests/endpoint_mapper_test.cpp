// The endpoint mapper: registration, ept_map / ept_lookup over the wire, and
// clients that find a dynamic endpoint through it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/rpc/client.h"
#include "platform/rpc/endpoint_mapper.h"
#include "platform/rpc/server.h"
#include "platform/rpc/tests/rpc_test_support.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class EndpointMapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server_.registerInterface(testing::testInterface()), 0u);
    tcpPort_ = server_.openEndpoint("ncacn_ip_tcp", "", 3).endpoint;
    localName_ = server_.openEndpoint("ncalrpc", "", 3).endpoint;
    bindings_ = server_.bindings();
    ASSERT_EQ(mapper_.registerEndpoints(testing::testInterfaceId(), bindings_), 0u);
    hosting_ = hostEndpointMapper(server_, mapper_, 0);
    ASSERT_EQ(hosting_.tcp.status, 0u) << hosting_.tcp.error;
    ASSERT_EQ(hosting_.local.status, 0u) << hosting_.local.error;
    ::setenv("VELTRIS_EPM_PORT", hosting_.tcp.endpoint.c_str(), 1);
    ASSERT_EQ(server_.listen(100), 0u);
  }
  void TearDown() override { ::unsetenv("VELTRIS_EPM_PORT"); }

  Bytes callMapper(uint16_t opnum, const Bytes& in, uint32_t expectedStatus = 0) {
    Client client;
    EXPECT_EQ(client.open("ncacn_ip_tcp:127.0.0.1[" + hosting_.tcp.endpoint + "]",
                          endpointMapperInterface()),
              0u);
    Bytes out;
    EXPECT_EQ(client.call(opnum, in, out, 10s), expectedStatus);
    return out;
  }

  testing::TempRoot root_;
  EndpointMapper mapper_;  // outlives the server that hosts it
  Server server_;
  MapperHosting hosting_;
  std::string tcpPort_;
  std::string localName_;
  std::vector<Binding> bindings_;
};

TEST_F(EndpointMapperTest, ClientsFindDynamicEndpointsOverTcpAndLocally) {
  for (const char* binding : {"ncacn_ip_tcp:127.0.0.1", "ncalrpc:"}) {
    Client client;
    ASSERT_EQ(client.open(binding, testing::testInterfaceId()), 0u) << client.lastError();
    EXPECT_EQ(client.binding().endpoint,
              client.binding().protseq == Protseq::Tcp ? tcpPort_ : localName_);
    Bytes out;
    EXPECT_EQ(client.call(testing::test_op::kEcho, Bytes{6}, out, 10s), 0u);
  }
  Client client;
  EXPECT_EQ(client.open("ncacn_ip_tcp:127.0.0.1",
                        syntaxId("11111111-2222-3333-4444-555555555555", 1, 0)),
            status::kEndpointNotRegistered);
}

TEST_F(EndpointMapperTest, EptMapAnswersWithPortAndArrivalAddress) {
  EptMapRequest request;
  request.tower = encodeTower(testing::testInterfaceId(), {Protseq::Tcp, 0, ""});
  request.maxTowers = 1;
  Bytes in;
  encodeEptMapRequest(request, in);
  EptMapResponse response;
  ASSERT_TRUE(decodeEptMapResponse(callMapper(ept_op::kMap, in), response));
  EXPECT_EQ(response.status, 0u);
  EXPECT_TRUE(response.handle.isNull());
  ASSERT_EQ(response.towers.size(), 1u);
  auto tower = decodeTower(response.towers[0]);
  ASSERT_TRUE(tower && tower->address);
  EXPECT_EQ(tower->address->endpoint, tcpPort_);
  EXPECT_EQ(tower->address->ipv4, 0x7f000001u);
  EXPECT_EQ(tower->iface, testing::testInterfaceId());

  request.tower = encodeTower({testing::testInterfaceId().uuid, 2, 0}, {Protseq::Tcp, 0, ""});
  in.clear();
  encodeEptMapRequest(request, in);
  ASSERT_TRUE(decodeEptMapResponse(callMapper(ept_op::kMap, in), response = {}));
  EXPECT_EQ(response.status, fault::kEndpointNotRegistered);
  EXPECT_TRUE(response.towers.empty());

  request.maxTowers = 501;
  in.clear();
  encodeEptMapRequest(request, in);
  callMapper(ept_op::kMap, in, status::kBadStubData);
}

// Over IPv6 the mapper is reached on ::1; the IPv4 floor of its tower says
// 0.0.0.0, the address the mapper was reached on, and the client connects there.
TEST_F(EndpointMapperTest, IPv6CallersGetTheAddressTheyReachedTheMapperOn) {
  Client mapperClient;
  if (mapperClient.open("ncacn_ip_tcp:::1[" + hosting_.tcp.endpoint + "]", endpointMapperInterface()) != 0u) {
    GTEST_SKIP() << "no IPv6 loopback here: " << mapperClient.lastError();
  }
  EptMapRequest request;
  request.tower = encodeTower(testing::testInterfaceId(), {Protseq::Tcp, 0, ""});
  request.maxTowers = 1;
  Bytes in;
  encodeEptMapRequest(request, in);
  Bytes out;
  ASSERT_EQ(mapperClient.call(ept_op::kMap, in, out, 10s), 0u);
  EptMapResponse response;
  ASSERT_TRUE(decodeEptMapResponse(out, response));
  ASSERT_EQ(response.towers.size(), 1u);
  auto tower = decodeTower(response.towers[0]);
  ASSERT_TRUE(tower && tower->address);
  EXPECT_EQ(tower->address->endpoint, tcpPort_);
  EXPECT_EQ(tower->address->ipv4, 0u);

  for (const char* binding : {"ncacn_ip_tcp:::1", "ncacn_ip_tcp:fe80::1%nosuchif"}) {
    Client client;
    uint32_t st = client.open(binding, testing::testInterfaceId());
    if (std::string(binding).find('%') != std::string::npos) {
      EXPECT_EQ(st, status::kServerUnavailable);
      continue;
    }
    ASSERT_EQ(st, 0u) << client.lastError();
    EXPECT_EQ(client.binding().endpoint, tcpPort_);
    Bytes echo;
    EXPECT_EQ(client.call(testing::test_op::kEcho, Bytes{6, 7}, echo, 10s), 0u);
    EXPECT_EQ(echo, (Bytes{6, 7}));
  }
}

TEST_F(EndpointMapperTest, EptLookupPagesThroughEntries) {
  EptLookupRequest request{0, std::nullopt, std::nullopt, 1, {}, 1};
  std::vector<EptEntry> seen;
  for (int page = 0; page < 10; ++page) {
    Bytes in;
    encodeEptLookupRequest(request, in);
    EptLookupResponse response;
    ASSERT_TRUE(decodeEptLookupResponse(callMapper(ept_op::kLookup, in), response));
    seen.insert(seen.end(), response.entries.begin(), response.entries.end());
    if (response.handle.isNull()) break;
    request.handle = response.handle;
  }
  ASSERT_EQ(seen.size(), 2u);  // the TCP and the local endpoint
  EXPECT_EQ(decodeTower(seen[0].tower)->address->endpoint, tcpPort_);
  EXPECT_EQ(decodeTower(seen[1].tower)->address->endpoint, localName_);

  Bytes in;
  encodeEptLookupRequest({1, std::nullopt, SyntaxId{testing::testInterfaceId().uuid, 1, 0}, 2, {}, 10},
                         in);
  EptLookupResponse compatible;
  ASSERT_TRUE(decodeEptLookupResponse(callMapper(ept_op::kLookup, in), compatible));
  EXPECT_EQ(compatible.entries.size(), 2u);

  Bytes freeIn(20, 0);
  EXPECT_EQ(callMapper(ept_op::kLookupHandleFree, freeIn), Bytes(24, 0));
}

TEST_F(EndpointMapperTest, RegistrationChecksTheBindings) {
  EXPECT_EQ(mapper_.registerEndpoints(testing::testInterfaceId(), {}), status::kNoBindings);
  EXPECT_EQ(mapper_.registerEndpoints(testing::testInterfaceId(),
                                      {Binding{Protseq::Tcp, "h", "notaport"}}),
            status::kInvalidBinding);
  EXPECT_EQ(mapper_.size(), 2u);
  EXPECT_EQ(mapper_.registerEndpoints(testing::testInterfaceId(), bindings_), 0u);
  EXPECT_EQ(mapper_.size(), 2u);  // the same endpoints again replace themselves
  mapper_.unregisterEndpoints(testing::testInterfaceId());
  EXPECT_EQ(mapper_.size(), 0u);
  Client client;
  EXPECT_EQ(client.open("ncalrpc:", testing::testInterfaceId()), status::kEndpointNotRegistered);
}

TEST_F(EndpointMapperTest, ATakenMapperPortIsReportedAndServingGoesOn) {
  EndpointMapper second;
  Server other;
  MapperHosting hosting =
      hostEndpointMapper(other, second, static_cast<uint16_t>(std::stoi(hosting_.tcp.endpoint)));
  EXPECT_EQ(hosting.tcp.status, status::kDuplicateEndpoint);
  EXPECT_NE(hosting.tcp.error.find("TCP port " + hosting_.tcp.endpoint), std::string::npos);
  EXPECT_EQ(hosting.local.status, status::kDuplicateEndpoint);  // "epmapper" is live
  Client client;
  ASSERT_EQ(client.open("ncacn_ip_tcp:127.0.0.1", testing::testInterfaceId()), 0u);
}

}  // namespace
}  // namespace veltris::rpc
