#include "tests/support/agent_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/registry_names.h"
#include "platform/registry/registry.h"

namespace veltris::cli::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kPython[] = "/usr/bin/python3";

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const std::string& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// In a forked child: the environment entries, then the program.
[[noreturn]] void execWith(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  for (const std::string& entry : environment) {
    const size_t equals = entry.find('=');
    ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  std::vector<char*> args = cStrings(argv);
  ::execv(args[0], args.data());
  ::_exit(127);
}

// Reads both pipes to their end, or until the deadline.
void drain(int outFd, int errFd, ProgramResult& result, Clock::time_point deadline) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buffer[65536];
  while (open > 0 && Clock::now() < deadline) {
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

int waitExit(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(10ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProgramResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                         std::chrono::seconds limit) {
  ProgramResult result;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return result;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    execWith(argv, environment);
  }
  ::close(out[1]);
  ::close(err[1]);
  const auto deadline = Clock::now() + limit;
  if (pid > 0) {
    drain(out[0], err[0], result, deadline);
    result.exitCode = waitExit(pid, deadline);
  }
  ::close(out[0]);
  ::close(err[0]);
  return result;
}

TempRoot::TempRoot() {
  char pattern[] = "/tmp/veltris-cli-XXXXXX";
  path_ = ::mkdtemp(pattern);
}

TempRoot::~TempRoot() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void TempRoot::setOpenKey(const std::string& key) const {
  fs::create_directories(path_ / "etc/veltris");
  reg::Registry(path_ / "etc/veltris/registry.reg").setString(kParametersKey, "OpenKey", key);
}

bool AgentProcess::start(const fs::path& root, const std::vector<std::string>& adapters,
                         const std::vector<std::string>& environment) {
  outputFile_ = root / "agent.out";
  std::vector<std::string> argv = {TAPSORSV_PATH, "-debug"};
  argv.insert(argv.end(), adapters.begin(), adapters.end());
  std::vector<std::string> env = {"VELTRIS_ROOT=" + root.string()};
  env.insert(env.end(), environment.begin(), environment.end());
  pid_ = ::fork();
  if (pid_ == 0) {
    int fd = ::open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    execWith(argv, env);
  }
  return pid_ > 0;
}

std::string AgentProcess::output() const {
  std::ifstream in(outputFile_);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool AgentProcess::running() {
  int status = 0;
  if (pid_ <= 0) return false;
  return ::waitpid(pid_, &status, WNOHANG) == 0;
}

bool AgentProcess::waitForOutput(const std::string& text, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (output().find(text) != std::string::npos) return true;
    if (!running()) return output().find(text) != std::string::npos;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

int AgentProcess::stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGINT);
  int status = waitExit(pid_, Clock::now() + 15s);
  pid_ = -1;
  return status;
}

uint16_t freeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool havePython() { return ::access(kPython, X_OK) == 0; }

std::string evalJson(const std::string& text, const std::string& expression) {
  const std::string script =
      "import json, sys\n"
      "text, docs, at, decoder = open(sys.argv[1]).read(), [], 0, json.JSONDecoder()\n"
      "while text[at:].strip():\n"
      "    while text[at].isspace(): at += 1\n"
      "    doc, at = decoder.raw_decode(text, at)\n"
      "    docs.append(doc)\n"
      "print(eval(sys.argv[2]))\n";
  char path[] = "/tmp/veltris-cli-json-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return "no temporary file";
  ::close(fd);
  std::ofstream(path, std::ios::binary) << text;
  ProgramResult result = runProgram({kPython, "-c", script, path, expression}, {}, 30s);
  ::unlink(path);
  std::string out = result.exitCode == 0 ? result.out : "python failed: " + result.err;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace veltris::cli::testing
