#pragma once
// Network namespaces that one test creates and removes again, with unique names
// (process id and a counter), and a way to run code inside one of them.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace veltris::netconfig::testing {

// Runs a shell command, silenced, for at most 20 seconds; answers its exit status.
inline int runQuiet(const std::string& command) {
  const std::string limited = "timeout 20 sh -c '" + command + "' >/dev/null 2>&1";
  const int status = std::system(limited.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Why namespace tests cannot run here, or empty when they can.
inline std::string namespaceTestsUnavailable() {
  if (::geteuid() != 0) return "network namespace tests need root";
  if (runQuiet("command -v ip") != 0) return "the ip command is missing";
  return {};
}

// Two namespaces joined by a veth pair, both ends up and without addresses.
class NamespacePair {
 public:
  NamespacePair() {
    static std::atomic<int> counter{0};
    const int n = counter++;
    const std::string id = std::to_string(::getpid()) + "-" + std::to_string(n);
    a = "veltris-nc-" + id + "-a";
    b = "veltris-nc-" + id + "-b";
    const std::string shortId = std::to_string(::getpid() % 100000) + std::to_string(n % 100);
    linkA = "vn" + shortId + "a";
    linkB = "vn" + shortId + "b";
  }
  ~NamespacePair() { remove(); }
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;

  bool create(std::string& error) {
    remove();
    const std::vector<std::string> steps = {
        "ip netns add " + a,
        "ip netns add " + b,
        "ip -n " + a + " link add " + linkA + " type veth peer name " + linkB + " netns " + b,
        "ip -n " + a + " link set " + linkA + " up",
        "ip -n " + b + " link set " + linkB + " up",
        "ip -n " + a + " link set lo up",
        "ip -n " + b + " link set lo up",
    };
    return run(steps, error);
  }

  // Each command in turn; stops at the first failure.
  static bool run(const std::vector<std::string>& commands, std::string& error) {
    for (const std::string& command : commands) {
      if (runQuiet(command) != 0) {
        error = "failed: " + command;
        return false;
      }
    }
    return true;
  }

  std::string a, b, linkA, linkB;

 private:
  // Deleting the namespaces deletes the veth pair and everything in them.
  void remove() {
    runQuiet("ip netns del " + a);
    runQuiet("ip netns del " + b);
  }
};

// Enters the named network namespace on the calling thread; with `ownSysfs` the
// thread also gets a private mount table with that namespace's /sys (what the
// capture layer reads of an interface). Answers why it failed, or empty.
inline std::string enterNamespace(const std::string& name, bool ownSysfs) {
  auto failed = [](const std::string& what) { return what + ": " + std::strerror(errno); };
  if (ownSysfs && ::unshare(CLONE_NEWNS) != 0) return failed("unshare");
  if (ownSysfs && ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) return failed("mount");
  const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed("open namespace " + name);
  const int entered = ::setns(fd, CLONE_NEWNET);
  ::close(fd);
  if (entered != 0) return failed("setns " + name);
  if (!ownSysfs) return {};
  ::umount2("/sys", MNT_DETACH);
  if (::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) return failed("mount sysfs");
  return {};
}

// Runs `body` on a thread that has entered the named network namespace; false
// with `error` set when the namespace cannot be entered.
inline bool runInNamespace(const std::string& name, const std::function<void()>& body, std::string& error,
                           bool ownSysfs = false) {
  std::thread worker([&] {
    error = enterNamespace(name, ownSysfs);
    if (error.empty()) body();
  });
  worker.join();
  return error.empty();
}

}  // namespace veltris::netconfig::testing
