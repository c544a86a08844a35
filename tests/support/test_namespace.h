#pragma once
// Network namespaces made by one test and removed after it, whatever happens.
#include <functional>
#include <string>

namespace veltris::capture::testing {

// Why live tests cannot run here, or empty when they can (root, ip, ping).
std::string liveTestsUnavailable();

// Runs a shell command with a time limit; answers its exit status.
int runCommand(const std::string& command);

// Two namespaces joined by a veth pair: interfaceA (10.213.0.1/24) in namespaceA,
// interfaceB (10.213.0.2/24) in namespaceB. Names carry the process id.
class VethNamespaces {
 public:
  VethNamespaces();
  ~VethNamespaces();
  VethNamespaces(const VethNamespaces&) = delete;
  VethNamespaces& operator=(const VethNamespaces&) = delete;

  bool create(std::string& error);
  std::string inA(const std::string& command) const;  // "ip netns exec <A> <command>"
  std::string inB(const std::string& command) const;

  std::string namespaceA, namespaceB, interfaceA, interfaceB;
  static constexpr const char* kAddressA = "10.213.0.1";
  static constexpr const char* kAddressB = "10.213.0.2";

 private:
  void remove();
  bool created_ = false;
};

// Runs `body` on a thread that has entered the namespace, with that namespace's
// own /sys mounted for the thread alone.
void runInNamespace(const std::string& namespaceName, const std::function<void()>& body);

}  // namespace veltris::capture::testing
