// An independent DCE/RPC client, python3-impacket, against the test server:
// endpoint mapper lookup, bind, PingRpc and RequestRpc with raw stub bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kPython = "/usr/bin/python3";  // the one that sees Debian's packages
constexpr int kSkipped = 77;

TEST(RpcServerInterop, ImpacketMapsBindsAndCallsBothProcedures) {
  if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not installed";
  std::string command = std::string(kPython) + " " IMPACKET_CLIENT " " RPC_TEST_SERVER " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int status = ::pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("ALL CHECKS PASSED"), std::string::npos) << output;
}

}  // namespace
