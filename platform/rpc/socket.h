#pragma once
// Stream sockets for the two transports: TCP and Unix sockets under the system
// root's RPC socket directory. Every socket is non-blocking; reads and writes
// wait with poll() up to a deadline.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sys/socket.h>
#include <span>
#include <string>
#include <vector>

#include "platform/rpc/binding.h"

namespace veltris::rpc {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { close(); }
  Socket(Socket&& other) noexcept : fd_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void close();

 private:
  int fd_ = -1;
};

enum class IoResult { Ok, Closed, TimedOut, Failed, Malformed };

IoResult writeAll(int fd, std::span<const uint8_t> data, Deadline deadline);
// Fragments go out as soon as they are written: no waiting for the peer's ACK.
void setNoDelay(int fd);
// True when the peer has closed or reset the connection, or sent something
// nobody asked for; checked without waiting.
bool connectionUnusable(int fd);

// Reads whole PDUs off a stream, keeping what arrives behind one PDU for the next.
class PduReader {
 public:
  explicit PduReader(int fd);

  // Waits for the first byte until `firstByte`; the rest of the PDU must then
  // arrive within `rest`. A fragment length below 16 or above maxLength gives
  // Malformed.
  IoResult next(std::vector<uint8_t>& pdu, size_t maxLength, Deadline firstByte,
                std::chrono::milliseconds rest);
  bool hasBufferedBytes() const { return end_ > start_; }

 private:
  IoResult fill(size_t count, Deadline deadline);

  int fd_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  size_t end_ = 0;
};

struct ListenerResult {
  uint32_t status = 0;
  std::string endpoint;  // port in decimal, or the local endpoint name
  std::string error;     // why it failed, for people
};

// An address a TCP endpoint listens on (its port is ignored).
struct ListenAddress {
  sockaddr_storage address{};
  std::string text;  // for messages
};
// "127.0.0.1", "::1", "fe80::1%eth0": false when the text is no address.
bool parseListenAddress(const std::string& text, ListenAddress& out);

// Port 0 or an empty name asks for a dynamic endpoint. Without addresses a
// TCP endpoint listens on every address, IPv6 and IPv4 (IPv4 alone where the
// host has no IPv6); with addresses, on each of them with one port.
std::vector<Socket> listenTcp(uint16_t port, int backlog, ListenerResult& result,
                              const std::vector<ListenAddress>& addresses = {});
Socket listenLocal(const std::string& name, int backlog, ListenerResult& result);
std::filesystem::path localSocketPath(std::string_view name);
// Removes a local endpoint's socket file if it is still the one we created.
void removeLocalSocket(const std::string& name, uint64_t inode);
uint64_t localSocketInode(const std::string& name);

// Status 0, or kServerUnavailable with the reason in `error`.
uint32_t connectTcp(const std::string& host, uint16_t port, Deadline deadline, Socket& socket,
                    std::string& error);
uint32_t connectLocal(const std::string& name, Deadline deadline, Socket& socket,
                      std::string& error);

// Who is at the other end (for per-peer limits) and which local IPv4 address a
// TCP connection arrived on (host order; 0 for local connections and IPv6).
std::string peerKey(int fd, Protseq protseq);
// "uid:N" of the process at the other end when it runs on this machine (a
// local socket, or TCP between two addresses of this host); empty otherwise.
std::string peerUser(int fd, Protseq protseq);
uint32_t localAddress(int fd);
std::string localHostName();

}  // namespace veltris::rpc
