// String bindings and protocol sequences.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/rpc/binding.h"
#include "platform/rpc/status.h"
#include "platform/rpc/tcp_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace veltris::rpc {
namespace {

TEST(Binding, ParsesTheForms) {
  Binding b;
  ASSERT_EQ(parseBinding("ncacn_ip_tcp:PC-07[1234]", b), 0u);
  EXPECT_EQ(b.protseq, Protseq::Tcp);
  EXPECT_EQ(b.host, "PC-07");
  EXPECT_EQ(b.endpoint, "1234");
  ASSERT_EQ(parseBinding("ncacn_ip_tcp:10.1.2.3", b), 0u);
  EXPECT_EQ(b.host, "10.1.2.3");
  EXPECT_TRUE(b.endpoint.empty());
  ASSERT_EQ(parseBinding("ncacn_ip_tcp:host[135,Security=Impersonation]", b), 0u);
  EXPECT_EQ(b.endpoint, "135");
  ASSERT_EQ(parseBinding("ncalrpc:[LRPC-0a]", b), 0u);
  EXPECT_EQ(b.protseq, Protseq::Local);
  EXPECT_EQ(b.endpoint, "LRPC-0a");
  ASSERT_EQ(parseBinding("ncalrpc:", b), 0u);
  EXPECT_TRUE(b.endpoint.empty());
  EXPECT_EQ(toString(Binding{Protseq::Tcp, "h", "99"}), "ncacn_ip_tcp:h[99]");
}

TEST(Binding, IPv6HostsAndTheirAddresses) {
  Binding b;
  ASSERT_EQ(parseBinding("ncacn_ip_tcp:2001:db8::1[1234]", b), 0u);
  EXPECT_EQ(b.host, "2001:db8::1");
  EXPECT_EQ(b.endpoint, "1234");
  ASSERT_EQ(parseBinding("ncacn_ip_tcp:fe80::1%eth0", b), 0u);
  EXPECT_EQ(b.host, "fe80::1%eth0");
  EXPECT_EQ(toString(Binding{Protseq::Tcp, "::1", "135"}), "ncacn_ip_tcp:::1[135]");
  ASSERT_EQ(parseBinding(toString(Binding{Protseq::Tcp, "::1", "135"}), b), 0u);
  EXPECT_EQ(b.host, "::1");

  struct Case {
    const char* host;
    bool literal;
    const char* bare;
  };
  const Case cases[] = {
      {"[2001:db8::1]", true, "2001:db8::1"}, {"::1", true, "::1"},
      {"FE80::1%ETH0", true, "FE80::1%ETH0"}, {"[fe80::1%lo]", true, "fe80::1%lo"},
      {"10.1.2.3", false, "10.1.2.3"},        {"PC-07", false, "PC-07"},
      {"ncacn_ip_tcp:host", false, "ncacn_ip_tcp:host"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isIpv6Literal(c.host), c.literal) << c.host;
    EXPECT_EQ(withoutBrackets(c.host), c.bare) << c.host;
  }
}

TEST(TcpAddress, LiteralsZonesAndNames) {
  std::vector<sockaddr_storage> found;
  std::string error;
  ASSERT_TRUE(resolveTcpHost("[::1]", 135, found, error)) << error;
  ASSERT_EQ(found.size(), 1u);
  const auto& loopback = reinterpret_cast<const sockaddr_in6&>(found[0]);
  EXPECT_EQ(loopback.sin6_family, AF_INET6);
  EXPECT_EQ(ntohs(loopback.sin6_port), 135);
  EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&loopback.sin6_addr));

  // The zone names the interface, also when a console upper-cased it.
  for (const char* host : {"fe80::1%lo", "FE80::1%LO", "[fe80::1%1]"}) {
    ASSERT_TRUE(resolveTcpHost(host, 9, found, error)) << host << ": " << error;
    EXPECT_EQ(reinterpret_cast<const sockaddr_in6&>(found[0]).sin6_scope_id, if_nametoindex("lo")) << host;
  }
  EXPECT_FALSE(resolveTcpHost("fe80::1%no-such-if0", 9, found, error));
  EXPECT_NE(error.find("no interface no-such-if0"), std::string::npos) << error;

  ASSERT_TRUE(resolveTcpHost("127.0.0.1", 80, found, error));
  EXPECT_EQ(found[0].ss_family, AF_INET);
  EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(found[0]).sin_port), 80);
  EXPECT_FALSE(resolveTcpHost("no-such-host.invalid", 80, found, error));
}

TEST(Binding, ReportsWhyAStringIsUnusable) {
  Binding b;
  EXPECT_EQ(parseBinding("ncacn_nb_nb:HOST", b), status::kProtseqNotSupported);
  EXPECT_EQ(parseBinding("ncacn_spx:~0000", b), status::kProtseqNotSupported);
  EXPECT_EQ(parseBinding("ncfoo:host", b), status::kInvalidRpcProtseq);
  EXPECT_EQ(parseBinding("no colon", b), status::kInvalidStringBinding);
  EXPECT_EQ(parseBinding("ncacn_ip_tcp:host[12", b), status::kInvalidStringBinding);
  EXPECT_EQ(parseBinding("ncacn_ip_tcp:ho st[12]", b), status::kInvalidStringBinding);
  EXPECT_EQ(parseBinding("ncacn_ip_tcp:host[0]", b), status::kInvalidEndpointFormat);
  EXPECT_EQ(parseBinding("ncacn_ip_tcp:host[65536]", b), status::kInvalidEndpointFormat);
  EXPECT_EQ(parseBinding("ncacn_ip_tcp:host[http]", b), status::kInvalidEndpointFormat);
  EXPECT_EQ(parseBinding("ncalrpc:[../etc/passwd]", b), status::kInvalidEndpointFormat);
  EXPECT_EQ(parseBinding("ncalrpc:[a/b]", b), status::kInvalidEndpointFormat);
  EXPECT_EQ(parseBinding("ncalrpc:otherhost[x]", b), status::kInvalidStringBinding);
}

TEST(Binding, EndpointMapperPortComesFromTheEnvironment) {
  ::unsetenv("VELTRIS_EPM_PORT");
  EXPECT_EQ(endpointMapperPort(), 135);
  ::setenv("VELTRIS_EPM_PORT", "5135", 1);
  EXPECT_EQ(endpointMapperPort(), 5135);
  ::setenv("VELTRIS_EPM_PORT", "0", 1);
  EXPECT_EQ(endpointMapperPort(), 0);
  ::setenv("VELTRIS_EPM_PORT", "junk", 1);
  EXPECT_EQ(endpointMapperPort(), 135);
  ::unsetenv("VELTRIS_EPM_PORT");
}

}  // namespace
}  // namespace veltris::rpc
