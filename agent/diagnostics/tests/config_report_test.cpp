#include "agent/diagnostics/config_report.h"

#include <gtest/gtest.h>

#include "agent/diagnostics/role_labels.h"
#include "agent/diagnostics/tests/config_fixture.h"
#include "agent/requests/dispatcher.h"
#include "common/text_field.h"

namespace veltris::agent {
namespace {

using Lines = std::vector<std::string>;
using testing::ConfigFixture;
using testing::padded;
using testing::utc;

// ---- Slot form and numeric lists -------------------------------------------------

TEST(SlotFormTest, BlanksAndTerminatorsEndAddresses) {
  EXPECT_EQ(slotForm(""), "");
  EXPECT_EQ(slotForm("10.0.0.5"), padded("10.0.0.5", 16, ' '));
  EXPECT_EQ(slotForm(std::string("10.0.0.5\0" "10.0.0.6", 17)), ConfigFixture::slots({"10.0.0.5", "10.0.0.6"}));
  EXPECT_EQ(slotForm("10.0.0.5 10.0.0.6"), ConfigFixture::slots({"10.0.0.5", "10.0.0.6"}));
  EXPECT_EQ(slotForm("10.0.0.5  10.0.0.6"), ConfigFixture::slots({"10.0.0.5", "", "10.0.0.6"}));
  EXPECT_EQ(slotForm("10.0.0.5 "), ConfigFixture::slots({"10.0.0.5"}));
  EXPECT_EQ(slotForm("123456789012345678 1.2.3.4"), ConfigFixture::slots({"123456789012345", "1.2.3.4"}));
}

TEST(SlotFormTest, HoldsAtMostFiftyAddresses) {
  std::string many;
  for (int i = 1; i <= 60; ++i) many += "10.0.1." + std::to_string(i) + " ";
  const std::string slots = slotForm(many);
  EXPECT_EQ(slots.size(), 800u);
  EXPECT_EQ(slotAt(slots, 49), padded("10.0.1.50", 16, ' '));
  EXPECT_EQ(slotAt(slots, 50), "");
}

TEST(SlotFormTest, NumericListFromSlots) {
  uint32_t list[kAddressListSize];
  std::fill(std::begin(list), std::end(list), 7u);
  addressListFromSlots(ConfigFixture::slots({"10.0.0.5", "bad", "", "255.255.255.0"}), list);
  EXPECT_EQ(list[0], ConfigFixture::ip("10.0.0.5"));
  EXPECT_EQ(list[1], 0xFFFFFFFFu);  // malformed
  EXPECT_EQ(list[2], 0xFFFFFFFFu);  // an empty slot
  EXPECT_EQ(list[3], ConfigFixture::ip("255.255.255.0"));
  EXPECT_EQ(list[4], 0u);
  EXPECT_EQ(list[49], 0u);
}

// ---- The report ------------------------------------------------------------------

using ConfigReportTest = ConfigFixture;

TEST_F(ConfigReportTest, StaticAdapterWithoutWarnings) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  nameServers("10.0.0.2");
  EXPECT_EQ(lines(report()), (Lines{
                                 " Computer Name : PC01",
                                 "",
                                 " Adapter #1    : Ethernet Adapter",
                                 " Driver        : NETCARD.SYS  12-Mar-1998",
                                 " DHCP          : No",
                                 " Address       : 10.0.0.5        ",
                                 " Subnet Mask   : 255.255.255.0   ",
                                 " Local Subnet  : 10.0.0.0        to 10.0.0.255",
                                 " GATEWAY       : 10.0.0.1        ",
                                 " DNS           : 10.0.0.2        ",
                                 " WINS          : ",
                             }));
  const AddressLists& lists = rt.global.nics[0]->addresses;
  EXPECT_EQ(lists.own[0], ip("10.0.0.5"));
  EXPECT_EQ(lists.own[1], 0u);
  EXPECT_EQ(lists.masks[0], ip("255.255.255.0"));  // without the local subnet line
  EXPECT_EQ(lists.masks[1], 0u);
  EXPECT_EQ(lists.gateways[0], ip("10.0.0.1"));
  EXPECT_EQ(lists.dns[0], ip("10.0.0.2"));
  EXPECT_EQ(lists.wins[0], 0u);
  EXPECT_EQ(ipSummary(), "IP=10.0.0.5");
}

TEST_F(ConfigReportTest, CardItemsOfTheSourceMakeTheDriverLine) {
  registry.setString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\1",
                     "ServiceName", "E100B1");
  registry.setString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\1",
                     "Title", "[1] Ethernet Adapter");
  const netconfig::CardInfo card = configSource(rt).card("E100B1");
  NicArea& nic = adapter("E100B1", card.title.c_str(), netconfig::driverText(card).c_str());
  EXPECT_STREQ(nic.title, "Ethernet Adapter");
  EXPECT_EQ(lines(report())[3], " Driver        : ");  // no driver file in the fixture
  EXPECT_EQ(lines(report())[4], " IP            : Not defined");
}

TEST_F(ConfigReportTest, DhcpLeaseExpiredShowsTheLeaseEndOnly) {
  NicArea& nic = adapter("El59x1");
  nic.addresses.own[0] = ip("192.168.1.77");  // from an earlier report
  const std::string key = tcpipKey("El59x1");
  registry.setNumber(key, "EnableDHCP", 1);
  registry.setNumber(key, "LeaseTerminatesTime", utc(1999, 4, 1, 8, 30, 5));
  registry.setString(key, "DhcpIPAddress", "192.168.1.20");
  registry.setString(key, "DhcpSubnetMask", "255.255.255.0");
  EXPECT_EQ(lines(report()), (Lines{
                                 "",
                                 "*** WARNING: DHCP Lease expired for adapter #1",
                                 "",
                                 " Computer Name : PC01",
                                 "",
                                 " Adapter #1    : Ethernet Adapter",
                                 " Driver        : NETCARD.SYS  12-Mar-1998",
                                 " IP            : DHCP EXPIRED Thu Apr  1 08:30:05 1999",
                             }));
  EXPECT_EQ(nic.addresses.own[0], ip("192.168.1.77"));  // unchanged
  EXPECT_EQ(ipSummary(), "");
}

TEST_F(ConfigReportTest, DhcpWithoutLeaseEndCountsAsExpired) {
  adapter("El59x1");
  registry.setNumber(tcpipKey("El59x1"), "EnableDHCP", 1);
  registry.setString(tcpipKey("El59x1"), "DhcpIPAddress", "192.168.1.20");
  const Lines result = lines(report());
  ASSERT_EQ(result.size(), 8u);
  EXPECT_EQ(result[1], "*** WARNING: DHCP Lease expired for adapter #1");
  EXPECT_EQ(result[7], " IP            : DHCP EXPIRED ");
}

TEST_F(ConfigReportTest, DhcpLeaseRunningReadsTheDhcpSet) {
  adapter("El59x1");
  const std::string key = tcpipKey("El59x1");
  registry.setNumber(key, "EnableDHCP", 1);
  registry.setNumber(key, "LeaseTerminatesTime", clock.time);  // ends this second: still valid
  registry.setString(key, "DhcpIPAddress", "192.168.1.20");
  registry.setString(key, "DhcpSubnetMask", "255.255.255.0");
  registry.setString(key, "DhcpDefaultGateway", "192.168.1.1");
  registry.setMultiString(key, "IPAddress", {"0.0.0.0"});
  registry.setString(testing::kTcpipParametersKey, "DhcpNameServer", "192.168.1.2");
  registry.setString(netbtKey("El59x1"), "DhcpNameServer", "192.168.1.3");
  const Lines result = lines(report());
  ASSERT_EQ(result.size(), 11u);
  EXPECT_EQ(result[4], " DHCP          : YES");
  EXPECT_EQ(result[5], " Address       : 192.168.1.20    ");
  EXPECT_EQ(result[7], " Local Subnet  : 192.168.1.0     to 192.168.1.255");
  EXPECT_EQ(result[8], " GATEWAY       : 192.168.1.1     ");
  EXPECT_EQ(result[9], " DNS           : 192.168.1.2     ");
  EXPECT_EQ(result[10], " WINS          : 192.168.1.3     ");
}

TEST_F(ConfigReportTest, GatewaySelfOnLanOnly) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.5"});
  nameServers("10.0.0.2");
  Lines result = lines(report());
  ASSERT_GE(result.size(), 3u);
  EXPECT_EQ(result[0], "");
  EXPECT_EQ(result[1], "*** WARNING: GATEWAY is SELF for adapter #1.");
  EXPECT_EQ(result[2], "");
  EXPECT_EQ(result[3], " Computer Name : PC01");

  rt.global.nics[0]->wan = true;  // a WAN adapter: no warning
  EXPECT_EQ(lines(report())[0], " Computer Name : PC01");
}

TEST_F(ConfigReportTest, DialUpWithoutGatewayShowsItsAddressAsGateway) {
  NicArea& nic = adapter("NdisWan4", "Remote Access WAN Wrapper", "NDISWAN.SYS  12-Mar-1998");
  nic.wan = true;
  registry.setMultiString(testing::kServicesKey + "Tcpip\\Linkage", "Bind", {"\\Device\\E100B1", "\\Device\\NdisWan5"});
  const std::string key = tcpipKey("NdisWan5");
  registry.setNumber(key, "EnableDHCP", 0);
  registry.setString(key, "DhcpIPAddress", "172.16.4.9");
  registry.setString(key, "DhcpSubnetMask", "255.255.0.0");
  registry.setString(testing::kTcpipParametersKey + "\\Transient", "NameServer", "172.16.0.53");
  nameServers("10.0.0.2");
  EXPECT_EQ(lines(report()), (Lines{
                                 " Computer Name : PC01",
                                 "",
                                 " Adapter #1    : Remote Access WAN Wrapper",
                                 " Driver        : NDISWAN.SYS  12-Mar-1998",
                                 " DHCP          : No",
                                 " Address       : 172.16.4.9      ",
                                 " Subnet Mask   : 255.255.0.0     ",
                                 " Local Subnet  : 172.16.0.0      to 172.16.255.255",
                                 " GATEWAY       : 172.16.4.9      ",
                                 " DNS           : 172.16.0.53     ",
                                 " WINS          : ",
                             }));
  EXPECT_EQ(nic.addresses.gateways[0], ip("172.16.4.9"));
}

TEST_F(ConfigReportTest, TwoAddressesRunOnlyTheGatewayCheck) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5", "10.0.0.6"}, {"255.255.255.0", "255.255.255.0"}, {});
  nameServers("10.0.0.5");  // DNS self is not looked at with two addresses
  EXPECT_EQ(lines(report()), (Lines{
                                 "",
                                 "*** WARNING: Multiple IP addresses for adapter #1.",
                                 "*** WARNING: NO Default Gateway defined for adapter #1.",
                                 "",
                                 " Computer Name : PC01",
                                 "",
                                 " Adapter #1    : Ethernet Adapter",
                                 " Driver        : NETCARD.SYS  12-Mar-1998",
                                 " DHCP          : No",
                                 " Address       : 10.0.0.5        10.0.0.6        ",
                                 " Subnet Mask   : 255.255.255.0   255.255.255.0   ",
                                 " GATEWAY       : ",
                                 " DNS           : 10.0.0.5        ",
                                 " WINS          : ",
                             }));
  EXPECT_EQ(ipSummary(), "IP=10.0.0.5+");
  EXPECT_EQ(rt.global.nics[0]->addresses.own[1], ip("10.0.0.6"));
}

TEST_F(ConfigReportTest, DnsAndWinsSelfAsSecondServer) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1", "10.0.0.9"});
  nameServers("10.0.0.2 10.0.0.5");
  winsServers("E100B1", "10.0.0.3", "10.0.0.5");
  const Lines result = lines(report());
  EXPECT_EQ(Lines(result.begin(), result.begin() + 6), (Lines{
                                                           "",
                                                           "*** WARNING: Multiple Gateway addresses for adapter #1.",
                                                           "*** WARNING: DNS is SELF for adapter #1.",
                                                           "*** WARNING: WINS is SELF for adapter #1.",
                                                           "",
                                                           " Computer Name : PC01",
                                                       }));
  EXPECT_EQ(result[14], " DNS           : 10.0.0.2        10.0.0.5        ");
  EXPECT_EQ(result[15], " WINS          : 10.0.0.3        10.0.0.5        ");
  const AddressLists& lists = rt.global.nics[0]->addresses;
  EXPECT_EQ(lists.gateways[1], ip("10.0.0.9"));
  EXPECT_EQ(lists.dns[1], ip("10.0.0.5"));
  EXPECT_EQ(lists.wins[1], ip("10.0.0.5"));
}

TEST_F(ConfigReportTest, MissingMaskIsAnError) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {}, {"10.0.0.1"});
  const Lines result = lines(report());
  EXPECT_EQ(Lines(result.begin(), result.begin() + 5), (Lines{
                                                           "",
                                                           "*** ERROR: Could not determine Subnet Mask for adapter #1.",
                                                           "*** WARNING: NO DNS or WINS defined for adapter #1.",
                                                           "",
                                                           " Computer Name : PC01",
                                                       }));
  EXPECT_EQ(result[10], " Subnet Mask   : ");
  EXPECT_EQ(result[11], " GATEWAY       : 10.0.0.1        ");
}

TEST_F(ConfigReportTest, GatewayOutsideTheLocalSubnet) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.1.1"});
  winsServers("E100B1", "10.0.0.3");
  const Lines result = lines(report());
  EXPECT_EQ(result[1], "*** ERROR: Gateway is NOT in local subnet for adapter #1.");
  EXPECT_EQ(result[2], "");
  EXPECT_EQ(result[13], " WINS          : 10.0.0.3        ");
}

TEST_F(ConfigReportTest, TwoAdaptersWarnFirstAndMarkTheSummary) {
  adapter("E100B1");
  adapter("El59x1", "3Com Etherlink III", "ELNK3.SYS    1-Jan-1997");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  nameServers("10.0.0.2");
  EXPECT_EQ(lines(report()), (Lines{
                                 "",
                                 "*** WARNING: Multiple Adapters.",
                                 "",
                                 " Computer Name : PC01",
                                 "",
                                 " Adapter #1    : Ethernet Adapter",
                                 " Driver        : NETCARD.SYS  12-Mar-1998",
                                 " DHCP          : No",
                                 " Address       : 10.0.0.5        ",
                                 " Subnet Mask   : 255.255.255.0   ",
                                 " Local Subnet  : 10.0.0.0        to 10.0.0.255",
                                 " GATEWAY       : 10.0.0.1        ",
                                 " DNS           : 10.0.0.2        ",
                                 " WINS          : ",
                                 "",
                                 " Adapter #2    : 3Com Etherlink III",
                                 " Driver        : ELNK3.SYS    1-Jan-1997",
                                 " IP            : Not defined",
                             }));
  EXPECT_EQ(ipSummary(), "IP=10.0.0.5+");
}

TEST_F(ConfigReportTest, IpSummaryIsSetOnce) {
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  report();
  staticSetup("E100B1", {"10.0.0.9"}, {"255.255.255.0"}, {"10.0.0.1"});
  report();
  EXPECT_EQ(ipSummary(), "IP=10.0.0.5");
  EXPECT_EQ(rt.global.nics[0]->addresses.own[0], ip("10.0.0.9"));
}

TEST_F(ConfigReportTest, NoAdaptersAndSmallAreas) {
  EXPECT_EQ(report(), "\r\n\r\n*** ERROR: No Adapters are being montiored.");
  adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  EXPECT_EQ(report(3999), "ERROR - BUFFER TOO SMALL");
  EXPECT_EQ(rt.global.nics[0]->addresses.own[0], 0u);  // nothing else happened
  EXPECT_EQ(ipSummary(), "");
  EXPECT_EQ(report(10), "ERROR - B");
  EXPECT_NE(report(4000).find("Computer Name"), std::string::npos);
}

TEST_F(ConfigReportTest, BodyAndReportAreCutAt1023Characters) {
  std::vector<std::string> many;
  for (int i = 1; i <= 50; ++i) many.push_back("10.0.1." + std::to_string(i));
  for (const char* name : {"E100B1", "E100B2", "E100B3", "E100B4"}) {
    adapter(name);
    staticSetup(name, many, {"255.255.255.0"}, {"10.0.1.254"});
  }
  const std::string text = report();
  ASSERT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.substr(0, 35), "\r\n*** WARNING: Multiple Adapters.\r\n");
  const std::string expectedAddressStart = " Address       : " + ConfigFixture::slots({"10.0.1.1", "10.0.1.2"});
  EXPECT_NE(text.find(expectedAddressStart), std::string::npos);
  EXPECT_EQ(text.find("Adapter #2"), std::string::npos);  // cut off with the body
  // The lists are whole all the same.
  EXPECT_EQ(rt.global.nics[3]->addresses.own[49], ip("10.0.1.50"));
}

// ---- Role labels ------------------------------------------------------------------

TEST_F(ConfigReportTest, RoleLabelsRefreshMarksPartnersAndFillsNames) {
  NicArea& nic = adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  nameServers("10.0.0.2");
  winsServers("E100B1", "10.0.0.3");
  struct Row {
    const char* address;
    const char* expectedRole;
  };
  const Row rows[] = {{"10.0.0.5", "Self"}, {"10.0.0.1", "GW"}, {"10.0.0.2", "DNS"},
                      {"10.0.0.3", "WINS"}, {"10.0.0.9", ""},   {"0.1.2.3", "old"}};
  for (const Row& row : rows) {
    Partner& p = addPartner(nic, "020000000001", row.address, 1);
    const uint32_t address = ip(row.address);
    std::memcpy(p.record.ipv4, &address, 4);
    copyText(p.record.roleLabel, sizeof p.record.roleLabel, "old");
  }
  std::memcpy(nic.dnsCache[0].address, "\x0a\x00\x00\x09", 4);
  copyText(nic.dnsCache[0].name, sizeof nic.dnsCache[0].name, "files.example.net");
  copyText(nic.partners[0].record.hostName, sizeof nic.partners[0].record.hostName, "PC01");
  rt.global.totals.sequence = 777;

  ASSERT_TRUE(rt.refreshRoleLabels);
  rt.refreshRoleLabels();
  for (int i = 0; i < 6; ++i) {
    const PartnerRecord& r = nic.partners[i].record;
    EXPECT_STREQ(r.roleLabel, rows[i].expectedRole) << rows[i].address;
    EXPECT_EQ(r.changeStamp.get(), i == 5 ? 1u : 777u) << rows[i].address;  // first byte 0: left alone
  }
  EXPECT_STREQ(nic.partners[4].record.hostName, "files.example.net");
  EXPECT_STREQ(nic.partners[0].record.hostName, "PC01");
  EXPECT_EQ(ipSummary(), "IP=10.0.0.5");  // the report ran

  // Unchanged labels and names keep their stamps.
  rt.global.totals.sequence = 900;
  runRoleLabelsRefresh(rt);
  EXPECT_EQ(nic.partners[1].record.changeStamp.get(), 777u);
}

TEST_F(ConfigReportTest, OpenAndCmdConfigGoThroughTheDispatcher) {
  NicArea& nic = adapter("E100B1");
  staticSetup("E100B1", {"10.0.0.5"}, {"255.255.255.0"}, {"10.0.0.1"});
  Partner& gateway = addPartner(nic, "020000000001", "IP 10.0.0.1", 1);
  std::memcpy(gateway.record.ipv4, "\x0a\x00\x00\x01", 4);
  rt.global.totals.sequence = 42;

  std::string body;
  dispatchRequest(rt, Request("OPEN secret"), body);
  EXPECT_STREQ(gateway.record.roleLabel, "GW");
  EXPECT_EQ(gateway.record.changeStamp.get(), 42u);

  dispatchRequest(rt, Request("CMD config"), body);
  ASSERT_EQ(body.size(), sizeof(TextReply));
  EXPECT_EQ(body.substr(0, 4), "TXT4");
  const std::string text(body.c_str() + 4);
  EXPECT_EQ(text, report());
  EXPECT_EQ(lines(text)[1], "*** WARNING: NO DNS or WINS defined for adapter #1.");
  EXPECT_EQ(lines(text)[11], " GATEWAY       : 10.0.0.1        ");
}

}  // namespace
}  // namespace veltris::agent
