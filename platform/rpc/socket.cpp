#include "platform/rpc/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>
#include <thread>

#include "platform/rpc/pdu.h"
#include "platform/rpc/status.h"
#include "platform/system_root.h"

namespace veltris::rpc {
namespace {

constexpr size_t kInitialReadBuffer = 16 * 1024;  // grows to hold the largest PDU seen
constexpr size_t kMaxReadBuffer = 128 * 1024;     // a maximal fragment and what follows

std::string errnoText(int error) { return std::system_category().message(error); }

int millisecondsUntil(Deadline deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
}

// Waits for `events` on fd; Ok when ready, TimedOut or Failed otherwise.
IoResult waitFor(int fd, short events, Deadline deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int ready = ::poll(&p, 1, millisecondsUntil(deadline));
    if (ready > 0) return IoResult::Ok;
    if (ready == 0) return IoResult::TimedOut;
    if (errno != EINTR) return IoResult::Failed;
  }
}

bool fillSockaddr(const std::filesystem::path& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return true;
}

std::string dynamicLocalName() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char name[32];
  std::snprintf(name, sizeof name, "LRPC-%016llx", static_cast<unsigned long long>(random()));
  return name;
}

// A socket file nobody answers on is left over from a process that died.
bool isStaleSocket(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  sockaddr_un address{};
  if (!fillSockaddr(path, address)) return false;
  Socket probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return false;
  int rc = ::connect(probe.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  return rc != 0 && errno == ECONNREFUSED;
}

Socket bindLocal(const std::filesystem::path& path, int backlog, ListenerResult& result) {
  sockaddr_un address{};
  if (!fillSockaddr(path, address)) {
    result = {status::kInvalidEndpointFormat, "", "socket path too long: " + path.native()};
    return {};
  }
  Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    result = {status::kCantCreateEndpoint, "", errnoText(errno)};
    return {};
  }
  if (isStaleSocket(path)) ::unlink(path.c_str());
  if (::bind(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    result = {error == EADDRINUSE ? status::kDuplicateEndpoint : status::kCantCreateEndpoint, "",
              path.native() + ": " + errnoText(error)};
    return {};
  }
  ::chmod(path.c_str(), 0666);  // any local user may call, as on NT
  if (::listen(socket.fd(), backlog) != 0) {
    result = {status::kCantCreateEndpoint, "", errnoText(errno)};
    ::unlink(path.c_str());
    return {};
  }
  return socket;
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

int Socket::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Socket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

IoResult writeAll(int fd, std::span<const uint8_t> data, Deadline deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      IoResult ready = waitFor(fd, POLLOUT, deadline);
      if (ready != IoResult::Ok) return ready;
      continue;
    }
    return errno == EPIPE || errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
  }
  return IoResult::Ok;
}

void setNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool connectionUnusable(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return true;
  return (p.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

PduReader::PduReader(int fd) : fd_(fd), buffer_(kInitialReadBuffer) {}

IoResult PduReader::fill(size_t count, Deadline deadline) {
  if (buffer_.size() - start_ < count) {  // make room at the back
    std::copy(buffer_.begin() + static_cast<long>(start_), buffer_.begin() + static_cast<long>(end_),
              buffer_.begin());
    end_ -= start_;
    start_ = 0;
    if (buffer_.size() < count) {
      buffer_.resize(std::max(count, std::min(buffer_.size() * 2, kMaxReadBuffer)));
    }
  }
  while (end_ - start_ < count) {
    ssize_t n = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, MSG_DONTWAIT);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return IoResult::Closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
    }
    IoResult ready = waitFor(fd_, POLLIN, deadline);
    if (ready != IoResult::Ok) return ready;
  }
  return IoResult::Ok;
}

IoResult PduReader::next(std::vector<uint8_t>& pdu, size_t maxLength, Deadline firstByte,
                         std::chrono::milliseconds rest) {
  if (IoResult r = fill(1, firstByte); r != IoResult::Ok) return r;
  Deadline deadline = Clock::now() + rest;
  if (IoResult r = fill(kCommonHeaderSize, deadline); r != IoResult::Ok) return r;
  auto header = decodeHeader({buffer_.data() + start_, kCommonHeaderSize});
  size_t length = header->fragLength;
  if (length < kCommonHeaderSize || length > maxLength) return IoResult::Malformed;
  if (IoResult r = fill(length, deadline); r != IoResult::Ok) return r;
  pdu.assign(buffer_.begin() + static_cast<long>(start_),
             buffer_.begin() + static_cast<long>(start_ + length));
  start_ += length;
  if (start_ == end_) start_ = end_ = 0;
  return IoResult::Ok;
}

Socket listenTcp(uint16_t port, int backlog, ListenerResult& result) {
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    result = {status::kCantCreateEndpoint, "", errnoText(errno)};
    return {};
  }
  int one = 1;
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket.fd(), backlog) != 0) {
    int error = errno;
    result = {error == EADDRINUSE ? status::kDuplicateEndpoint : status::kCantCreateEndpoint, "",
              "TCP port " + std::to_string(port) + ": " + errnoText(error)};
    return {};
  }
  socklen_t length = sizeof address;
  ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length);
  result = {status::kOk, std::to_string(ntohs(address.sin_port)), ""};
  return socket;
}

std::filesystem::path localSocketPath(std::string_view name) {
  return platform::rpcSocketDirectory() / std::string(name);
}

Socket listenLocal(const std::string& name, int backlog, ListenerResult& result) {
  if (!name.empty() && !isValidLocalEndpoint(name)) {
    result = {status::kInvalidEndpointFormat, "", "bad local endpoint name: " + name};
    return {};
  }
  std::error_code error;
  std::filesystem::create_directories(platform::rpcSocketDirectory(), error);
  if (error) {
    result = {status::kCantCreateEndpoint, "",
              platform::rpcSocketDirectory().native() + ": " + error.message()};
    return {};
  }
  constexpr int kDynamicAttempts = 8;
  for (int attempt = 0; attempt < kDynamicAttempts; ++attempt) {
    std::string endpoint = name.empty() ? dynamicLocalName() : name;
    Socket socket = bindLocal(localSocketPath(endpoint), backlog, result);
    if (socket.valid()) {
      result = {status::kOk, endpoint, ""};
      return socket;
    }
    if (!name.empty() || result.status != status::kDuplicateEndpoint) break;
  }
  return {};
}

uint64_t localSocketInode(const std::string& name) {
  struct stat info {};
  if (::lstat(localSocketPath(name).c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.st_ino);
}

void removeLocalSocket(const std::string& name, uint64_t inode) {
  if (inode != 0 && localSocketInode(name) == inode) ::unlink(localSocketPath(name).c_str());
}

uint32_t connectTcp(const std::string& host, uint16_t port, Deadline deadline, Socket& socket,
                    std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string name = host.empty() ? "127.0.0.1" : host;
  if (int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found); rc != 0 || !found) {
    error = name + ": " + ::gai_strerror(rc);
    return status::kServerUnavailable;
  }
  sockaddr_in address = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  int rc = s.valid() ? ::connect(s.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) : -1;
  if (rc != 0 && errno == EINPROGRESS) {
    if (waitFor(s.fd(), POLLOUT, deadline) != IoResult::Ok) {
      error = name + ": connection timed out";
      return status::kServerUnavailable;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    ::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &soError, &length);
    errno = soError;
    rc = soError == 0 ? 0 : -1;
  }
  if (rc != 0) {
    error = name + "[" + std::to_string(port) + "]: " + errnoText(errno);
    return status::kServerUnavailable;
  }
  setNoDelay(s.fd());
  socket = std::move(s);
  return status::kOk;
}

uint32_t connectLocal(const std::string& name, Deadline deadline, Socket& socket,
                      std::string& error) {
  sockaddr_un address{};
  auto path = localSocketPath(name);
  if (!isValidLocalEndpoint(name) || !fillSockaddr(path, address)) {
    error = "bad local endpoint: " + name;
    return status::kInvalidEndpointFormat;
  }
  for (;;) {
    Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (s.valid() && ::connect(s.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      socket = std::move(s);
      return status::kOk;
    }
    // A full accept queue answers EAGAIN: try again until the deadline.
    if (errno != EAGAIN || Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  error = path.native() + ": " + errnoText(errno);
  return status::kServerUnavailable;
}

std::string peerKey(int fd, Protseq protseq) {
  if (protseq == Protseq::Local) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return "local";
    return "uid:" + std::to_string(credentials.uid);
  }
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "tcp";
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

uint32_t localAddress(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return 0;
  }
  return ntohl(address.sin_addr.s_addr);
}

std::string localHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace veltris::rpc
