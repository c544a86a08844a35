#include "tests/support/test_namespace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace veltris::capture::testing {

std::string liveTestsUnavailable() {
  if (::geteuid() != 0) return "live capture tests need root";
  if (runCommand("command -v ip >/dev/null && command -v ping >/dev/null") != 0) return "ip or ping is missing";
  return {};
}

int runCommand(const std::string& command) {
  const std::string limited = "timeout 20 sh -c '" + command + "' >/dev/null 2>&1";
  const int status = std::system(limited.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

VethNamespaces::VethNamespaces() {
  const std::string id = std::to_string(::getpid());
  namespaceA = "veltris-cap-" + id + "-a";
  namespaceB = "veltris-cap-" + id + "-b";
  interfaceA = "vc" + id + "a";
  interfaceB = "vc" + id + "b";
}

VethNamespaces::~VethNamespaces() {
  if (created_) remove();
}

// Deleting the namespaces deletes the veth pair with them.
void VethNamespaces::remove() {
  runCommand("ip netns del " + namespaceA);
  runCommand("ip netns del " + namespaceB);
}

bool VethNamespaces::create(std::string& error) {
  created_ = true;
  remove();  // left over from an earlier run with the same process id
  const std::string steps[] = {
      "ip netns add " + namespaceA,
      "ip netns add " + namespaceB,
      "ip -n " + namespaceA + " link add " + interfaceA + " type veth peer name " + interfaceB + " netns " +
          namespaceB,
      "ip -n " + namespaceA + " addr add " + kAddressA + "/24 dev " + interfaceA,
      "ip -n " + namespaceB + " addr add " + kAddressB + "/24 dev " + interfaceB,
      "ip -n " + namespaceA + " link set " + interfaceA + " up",
      "ip -n " + namespaceB + " link set " + interfaceB + " up",
  };
  for (const std::string& step : steps) {
    if (runCommand(step) != 0) {
      error = "failed: " + step;
      return false;
    }
  }
  return true;
}

std::string VethNamespaces::inA(const std::string& command) const {
  return "ip netns exec " + namespaceA + " " + command;
}

std::string VethNamespaces::inB(const std::string& command) const {
  return "ip netns exec " + namespaceB + " " + command;
}

namespace {

std::string enterNamespace(const std::string& namespaceName) {
  if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) return std::string("mount: ") + std::strerror(errno);
  const int fd = ::open(("/run/netns/" + namespaceName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "open namespace: " + std::string(std::strerror(errno));
  const int entered = ::setns(fd, CLONE_NEWNET);
  ::close(fd);
  if (entered != 0) return std::string("setns: ") + std::strerror(errno);
  ::umount2("/sys", MNT_DETACH);
  if (::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) return std::string("mount sysfs: ") + std::strerror(errno);
  return {};
}

}  // namespace

void runInNamespace(const std::string& namespaceName, const std::function<void()>& body) {
  std::thread worker([&] {
    const std::string failure = enterNamespace(namespaceName);
    if (!failure.empty()) {
      ADD_FAILURE() << "cannot enter namespace " << namespaceName << ": " << failure;
      return;
    }
    body();
  });
  worker.join();
}

}  // namespace veltris::capture::testing
