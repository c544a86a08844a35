#pragma once
// Two addressed network namespaces for the live capture tests, made on the
// namespace pair every namespace test uses, and removed after the test.
#include <functional>
#include <string>

#include "tests/support/namespace_pair.h"

namespace veltris::capture::testing {

// Why live tests cannot run here, or empty when they can (root, ip, ping).
std::string liveTestsUnavailable();

// Runs a shell command with a time limit; answers its exit status.
inline int runCommand(const std::string& command) { return netconfig::testing::runQuiet(command); }

// The pair's ends addressed: interfaceA (10.213.0.1/24) in namespaceA,
// interfaceB (10.213.0.2/24) in namespaceB.
class VethNamespaces {
 public:
  bool create(std::string& error);
  std::string inA(const std::string& command) const { return "ip netns exec " + namespaceA + " " + command; }
  std::string inB(const std::string& command) const { return "ip netns exec " + namespaceB + " " + command; }

 private:
  netconfig::testing::NamespacePair pair_;

 public:
  const std::string &namespaceA = pair_.a, &namespaceB = pair_.b;
  const std::string &interfaceA = pair_.linkA, &interfaceB = pair_.linkB;
  static constexpr const char* kAddressA = "10.213.0.1";
  static constexpr const char* kAddressB = "10.213.0.2";
};

// Runs `body` on a thread that has entered the namespace, with that namespace's
// own /sys mounted for the thread alone; a test failure when it cannot.
void runInNamespace(const std::string& namespaceName, const std::function<void()>& body);

}  // namespace veltris::capture::testing
