#include "agent/diagnostics/connectivity_tests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "agent/capture/net_monitor.h"
#include "agent/diagnostics/external_command.h"
#include "agent/diagnostics/tests/config_fixture.h"
#include "agent/requests/dispatcher.h"
#include "tests/support/namespace_pair.h"

namespace veltris::agent {
namespace {

using testing::ConfigFixture;
using testing::padded;
using testing::utc;

// Records the commands and writes "<command> done\r\n", as a runner would, into
// an area it clears first.
std::vector<std::string> gRunCommands;
size_t recordingRunner(const char* command, char* area, size_t capacity) {
  gRunCommands.emplace_back(command);
  std::memset(area, 0, capacity);
  const std::string text = std::string(command) + " done\r\n";
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(area, text.data(), n);
  return n;
}

class ConnectivityTest : public ConfigFixture {
 protected:
  ConnectivityTest() { gRunCommands.clear(); }

  static void addBroadcast(NicArea& nic, size_t slot, const char* destination) {
    BroadcastRecord record{};
    const uint32_t address = ip(destination);
    std::memcpy(record.ipDestination, &address, 4);
    nic.broadcasts.publish(slot, record);
  }

  std::string subnet() {
    std::vector<char> area(kTextAreaSize, 'x');
    subnetTest(rt.global, area.data(), area.size());
    return area.data();
  }

  std::string ping(PingTarget target, size_t capacity = kTextAreaSize) {
    std::vector<char> area(capacity, 'x');
    pingServers(rt.global, target, area.data(), area.size(), recordingRunner);
    return std::string(area.data(), ::strnlen(area.data(), area.size()));
  }

  static bool ringHolds(const NicArea& nic, const char* destination) {
    const uint32_t wanted = ip(destination);
    BroadcastRecord record;
    for (size_t slot = 0; slot < kBroadcastRingSize; ++slot) {
      if (nic.broadcasts.read(slot, record) && std::memcmp(record.ipDestination, &wanted, 4) == 0) return true;
    }
    return false;
  }

  static std::string line(const char* address, const char* rest) { return "\r\n" + padded(address, 15, ' ') + rest; }
};

// ---- Subnet test ---------------------------------------------------------------

TEST_F(ConnectivityTest, NoBroadcastSeenListsTheConfiguredOnesWithoutWarning) {
  NicArea& nic = adapter("E100B1");
  nic.addresses.own[0] = ip("10.0.0.5");
  nic.addresses.masks[0] = ip("255.255.255.0");
  nic.addresses.own[1] = ip("172.16.1.5");
  nic.addresses.masks[1] = ip("255.255.0.0");
  EXPECT_EQ(subnet(), line("10.0.0.255", "  NOT received for 10.0.0.5 / 255.255.255.0") +
                          line("172.16.255.255", "  NOT received for 172.16.1.5 / 255.255.0.0") + "\r\n");
}

TEST_F(ConnectivityTest, ReceivedBroadcastsMatchOrNot) {
  NicArea& nic = adapter("E100B1");
  nic.addresses.own[0] = ip("10.0.0.5");
  nic.addresses.masks[0] = ip("255.255.255.0");
  addBroadcast(nic, 3, "10.0.0.255");
  addBroadcast(nic, 7, "192.168.1.255");
  addBroadcast(nic, 9, "10.0.0.255");  // seen before
  addBroadcast(nic, 11, "0.0.0.0");    // no IP destination recorded
  EXPECT_EQ(subnet(), line("10.0.0.255", "  received and matches 10.0.0.5 / 255.255.255.0") +
                          line("192.168.1.255", "  received but is NOT configured for use by this PC") + "\r\n");
}

TEST_F(ConnectivityTest, OnlyForeignBroadcastsGiveTheWarning) {
  NicArea& nic = adapter("E100B1");
  nic.addresses.own[0] = ip("10.0.0.5");
  nic.addresses.masks[0] = ip("255.255.255.0");
  addBroadcast(nic, 0, "10.0.1.255");
  EXPECT_EQ(subnet(), line("10.0.1.255", "  received but is NOT configured for use by this PC") +
                          line("10.0.0.255", "  NOT received for 10.0.0.5 / 255.255.255.0") +
                          "\r\n\r\nWARNING: The Configured Subnet does NOT match the\r\n"
                          "         Subnet being used by other local devices.\r\n");
}

TEST_F(ConnectivityTest, AtMost49ReceivedInSlotOrderAndAdaptersWithoutMaskLeftOut) {
  adapter("E100B1");  // no mask: left out
  NicArea& nic = adapter("E100B2");
  nic.addresses.own[0] = ip("10.1.0.5");
  nic.addresses.masks[0] = ip("255.255.0.0");
  for (int i = 0; i < 60; ++i) addBroadcast(nic, 4000 + i, ("10.2." + std::to_string(i) + ".255").c_str());
  const std::string text = subnet();
  EXPECT_NE(text.find(line("10.2.48.255", "  received but")), std::string::npos);
  EXPECT_EQ(text.find("10.2.49.255"), std::string::npos);
  EXPECT_EQ(text.find("\r\n10.2.0.255"), 0u);
  EXPECT_NE(text.find("WARNING: The Configured Subnet"), std::string::npos);
}

// ---- Pings --------------------------------------------------------------------

TEST_F(ConnectivityTest, NothingConfiguredLeavesTheDefaultTexts) {
  adapter("E100B1");
  EXPECT_EQ(ping(PingTarget::Gateways), "\r\nGATEWAY NOT DEFINED\r\n");
  EXPECT_EQ(ping(PingTarget::DnsServers), "\r\nDNS NOT DEFINED\r\n");
  EXPECT_EQ(ping(PingTarget::WinsServers), "\r\nWINS NOT DEFINED\r\n");
  EXPECT_TRUE(gRunCommands.empty());
}

TEST_F(ConnectivityTest, EveryAdaptersListIsPingedFromTheStartOfTheArea) {
  adapter("E100B1");  // no DNS server
  NicArea& second = adapter("E100B2");
  second.addresses.dns[0] = ip("10.0.0.2");
  second.addresses.dns[1] = ip("10.0.0.3");
  second.addresses.dns[3] = ip("10.0.0.4");  // behind the list's end
  EXPECT_EQ(ping(PingTarget::DnsServers), "PING 10.0.0.2 done\r\nPING 10.0.0.3 done\r\n");
  EXPECT_EQ(gRunCommands, (std::vector<std::string>{"PING 10.0.0.2", "PING 10.0.0.3"}));
}

TEST_F(ConnectivityTest, FullAreaDropsTextButRunsEveryPing) {
  NicArea& nic = adapter("E100B1");
  for (int i = 0; i < kAddressListSize; ++i) nic.addresses.wins[i] = ip(("10.0.3." + std::to_string(i + 1)).c_str());
  const std::string text = ping(PingTarget::WinsServers, 30);
  EXPECT_EQ(text, std::string("PING 10.0.3.1 done\r\nPING 10.0.").substr(0, 29));
  EXPECT_EQ(gRunCommands.size(), 50u);
  EXPECT_EQ(gRunCommands.back(), "PING 10.0.3.50");
}

// ---- Driver age ---------------------------------------------------------------

TEST_F(ConnectivityTest, DriversTwoCalendarYearsOldAreReported) {
  NicArea& old = adapter("E100B1", "Ethernet Adapter", "NETCARD.SYS  1-Apr-1997");
  old.driverFileTime = utc(1997, 4, 30, 23, 0, 0);  // 24 months before April 1999
  NicArea& recent = adapter("E100B2", "Ethernet Adapter", "NEWCARD.SYS  1-May-1997");
  recent.driverFileTime = utc(1997, 5, 1);
  NicArea& wan = adapter("NdisWan4", "WAN", "ndiswan.sys  1-Jan-1990");
  wan.driverFileTime = utc(1990, 1, 1);
  NicArea& unknown = adapter("E100B3", "Ethernet Adapter", "");
  unknown.driverFileTime = 0;
  std::vector<char> area(kTextAreaSize);
  driverAgeCheck(rt.global, utc(1999, 4, 1), area.data(), area.size());
  EXPECT_STREQ(area.data(), "WARNING: Adapter Driver NETCARD.SYS  1-Apr-1997 is more than 2 years old\r\n\r\n");
}

// ---- Full test ----------------------------------------------------------------

TEST_F(ConnectivityTest, FullTestRefreshesThenRunsEveryStepUnderItsHeading) {
  NicArea& nic = adapter("E100B1", "Ethernet Adapter", "OLD.SYS      1-Jan-1990");
  nic.driverFileTime = utc(1990, 1, 1);
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  nameServers("10.0.0.2");
  addBroadcast(nic, 0, "10.0.0.255");
  std::vector<char> area(kTextAreaSize, 'x');
  fullTest(rt, area.data(), area.size(), recordingRunner);
  EXPECT_STREQ(area.data(),
               "WARNING: Adapter Driver OLD.SYS      1-Jan-1990 is more than 2 years old\r\n\r\n"
               "----Checking SUBNET Broadcasts---------------------"
               "\r\n10.0.0.255       received and matches 10.0.0.5 / 255.255.255.0\r\n"
               "\r\n----Testing GATEWAY connectivity-------------------"
               "PING 10.0.0.1 done\r\n"
               "\r\n----Testing DNS connectivity-----------------------"
               "PING 10.0.0.2 done\r\n"
               "\r\n----Testing WINS connectivity----------------------"
               "\r\nWINS NOT DEFINED\r\n");
  EXPECT_EQ(ipSummary(), "IP=10.0.0.5");  // the configuration report ran first
}

TEST_F(ConnectivityTest, FullTestStaysInsideTheArea) {
  NicArea& nic = adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  nameServers("10.0.0.2");
  winsServers("E100B1", "10.0.0.3");
  (void)nic;
  std::vector<char> area(120, 'x');
  area.push_back('G');  // a guard byte behind the area
  fullTest(rt, area.data(), 120, recordingRunner);
  EXPECT_EQ(std::strlen(area.data()), 119u);
  EXPECT_EQ(area[120], 'G');
  EXPECT_EQ(gRunCommands, (std::vector<std::string>{"PING 10.0.0.1", "PING 10.0.0.2", "PING 10.0.0.3"}));
}

TEST_F(ConnectivityTest, DispatcherAnswersSubnetAndPingWordsWithTextReplies) {
  NicArea& nic = adapter("E100B1");
  nic.addresses.own[0] = ip("10.0.0.5");
  nic.addresses.masks[0] = ip("255.255.255.0");
  std::string body;
  dispatchRequest(rt, Request("CMD subnet"), body);
  ASSERT_EQ(body.size(), sizeof(TextReply));
  EXPECT_EQ(std::string(body.c_str() + 4), line("10.0.0.255", "  NOT received for 10.0.0.5 / 255.255.255.0") + "\r\n");
  dispatchRequest(rt, Request("CMD PING WINS"), body);  // none configured: no command runs
  EXPECT_EQ(std::string(body.c_str() + 4), "\r\nWINS NOT DEFINED\r\n");
}

// ---- Real pings inside test namespaces ---------------------------------------------

class NamespacePingTest : public ConnectivityTest {
 protected:
  void SetUp() override {
    if (std::string why = netconfig::testing::namespaceTestsUnavailable(); !why.empty()) GTEST_SKIP() << why;
    if (commandRunnerPath().empty()) GTEST_SKIP() << "TapsorCC is not built";
    if (netconfig::testing::runQuiet("command -v ping") != 0) GTEST_SKIP() << "ping is missing";
    std::string error;
    ASSERT_TRUE(pair_.create(error)) << error;
    ASSERT_TRUE(netconfig::testing::NamespacePair::run(
        {"ip -n " + pair_.a + " addr add 10.215.0.1/24 dev " + pair_.linkA,
         "ip -n " + pair_.b + " addr add 10.215.0.2/24 dev " + pair_.linkB},
        error))
        << error;
  }

  // Runs a request on a thread inside namespace A, where its pings start.
  std::string requestInNamespace(const char* request) {
    std::string body, error;
    EXPECT_TRUE(netconfig::testing::runInNamespace(pair_.a, [&] { dispatchRequest(rt, Request(request), body); },
                                                   error))
        << error;
    return body.size() > 4 ? std::string(body.c_str() + 4) : std::string();
  }

  netconfig::testing::NamespacePair pair_;
};

TEST_F(NamespacePingTest, PingGatewayReachesTheOtherNamespace) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.215.0.1"}, {"255.255.255.0"}, {"10.215.0.2"});
  std::string body;
  dispatchRequest(rt, Request("CMD CONFIG"), body);  // stores the address lists
  const std::string text = requestInNamespace("CMD PING GW");
  EXPECT_NE(text.find("10.215.0.2"), std::string::npos) << text;
  EXPECT_NE(text.find("4 received"), std::string::npos) << text;
  EXPECT_EQ(text.find("GATEWAY NOT DEFINED"), std::string::npos);
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    EXPECT_TRUE(at > 0 && text[at - 1] == '\r') << "a line feed without carriage return at " << at;
}

TEST_F(NamespacePingTest, FullTestPingsGatewayAndDnsServer) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.215.0.1"}, {"255.255.255.0"}, {"10.215.0.2"});
  nameServers("10.215.0.2");
  const std::string text = requestInNamespace("CMD TEST");
  const size_t gateway = text.find("----Testing GATEWAY connectivity-------------------");
  const size_t dns = text.find("----Testing DNS connectivity-----------------------");
  const size_t wins = text.find("----Testing WINS connectivity----------------------");
  ASSERT_NE(gateway, std::string::npos) << text;
  ASSERT_NE(dns, std::string::npos) << text;
  ASSERT_NE(wins, std::string::npos) << text;
  EXPECT_NE(text.substr(gateway, dns - gateway).find("4 received"), std::string::npos) << text;
  EXPECT_NE(text.substr(dns, wins - dns).find("4 received"), std::string::npos) << text;
  EXPECT_EQ(text.substr(wins), "----Testing WINS connectivity----------------------\r\nWINS NOT DEFINED\r\n");
  EXPECT_LT(text.size(), kTextAreaSize);
}

// Broadcast pings sent from namespace B, captured by a NetMonitor thread on the
// veth end in namespace A, then compared by the subnet test.
TEST_F(NamespacePingTest, SubnetTestSeesBroadcastsFromTheWire) {
  NicArea& nic = adapter(pair_.linkA.c_str());
  staticSetup(pair_.linkA, {"10.215.0.1"}, {"255.255.255.0"}, {});
  std::string body;
  dispatchRequest(rt, Request("CMD CONFIG"), body);
  ASSERT_EQ(nic.addresses.masks[0], ip("255.255.255.0"));
  std::string error;
  ASSERT_TRUE(netconfig::testing::NamespacePair::run({"ip -n " + pair_.b + " addr add 10.216.0.2/24 dev " + pair_.linkB},
                                                     error))
      << error;
  rt.shutdown = [this] { rt.stopEvent.set(); };
  std::string monitorError;
  std::thread monitor([&] {
    netconfig::testing::runInNamespace(pair_.a, [&] { runNetMonitor(rt, nic); }, monitorError, true);
  });
  auto waitFor = [](auto done) {
    for (int i = 0; i < 100 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
  };
  const bool opened = waitFor([&] { return nic.device() != nullptr || rt.stopEvent.isSet(); });
  const std::string sendFromB = "ip netns exec " + pair_.b + " ping -b -c 2 -i 0.2 -W 1 ";
  netconfig::testing::runQuiet(sendFromB + "10.215.0.255");
  netconfig::testing::runQuiet(sendFromB + "10.216.0.255");
  const bool seen = waitFor([&] { return ringHolds(nic, "10.215.0.255") && ringHolds(nic, "10.216.0.255"); });
  rt.stopEvent.set();
  monitor.join();
  ASSERT_EQ(monitorError, "");
  ASSERT_TRUE(opened) << "the capture device did not open";
  ASSERT_TRUE(seen) << "broadcasts seen: " << nic.broadcastCount.load();
  dispatchRequest(rt, Request("CMD SUBNET"), body);
  EXPECT_EQ(std::string(body.c_str() + 4),
            line("10.215.0.255", "  received and matches 10.215.0.1 / 255.255.255.0") +
                line("10.216.0.255", "  received but is NOT configured for use by this PC") + "\r\n");
}

}  // namespace
}  // namespace veltris::agent
