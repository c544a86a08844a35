#include "agent/metrics/metrics_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

#include "agent/core/runtime.h"
#include "agent/metrics/metrics_text.h"
#include "common/registry_names.h"
#include "platform/registry/registry.h"
#include "platform/service/service_manager.h"

namespace veltris::agent {
namespace {

// Limits that keep a slow or hostile client from holding the agent's resources.
constexpr unsigned kMaxConnections = 16;
constexpr unsigned kMaxConnectionsPerAddress = 4;
constexpr unsigned kIdleSeconds = 5;
constexpr size_t kConnectionMemory = 16 * 1024;  // request line, headers and body together

MHD_Result respond(MHD_Connection* connection, unsigned status, std::string_view body, const char* type,
                   const char* allow = nullptr) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  if (allow != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
  MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize, void** state) {
  // A body (which no valid request has) is discarded as it arrives; the
  // connection memory limit bounds what is buffered.
  if (*state == nullptr) {
    static int started;
    *state = &started;
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
      return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method not allowed\n", "text/plain", "GET, HEAD");
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;
    return MHD_YES;
  }
  if (std::strcmp(url, "/metrics") != 0) return respond(connection, MHD_HTTP_NOT_FOUND, "Not found\n", "text/plain");
  const auto& global = *static_cast<const GlobalArea*>(context);
  return respond(connection, MHD_HTTP_OK, metricsText(global), "text/plain; version=0.0.4; charset=utf-8");
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
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &answer, const_cast<GlobalArea*>(&global),
                             MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address.address),
                             MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                             MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
                             MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
                             MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    error = "cannot listen on " + std::string(listen) + ": " + std::strerror(errno);
    return false;
  }
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

void MetricsServer::stop() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
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
