#include "agent/metrics/metrics_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <sys/socket.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "agent/core/runtime.h"
#include "agent/metrics/metrics_text.h"
#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/service/service_manager.h"

namespace veltris::agent {
namespace {

// Limits that keep a slow or hostile client from holding the agent's resources:
// at most 4 connections per address; a request's headers complete within 5 s
// of its connect however slowly they trickle, and a connection lasts 30 s at
// most. Of the 64 connections at most 32 may wait for their headers: a new
// one beyond that closes the longest waiting, so a scrape finds room.
constexpr unsigned kMaxConnections = 64;
constexpr unsigned kMaxConnectionsPerAddress = 4;
constexpr size_t kMaxWaitingForHeaders = 32;
constexpr unsigned kIdleSeconds = 5;
constexpr auto kHeaderDeadline = std::chrono::seconds(5);
constexpr auto kConnectionDeadline = std::chrono::seconds(30);
constexpr auto kWatchInterval = std::chrono::milliseconds(100);
constexpr size_t kConnectionMemory = 16 * 1024;  // request line, headers and body together

}  // namespace

struct MetricsServer::Watch {
  using Clock = std::chrono::steady_clock;
  struct Open {
    int fd = -1;
    Clock::time_point connected;
    bool headersDone = false;
    bool cut = false;  // shut down, waiting for the server to close it
  };

  const GlobalArea* global = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::map<MHD_Connection*, Open> open;  // removed before the server closes the socket
  std::thread thread;

  // Under `mutex`: the socket is still the connection's, since its close waits for the lock.
  static void cut(Open& connection) {
    if (connection.cut) return;
    connection.cut = true;
    ::shutdown(connection.fd, SHUT_RDWR);
  }

  void started(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return;
    std::lock_guard lock(mutex);
    open[connection] = Open{info->connect_fd, Clock::now()};
    size_t waiting = 0;
    Open* longest = nullptr;
    for (auto& [c, o] : open) {
      if (o.headersDone || o.cut) continue;
      ++waiting;
      if (longest == nullptr || o.connected < longest->connected) longest = &o;
    }
    if (waiting > kMaxWaitingForHeaders && longest != nullptr) cut(*longest);
  }

  void closed(MHD_Connection* connection) {
    std::lock_guard lock(mutex);
    open.erase(connection);
  }

  void headersComplete(MHD_Connection* connection) {
    std::lock_guard lock(mutex);
    if (auto it = open.find(connection); it != open.end()) it->second.headersDone = true;
  }

  void run() {
    std::unique_lock lock(mutex);
    while (!wake.wait_for(lock, kWatchInterval, [this] { return stopping; })) {
      const Clock::time_point now = Clock::now();
      for (auto& [c, o] : open) {
        if ((!o.headersDone && now - o.connected > kHeaderDeadline) || now - o.connected > kConnectionDeadline) cut(o);
      }
    }
  }

  void stop() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
  }
};

namespace {

void notifyConnection(void* context, MHD_Connection* connection, void** /*socketContext*/,
                      MHD_ConnectionNotificationCode code) {
  auto* watch = static_cast<MetricsServer::Watch*>(context);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) watch->started(connection);
  else watch->closed(connection);
}

MHD_Result respond(MHD_Connection* connection, unsigned status, std::string_view body, const char* type,
                   const char* allow = nullptr) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
  // One request per connection: each one's deadline counts from its connect.
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize, void** state) {
  auto* watch = static_cast<MetricsServer::Watch*>(context);
  // A body (which no valid request has) is discarded as it arrives; the
  // connection memory limit bounds what is buffered.
  if (*state == nullptr) {
    static int started;
    *state = &started;
    watch->headersComplete(connection);
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
      return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method not allowed\n", "text/plain", "GET, HEAD");
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;
    return MHD_YES;
  }
  if (std::strcmp(url, "/metrics") != 0) return respond(connection, MHD_HTTP_NOT_FOUND, "Not found\n", "text/plain");
  return respond(connection, MHD_HTTP_OK, metricsText(*watch->global), "text/plain; version=0.0.4; charset=utf-8");
}

bool parsePort(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool parseListenAddress(std::string_view text, ListenAddress& out, std::string& error) {
  out = ListenAddress{};
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    error = "no port: expected ADDRESS:PORT";
    return false;
  }
  std::string host(text.substr(0, colon));
  uint16_t port = 0;
  if (!parsePort(text.substr(colon + 1), port)) {
    error = "port must be a number from 0 to 65535";
    return false;
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.address);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6->sin6_addr) != 1) {
      error = "'" + host + "' is not an IPv6 address";
      return false;
    }
    out.length = sizeof(sockaddr_in6);
    return true;
  }
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out.address);
  v4->sin_family = AF_INET;
  v4->sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) != 1) {
    error = "'" + host + "' is not an IPv4 address (write IPv6 addresses in brackets)";
    return false;
  }
  out.length = sizeof(sockaddr_in);
  return true;
}

bool MetricsServer::start(const GlobalArea& global, std::string_view listen, std::string& error) {
  stop();
  ListenAddress address;
  if (!parseListenAddress(listen, address, error)) return false;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
  if (address.address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.address);
    flags |= IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr) ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
  }
  watch_ = std::make_unique<Watch>();
  watch_->global = &global;
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &answer, watch_.get(),
                             MHD_OPTION_NOTIFY_CONNECTION, &notifyConnection, watch_.get(),
                             MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address.address),
                             MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                             MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
                             MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
                             MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    error = "cannot listen on " + std::string(listen) + ": " + std::strerror(errno);
    watch_.reset();
    return false;
  }
  watch_->thread = std::thread([watch = watch_.get()] { watch->run(); });
  port_ = 0;
  if (const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_LISTEN_FD)) {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(info->listen_fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
      port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  }
  return true;
}

MetricsServer::MetricsServer() = default;
MetricsServer::~MetricsServer() { stop(); }

void MetricsServer::stop() {
  if (watch_) watch_->stop();
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  watch_.reset();
  port_ = 0;
}

uint16_t MetricsServer::port() const { return port_; }

void startMetricsFromRegistry(const GlobalArea& global, MetricsServer& server) {
  reg::Registry registry = reg::Registry::system();
  std::string listen;
  if (registry.queryString(kParametersKey, kMetricsAddressValue, listen) != reg::kSuccess || listen.empty()) return;
  std::string error;
  if (!server.start(global, listen, error)) {
    consolePrint("ERROR - Metrics endpoint not started: MetricsAddress '%s': %s\n", listen.c_str(), error.c_str());
    std::string text = "Metrics endpoint not started: MetricsAddress '" + listen + "': " + error;
    service::writeEventLog("TapsorSv", 0, text.c_str());
    return;
  }
  consolePrint("Metrics endpoint listening on %s (port %u), path /metrics\n", listen.c_str(), server.port());
}

}  // namespace veltris::agent
