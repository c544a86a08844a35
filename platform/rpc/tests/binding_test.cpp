// String bindings and protocol sequences.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/rpc/binding.h"
#include "platform/rpc/status.h"

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
