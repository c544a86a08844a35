#include "platform/rpc/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
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
#include "platform/rpc/tcp_address.h"
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

namespace {

Socket bindTcp(const sockaddr_storage& at, uint16_t port, int backlog, bool dualStack, int& error) {
  sockaddr_storage address = at;
  socklen_t length = sizeof(sockaddr_in);
  if (address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
  } else {
    reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
  }
  Socket socket(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    error = errno;
    return {};
  }
  int one = 1;
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (address.ss_family == AF_INET6) {
    int only = dualStack ? 0 : 1;
    ::setsockopt(socket.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
  }
  if (::bind(socket.fd(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(socket.fd(), backlog) != 0) {
    error = errno;
    return {};
  }
  return socket;
}

uint16_t boundPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

// One port on every address; a dynamic port taken on one of them is tried again.
std::vector<Socket> listenOnEach(uint16_t port, int backlog, const std::vector<ListenAddress>& addresses,
                                 ListenerResult& result) {
  constexpr int kAttempts = 8;
  int error = 0;
  std::string failed;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::vector<Socket> sockets;
    uint16_t chosen = port;
    for (const ListenAddress& a : addresses) {
      Socket s = bindTcp(a.address, chosen, backlog, false, error);
      if (!s.valid()) {
        failed = a.text;
        break;
      }
      if (chosen == 0) chosen = boundPort(s.fd());
      sockets.push_back(std::move(s));
    }
    if (sockets.size() == addresses.size()) {
      result = {status::kOk, std::to_string(chosen), ""};
      return sockets;
    }
    if (port != 0 || error != EADDRINUSE) break;
  }
  result = {error == EADDRINUSE ? status::kDuplicateEndpoint : status::kCantCreateEndpoint, "",
            "TCP port " + std::to_string(port) + " on " + failed + ": " + errnoText(error)};
  return {};
}

}  // namespace

bool parseListenAddress(const std::string& text, ListenAddress& out) {
  out = {};
  out.text = text;
  auto& v4 = reinterpret_cast<sockaddr_in&>(out.address);
  if (::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  std::memcpy(&out.address, found->ai_addr, found->ai_addrlen);
  ::freeaddrinfo(found);
  return true;
}

std::vector<Socket> listenTcp(uint16_t port, int backlog, ListenerResult& result,
                              const std::vector<ListenAddress>& addresses) {
  if (!addresses.empty()) return listenOnEach(port, backlog, addresses, result);
  int error = 0;
  sockaddr_storage any{};
  any.ss_family = AF_INET6;  // in6addr_any: zero bytes
  Socket socket = bindTcp(any, port, backlog, true, error);
  if (!socket.valid() && (error == EAFNOSUPPORT || error == EADDRNOTAVAIL)) {  // no IPv6 here
    any = {};
    any.ss_family = AF_INET;
    socket = bindTcp(any, port, backlog, false, error);
  }
  if (!socket.valid()) {
    result = {error == EADDRINUSE ? status::kDuplicateEndpoint : status::kCantCreateEndpoint, "",
              "TCP port " + std::to_string(port) + ": " + errnoText(error)};
    return {};
  }
  result = {status::kOk, std::to_string(boundPort(socket.fd())), ""};
  std::vector<Socket> sockets;
  sockets.push_back(std::move(socket));
  return sockets;
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

namespace {

// One attempt: Ok, or the reason in `error`.
bool connectOne(const sockaddr_storage& address, Deadline deadline, Socket& socket, std::string& error) {
  socklen_t length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  Socket s(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  int rc = s.valid() ? ::connect(s.fd(), reinterpret_cast<const sockaddr*>(&address), length) : -1;
  if (rc != 0 && errno == EINPROGRESS) {
    if (waitFor(s.fd(), POLLOUT, deadline) != IoResult::Ok) {
      error = "connection timed out";
      return false;
    }
    int soError = 0;
    socklen_t size = sizeof soError;
    ::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &soError, &size);
    errno = soError;
    rc = soError == 0 ? 0 : -1;
  }
  if (rc != 0) {
    error = errnoText(errno);
    return false;
  }
  setNoDelay(s.fd());
  socket = std::move(s);
  return true;
}

}  // namespace

uint32_t connectTcp(const std::string& host, uint16_t port, Deadline deadline, Socket& socket,
                    std::string& error) {
  std::string name = host.empty() ? "127.0.0.1" : host;
  std::vector<sockaddr_storage> addresses;
  if (!resolveTcpHost(name, port, addresses, error)) return status::kServerUnavailable;
  // Each address in the resolver's order: a host with IPv6 and IPv4 addresses
  // is reached on whichever answers.
  for (const sockaddr_storage& address : addresses) {
    std::string reason;
    if (connectOne(address, deadline, socket, reason)) return status::kOk;
    error = name + "[" + std::to_string(port) + "]: " + reason;
    if (Clock::now() >= deadline) break;
  }
  return status::kServerUnavailable;
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

namespace {

// IPv4 addresses seen through a dual-stack socket come as ::ffff:a.b.c.d.
sockaddr_storage unmapped(const sockaddr_storage& address) {
  if (address.ss_family != AF_INET6) return address;
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
  if (!IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) return address;
  sockaddr_storage v4{};
  auto& out = reinterpret_cast<sockaddr_in&>(v4);
  out.sin_family = AF_INET;
  out.sin_port = v6.sin6_port;
  std::memcpy(&out.sin_addr, v6.sin6_addr.s6_addr + 12, 4);
  return v4;
}

bool endpointOf(int fd, bool peer, sockaddr_storage& address) {
  socklen_t length = sizeof address;
  int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (rc != 0) return false;
  address = unmapped(address);
  return address.ss_family == AF_INET || address.ss_family == AF_INET6;
}

std::string addressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  } else {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  }
  return text;
}

bool isLoopback(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return (ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr) >> 24) == 127;
  }
  return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

// The owner of the socket at the other end of a TCP connection inside this
// host, asked of the kernel's socket diagnostics.
std::string tcpPeerOwner(const sockaddr_storage& local, const sockaddr_storage& peer) {
  Socket netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!netlink.valid()) return {};
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  inet_diag_req_v2& r = message.request;
  r.sdiag_family = static_cast<uint8_t>(peer.ss_family);
  r.sdiag_protocol = IPPROTO_TCP;
  r.idiag_states = ~0u;
  r.id.idiag_cookie[0] = r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (peer.ss_family == AF_INET) {  // the peer's socket: source is the peer, destination us
    const auto& p = reinterpret_cast<const sockaddr_in&>(peer);
    const auto& l = reinterpret_cast<const sockaddr_in&>(local);
    r.id.idiag_sport = p.sin_port;
    r.id.idiag_dport = l.sin_port;
    std::memcpy(r.id.idiag_src, &p.sin_addr, 4);
    std::memcpy(r.id.idiag_dst, &l.sin_addr, 4);
  } else {
    const auto& p = reinterpret_cast<const sockaddr_in6&>(peer);
    const auto& l = reinterpret_cast<const sockaddr_in6&>(local);
    r.id.idiag_sport = p.sin6_port;
    r.id.idiag_dport = l.sin6_port;
    std::memcpy(r.id.idiag_src, &p.sin6_addr, 16);
    std::memcpy(r.id.idiag_dst, &l.sin6_addr, 16);
  }
  if (::send(netlink.fd(), &message, sizeof message, 0) != static_cast<ssize_t>(sizeof message)) return {};
  pollfd p{netlink.fd(), POLLIN, 0};
  if (::poll(&p, 1, 200) != 1) return {};
  alignas(nlmsghdr) uint8_t answer[1024];
  ssize_t got = ::recv(netlink.fd(), answer, sizeof answer, MSG_DONTWAIT);
  const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
  if (got < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(inet_diag_msg))) || header->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
    return {};
  }
  const auto* found = reinterpret_cast<const inet_diag_msg*>(NLMSG_DATA(header));
  constexpr uint8_t kListening = 10;  // a listener matched the ports, not the peer's own socket
  if (found->idiag_state == kListening || found->id.idiag_sport != r.id.idiag_sport) return {};
  return "uid:" + std::to_string(found->idiag_uid);
}

}  // namespace

std::string peerKey(int fd, Protseq protseq) {
  if (protseq == Protseq::Local) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return "local";
    return "uid:" + std::to_string(credentials.uid);
  }
  sockaddr_storage address{};
  if (!endpointOf(fd, true, address)) return "tcp";
  return addressText(address);
}

std::string peerUser(int fd, Protseq protseq) {
  if (protseq == Protseq::Local) {
    std::string key = peerKey(fd, protseq);
    return key.starts_with("uid:") ? key : std::string{};
  }
  sockaddr_storage local{};
  sockaddr_storage peer{};
  if (!endpointOf(fd, false, local) || !endpointOf(fd, true, peer) || local.ss_family != peer.ss_family) return {};
  // From this host: loopback, or arriving on the very address it came from.
  if (!isLoopback(peer) && addressText(peer) != addressText(local)) return {};
  return tcpPeerOwner(local, peer);
}

uint32_t localAddress(int fd) {
  sockaddr_storage address{};
  if (!endpointOf(fd, false, address) || address.ss_family != AF_INET) return 0;
  return ntohl(reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr);
}

std::string localHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace veltris::rpc
