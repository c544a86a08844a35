#include "tests/support/test_namespace.h"

#include <gtest/gtest.h>

namespace veltris::capture::testing {

std::string liveTestsUnavailable() {
  if (std::string why = netconfig::testing::namespaceTestsUnavailable(); !why.empty()) return why;
  if (runCommand("command -v ping") != 0) return "ping is missing";
  return {};
}

bool VethNamespaces::create(std::string& error) {
  return pair_.create(error) &&
         netconfig::testing::NamespacePair::run(
             {"ip -n " + namespaceA + " addr add " + kAddressA + "/24 dev " + interfaceA,
              "ip -n " + namespaceB + " addr add " + kAddressB + "/24 dev " + interfaceB},
             error);
}

void runInNamespace(const std::string& namespaceName, const std::function<void()>& body) {
  std::string error;
  if (!netconfig::testing::runInNamespace(namespaceName, body, error, true))
    ADD_FAILURE() << "cannot enter namespace " << namespaceName << ": " << error;
}

}  // namespace veltris::capture::testing
