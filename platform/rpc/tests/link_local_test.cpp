// The client over a link-local IPv6 address: a server in one namespace of a
// veth pair, the client in the other naming the address with its zone. Needs
// root; skips otherwise.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/rpc/client.h"
#include "platform/rpc/endpoint_mapper.h"
#include "platform/rpc/server.h"
#include "platform/rpc/tests/rpc_test_support.h"
#include "tests/support/namespace_pair.h"

namespace veltris::rpc {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
namespace ns = netconfig::testing;

TEST(LinkLocal, ClientReachesTheServerThroughTheMapperOnAVethPair) {
  if (std::string why = ns::namespaceTestsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  ns::NamespacePair pair;
  std::string error;
  ASSERT_TRUE(pair.create(error)) << error;
  if (!ns::NamespacePair::run({"ip -n " + pair.a + " addr add fe80::a/64 dev " + pair.linkA + " nodad",
                               "ip -n " + pair.b + " addr add fe80::b/64 dev " + pair.linkB + " nodad"},
                              error)) {
    GTEST_SKIP() << "no IPv6 in namespaces here: " << error;
  }

  testing::TempRoot root;
  EndpointMapper mapper;
  Server server;
  MapperHosting hosting;
  // Sockets belong to the namespace they are made in: the server's in b.
  ASSERT_TRUE(ns::runInNamespace(
      pair.b,
      [&] {
        ASSERT_EQ(server.registerInterface(testing::testInterface()), 0u);
        ASSERT_EQ(server.openEndpoint("ncacn_ip_tcp", "", 3).status, 0u);
        ASSERT_EQ(mapper.registerEndpoints(testing::testInterfaceId(), server.bindings()), 0u);
        hosting = hostEndpointMapper(server, mapper, 0);
      },
      error))
      << error;
  ASSERT_EQ(hosting.tcp.status, 0u) << hosting.tcp.error;
  ::setenv("VELTRIS_EPM_PORT", hosting.tcp.endpoint.c_str(), 1);
  ASSERT_EQ(server.listen(10), 0u);

  ASSERT_TRUE(ns::runInNamespace(
      pair.a,
      [&] {
        // The zone names the client's end, as given and upper-cased as a
        // console passes it on.
        std::string upper = pair.linkA;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const std::string& zone : {pair.linkA, upper}) {
          Client client;
          ASSERT_EQ(client.open("ncacn_ip_tcp:fe80::b%" + zone, testing::testInterfaceId()), 0u)
              << zone << ": " << client.lastError();
          Bytes echo;
          EXPECT_EQ(client.call(testing::test_op::kEcho, Bytes{1, 2, 3}, echo, 10s), 0u);
          EXPECT_EQ(echo, (Bytes{1, 2, 3}));
        }
        // Without a zone the link-local address names no link.
        Client client;
        EXPECT_NE(client.open("ncacn_ip_tcp:fe80::b", testing::testInterfaceId()), 0u);
      },
      error))
      << error;
  server.stopListening();
  ::unsetenv("VELTRIS_EPM_PORT");
}

}  // namespace
}  // namespace veltris::rpc
