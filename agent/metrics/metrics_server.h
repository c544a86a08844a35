#pragma once
// The optional HTTP endpoint serving the agent's metrics at /metrics.
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "agent/core/state.h"

struct MHD_Daemon;

namespace veltris::agent {

constexpr char kMetricsAddressValue[] = "MetricsAddress";

struct ListenAddress {
  sockaddr_storage address{};
  socklen_t length = 0;
};

// "ADDRESS:PORT" with a numeric IPv4 address, or "[IPv6]:PORT"; port 0 picks
// a free one. False with the reason in `error`.
bool parseListenAddress(std::string_view text, ListenAddress& out, std::string& error);

class MetricsServer {
 public:
  MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;
  ~MetricsServer();

  // Serves `global` on `listen` from a thread of its own. False with the reason.
  bool start(const GlobalArea& global, std::string_view listen, std::string& error);
  void stop();
  uint16_t port() const;  // the bound port, 0 when not serving

  struct Watch;  // the server's connections and their deadlines

 private:
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::unique_ptr<Watch> watch_;  // connections, their deadlines and the page's source
};

// Reads "MetricsAddress" under Parameters and starts the server when it is set;
// a malformed value or a failed start prints one line and leaves it off.
void startMetricsFromRegistry(const GlobalArea& global, MetricsServer& server);

}  // namespace veltris::agent
