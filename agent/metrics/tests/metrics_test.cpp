// The metrics page, its listen value and the HTTP endpoint's answers and limits.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/core/frame_summary.h"
#include "agent/metrics/metrics_server.h"
#include "agent/metrics/metrics_text.h"

namespace veltris::agent {
namespace {

NicArea& addNic(GlobalArea& global, const char* device) {
  auto& slot = global.nics[global.adapterCount++];
  slot = std::make_unique<NicArea>();
  slot->index = global.adapterCount - 1;
  std::snprintf(slot->deviceName, sizeof slot->deviceName, "\\Device\\Tapsor_%s", device);
  return *slot;
}

// Two adapters, one named like a capture file with characters that need escaping.
struct SampleAgent {
  GlobalArea global;
  SampleAgent() {
    std::strcpy(global.hostName, "PC01");
    global.startTime = 1700000000;
    global.trafficState = 4;
    global.totals.sequence = 1234;
    NicArea& eth = addNic(global, "eth0");
    eth.counters.sessionFrames[kSent].add(5000000000ULL);  // beyond 32 bits
    eth.counters.sessionFrames[kReceived].add(7);
    eth.counters.sessionBytes[kReceived].add(1514 * 7);
    eth.counters.broadcasts[kSent].add(3);
    eth.counters.errorFrames[kReceived].add(2);
    eth.counters.errorKinds[kTcpReset].add(2);
    eth.counters.unfiled.add(9);
    eth.counters.familyFrames[static_cast<int>(AddressFamily::Ipv6)].add(11);
    eth.partnerCount = 12;
    eth.stationNames[0].time = 1;
    addNic(global, "/tmp/a \"b\"\\c.pcap");
    global.requests.count(0, kRequestOk);           // TOTAL
    global.requests.count(-1, kRequestWrongKey);   // unknown word
    global.requests.lockouts = 1;
  }
};

TEST(MetricsText, CarriesTheAgentsCountersAsPrometheusSamples) {
  SampleAgent agent;
  const std::string page = metricsText(agent.global);
  const char* expected[] = {
      "# TYPE veltris_session_frames_total counter\n",
      "veltris_session_frames_total{adapter=\"eth0\",direction=\"sent\"} 5000000000\n",
      "veltris_session_frames_total{adapter=\"eth0\",direction=\"received\"} 7\n",
      "veltris_session_bytes_total{adapter=\"eth0\",direction=\"received\"} 10598\n",
      "veltris_broadcast_frames_total{adapter=\"eth0\",direction=\"sent\"} 3\n",
      "veltris_error_frames_total{adapter=\"eth0\",direction=\"received\"} 2\n",
      "veltris_error_frames_by_kind_total{adapter=\"eth0\",kind=\"tcp_reset\"} 2\n",
      "veltris_unfiled_frames_total{adapter=\"eth0\"} 9\n",
      "veltris_frames_by_family_total{adapter=\"eth0\",family=\"ipv6\"} 11\n",
      "veltris_frames_by_family_total{adapter=\"eth0\",family=\"ipv4\"} 0\n",
      "veltris_kernel_dropped_frames_total{adapter=\"eth0\"} 0\n",
      "veltris_partner_table_entries{adapter=\"eth0\"} 12\n",
      "veltris_station_name_entries{adapter=\"eth0\"} 1\n",
      "veltris_session_frames_total{adapter=\"/tmp/a \\\"b\\\"\\\\c.pcap\",direction=\"sent\"} 0\n",
      "veltris_traffic_state 4\n",
      "veltris_captured_frames_total 1234\n",
      "veltris_agent_info{version=\"19990415\",host=\"PC01\"} 1\n",
      "veltris_agent_start_time_seconds 1700000000\n",
      "veltris_requests_total{word=\"TOTAL\",result=\"ok\"} 1\n",
      "veltris_requests_total{word=\"unknown\",result=\"wrong_key\"} 1\n",
      "veltris_access_key_failures_total 1\n",
      "veltris_access_key_lockouts_total 1\n",
  };
  for (const char* line : expected) EXPECT_NE(page.find(line), std::string::npos) << line;
}

TEST(MetricsText, PromtoolAcceptsThePage) {
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "promtool is not installed";
  SampleAgent agent;
  char path[] = "/tmp/veltris-metrics-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string page = metricsText(agent.global);
  ASSERT_EQ(write(fd, page.data(), page.size()), static_cast<ssize_t>(page.size()));
  close(fd);
  const std::string command = std::string("promtool check metrics < ") + path + " > " + path + ".out 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream report(std::string(path) + ".out");
  std::string text((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
  unlink(path);
  unlink((std::string(path) + ".out").c_str());
  EXPECT_EQ(status, 0) << text;
  EXPECT_EQ(text, "");  // no lint findings either
}

TEST(MetricsListen, ParsesAddressesAndRejectsTheRest) {
  struct Case {
    const char* text;
    bool ok;
    int family;
    uint16_t port;
  } cases[] = {
      {"127.0.0.1:9464", true, AF_INET, 9464}, {"0.0.0.0:0", true, AF_INET, 0},
      {"[::]:9464", true, AF_INET6, 9464},     {"[::1]:80", true, AF_INET6, 80},
      {"9464", false, 0, 0},                   {"127.0.0.1:", false, 0, 0},
      {"127.0.0.1:65536", false, 0, 0},        {"127.0.0.1:94x4", false, 0, 0},
      {"localhost:9464", false, 0, 0},         {"::1:9464", false, 0, 0},
      {"[::1:9464", false, 0, 0},              {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    ListenAddress address;
    std::string error;
    ASSERT_EQ(parseListenAddress(c.text, address, error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(address.address.ss_family, c.family) << c.text;
    const uint16_t port = c.family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address.address)->sin_port
                                              : reinterpret_cast<sockaddr_in6*>(&address.address)->sin6_port;
    EXPECT_EQ(ntohs(port), c.port) << c.text;
  }
}

// A TCP connection to the endpoint from the loopback address `from`.
int connectFrom(uint16_t port, const char* from) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from, &local.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A raw HTTP exchange: sends `request`, reads until the server closes.
std::string exchange(uint16_t port, const std::string& request, const char* from = "127.0.0.1") {
  int fd = connectFrom(port, from);
  if (fd < 0) return {};
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
  close(fd);
  return answer;
}

std::string statusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

class MetricsEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.start(agent.global, "127.0.0.1:0", error)) << error;
    ASSERT_NE(server.port(), 0);
  }
  SampleAgent agent;
  MetricsServer server;
};

TEST_F(MetricsEndpoint, AnswersMetricsAndRefusesOtherPathsAndMethods) {
  struct Case {
    std::string request;
    const char* status;
  } cases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK"},
      {"GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /metrics/../etc HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc",
       "HTTP/1.1 405 Method Not Allowed"},
      {"DELETE /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
  };
  for (const Case& c : cases) {
    const std::string answer = exchange(server.port(), c.request);
    EXPECT_EQ(statusLine(answer), c.status) << c.request;
  }
  const std::string ok = exchange(server.port(), cases[0].request);
  EXPECT_NE(ok.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
  EXPECT_NE(ok.find("veltris_traffic_state 4\n"), std::string::npos);
}

TEST_F(MetricsEndpoint, HugeRequestsAndIdleClientsCannotStallIt) {
  // A header far beyond the connection's memory is refused, not buffered.
  const std::string huge = "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Fill: " + std::string(1 << 20, 'a') + "\r\n\r\n";
  const std::string refused = exchange(server.port(), huge);
  EXPECT_EQ(refused.find("200 OK"), std::string::npos);

  // Idle connections from one address use up only that address's share.
  std::vector<int> idle;
  for (int i = 0; i < 8; ++i) idle.push_back(connectFrom(server.port(), "127.0.0.1"));
  const std::string other =
      exchange(server.port(), "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "127.0.0.2");
  EXPECT_EQ(statusLine(other), "HTTP/1.1 200 OK");
  for (int fd : idle)
    if (fd >= 0) close(fd);
}

TEST_F(MetricsEndpoint, AFifthConnectionFromOneAddressIsRefused) {
  std::vector<int> held;
  for (int i = 0; i < 4; ++i) held.push_back(connectFrom(server.port(), "127.0.0.3"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server has taken all four
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(exchange(server.port(), request, "127.0.0.3"), "");
  EXPECT_EQ(statusLine(exchange(server.port(), request, "127.0.0.4")), "HTTP/1.1 200 OK");
  for (int fd : held)
    if (fd >= 0) close(fd);
}

// Clients that trickle their headers a byte at a time, four per address: each
// is closed 5 s after its connect however steadily it sends, and while they
// fill every address's share (and more than half the server) a scrape is served.
TEST_F(MetricsEndpoint, SlowHeadersAreCutAtTheirDeadlineAndScrapesGoOn) {
  using Clock = std::chrono::steady_clock;
  struct Slow {
    int fd;
    Clock::time_point connected;
    double closedAfter = -1;
  };
  std::vector<Slow> slow;
  for (int address = 10; address < 19; ++address) {
    const std::string from = "127.0.0." + std::to_string(address);
    for (int i = 0; i < 4; ++i) slow.push_back({connectFrom(server.port(), from.c_str()), Clock::now()});
  }
  const std::string trickle = "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(100, 'a');
  const auto start = Clock::now();
  int scrapes = 0;
  for (size_t byte = 0; byte < trickle.size() && Clock::now() - start < std::chrono::seconds(9); ++byte) {
    for (Slow& s : slow) {
      if (s.fd < 0 || s.closedAfter >= 0) continue;
      char peek;
      const bool gone = send(s.fd, &trickle[byte], 1, MSG_NOSIGNAL) != 1 ||
                        recv(s.fd, &peek, 1, MSG_DONTWAIT) == 0;
      if (gone) s.closedAfter = std::chrono::duration<double>(Clock::now() - s.connected).count();
    }
    if (byte % 5 == 2) {
      const std::string scrape =
          exchange(server.port(), "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "127.0.0.30");
      EXPECT_EQ(statusLine(scrape), "HTTP/1.1 200 OK") << "after " << byte << " slow bytes";
      ++scrapes;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_GE(scrapes, 3);
  int cutEarly = 0;
  for (const Slow& s : slow) {
    ASSERT_GE(s.fd, 0);
    EXPECT_GE(s.closedAfter, 0) << "a slow client outlived its deadline";
    EXPECT_LT(s.closedAfter, 7.0);
    if (s.closedAfter >= 0 && s.closedAfter < 4.5) ++cutEarly;  // the longest waiting, for room
    close(s.fd);
  }
  EXPECT_LE(cutEarly, 8);
}

TEST(MetricsServerStart, RefusesAMalformedListenValueWithAReason) {
  SampleAgent agent;
  MetricsServer server;
  std::string error;
  EXPECT_FALSE(server.start(agent.global, "metrics.example:9464", error));
  EXPECT_NE(error.find("not an IPv4 address"), std::string::npos) << error;
  EXPECT_EQ(server.port(), 0);
}

}  // namespace
}  // namespace veltris::agent
