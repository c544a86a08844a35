#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/netconfig/config_source.h"
#include "platform/registry/registry.h"

namespace veltris::netconfig {
namespace {

namespace fs = std::filesystem;

constexpr char kServices[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kTcpipParameters[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
constexpr char kCards[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\";

using namespace std::string_literals;

class RegistrySourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "veltris-netcfg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    source_ = makeRegistrySource(dir_ / "registry.reg", dir_ / "windows");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  reg::Registry registry() { return reg::Registry(dir_ / "registry.reg"); }
  static std::string tcpip(const std::string& name) { return kServices + name + "\\Parameters\\Tcpip"; }
  static std::string netbt(const std::string& name) { return kServices + "NetBT\\Adapters\\"s + name; }

  fs::path dir_;
  std::unique_ptr<ConfigSource> source_;
};

TEST_F(RegistrySourceTest, StaticSetReadsTheStaticValues) {
  reg::Registry r = registry();
  ASSERT_EQ(r.setNumber(tcpip("E100B1"), "EnableDHCP", 0), reg::kSuccess);
  r.setMultiString(tcpip("E100B1"), "IPAddress", {"10.0.0.5", "10.0.0.6"});
  r.setMultiString(tcpip("E100B1"), "SubnetMask", {"255.255.255.0"});
  r.setMultiString(tcpip("E100B1"), "DefaultGateway", {"10.0.0.1"});
  r.setString(tcpip("E100B1"), "DhcpIPAddress", "192.168.9.9");  // of the other set: not read
  r.setString(netbt("E100B1"), "NameServer", "10.0.0.7");
  r.setString(netbt("E100B1"), "NameServerBackup", "10.0.0.8");
  r.setString(kTcpipParameters, "NameServer", "10.0.0.2 10.0.0.3");
  r.setString(kTcpipParameters, "DhcpNameServer", "192.168.9.1");

  const AdapterSettings s = source_->adapter("e100b1");  // key names ignore case
  EXPECT_TRUE(s.defined);
  EXPECT_FALSE(s.dialUp);
  EXPECT_FALSE(s.dhcpEnabled);
  EXPECT_EQ(s.addresses, "10.0.0.5\0"s "10.0.0.6");
  EXPECT_EQ(s.masks, "255.255.255.0");
  EXPECT_EQ(s.gateways, "10.0.0.1");
  EXPECT_EQ(s.winsPrimary, "10.0.0.7");
  EXPECT_EQ(s.winsBackup, "10.0.0.8");
  EXPECT_EQ(s.dns, "10.0.0.2 10.0.0.3");
  EXPECT_EQ(s.dialUpDns, "");
  EXPECT_EQ(s.error, "");
}

TEST_F(RegistrySourceTest, DhcpSetReadsTheLeaseAndTheDhcpValues) {
  reg::Registry r = registry();
  r.setNumber(tcpip("El59x1"), "EnableDHCP", 1);
  r.setNumber(tcpip("El59x1"), "LeaseObtainedTime", 900000000);
  r.setNumber(tcpip("El59x1"), "LeaseTerminatesTime", 0xFFFFFFFF);  // a signed value: before 1970
  r.setString(tcpip("El59x1"), "DhcpIPAddress", "192.168.1.20");
  r.setString(tcpip("El59x1"), "DhcpSubnetMask", "255.255.0.0");
  r.setString(tcpip("El59x1"), "DhcpDefaultGateway", "192.168.1.1");
  r.setMultiString(tcpip("El59x1"), "IPAddress", {"0.0.0.0"});
  r.setString(netbt("El59x1"), "DhcpNameServer", "192.168.1.3");
  r.setString(netbt("El59x1"), "NameServer", "10.9.9.9");
  r.setString(kTcpipParameters, "DhcpNameServer", "192.168.1.2");

  const AdapterSettings s = source_->adapter("El59x1");
  EXPECT_TRUE(s.defined);
  EXPECT_TRUE(s.dhcpEnabled);
  EXPECT_EQ(s.leaseObtained, 900000000);
  EXPECT_EQ(s.leaseExpires, -1);
  EXPECT_EQ(s.addresses, "192.168.1.20");
  EXPECT_EQ(s.masks, "255.255.0.0");
  EXPECT_EQ(s.gateways, "192.168.1.1");
  EXPECT_EQ(s.winsPrimary, "192.168.1.3");
  EXPECT_EQ(s.winsBackup, "");
  EXPECT_EQ(s.dns, "192.168.1.2");
}

TEST_F(RegistrySourceTest, MissingKeysGiveAnUndefinedAdapterOrEmptyItems) {
  EXPECT_FALSE(source_->adapter("E100B1").defined);  // no registry file at all
  EXPECT_EQ(source_->adapter("E100B1").error, "");
  reg::Registry r = registry();
  r.createKey(tcpip("E100B1"));
  const AdapterSettings s = source_->adapter("E100B1");
  EXPECT_TRUE(s.defined);
  EXPECT_FALSE(s.dhcpEnabled);
  EXPECT_EQ(s.leaseExpires, 0);
  EXPECT_EQ(s.addresses + s.masks + s.gateways + s.winsPrimary + s.dns, "");
  EXPECT_FALSE(source_->adapter("Other").defined);
}

TEST_F(RegistrySourceTest, ValuesOfOtherTypesAreEmptyAndLongValuesAreCut) {
  reg::Registry r = registry();
  r.setNumber(tcpip("E100B1"), "IPAddress", 5);
  std::string many;
  for (int i = 0; i < 80; ++i) many += "10.0.0." + std::to_string(100 + i) + " ";
  r.setString(tcpip("E100B1"), "DefaultGateway", many);
  const AdapterSettings s = source_->adapter("E100B1");
  EXPECT_EQ(s.addresses, "");
  EXPECT_EQ(s.gateways, many.substr(0, kAddressValueLimit));
}

TEST_F(RegistrySourceTest, NdisWanAdapterUsesItsTcpipBindingAndTheDhcpSet) {
  reg::Registry r = registry();
  r.setMultiString(kServices + "Tcpip\\Linkage"s, "Bind", {"\\Device\\E100B1", "\\Device\\NdisWan5", "\\Device\\NdisWan6"});
  r.setNumber(tcpip("NdisWan5"), "EnableDHCP", 0);
  r.setString(tcpip("NdisWan5"), "DhcpIPAddress", "172.16.4.9");
  r.setString(tcpip("NdisWan5"), "DhcpSubnetMask", "255.255.0.0");
  r.setMultiString(tcpip("NdisWan5"), "IPAddress", {"0.0.0.0"});
  r.setString(kTcpipParameters + "\\Transient"s, "NameServer", "172.16.0.53");
  r.setString(kTcpipParameters, "DhcpNameServer", "10.1.1.1");

  const AdapterSettings s = source_->adapter("NdisWan4");
  EXPECT_TRUE(s.defined);
  EXPECT_TRUE(s.dialUp);
  EXPECT_FALSE(s.dhcpEnabled);
  EXPECT_EQ(s.addresses, "172.16.4.9");
  EXPECT_EQ(s.masks, "255.255.0.0");
  EXPECT_EQ(s.dialUpDns, "172.16.0.53");
  EXPECT_EQ(s.dns, "10.1.1.1");
}

TEST_F(RegistrySourceTest, NdisWanWithoutBindingKeepsItsOwnName) {
  reg::Registry r = registry();
  r.setMultiString(kServices + "Tcpip\\Linkage"s, "Bind", {"\\Device\\E100B1"});
  r.setString(tcpip("NDISWAN4"), "DhcpIPAddress", "172.16.4.10");
  const AdapterSettings s = source_->adapter("NdisWan4");
  EXPECT_TRUE(s.dialUp);
  EXPECT_EQ(s.addresses, "172.16.4.10");
}

TEST_F(RegistrySourceTest, BadInputGivesAClearError) {
  EXPECT_NE(source_->adapter("E100B1\\..\\Tcpip").error, "");
  EXPECT_FALSE(source_->adapter("").defined);
  std::ofstream(dir_ / "registry.reg") << "this is not a registry export\n";
  const AdapterSettings s = source_->adapter("E100B1");
  EXPECT_FALSE(s.defined);
  EXPECT_NE(s.error.find("registry.reg"), std::string::npos) << s.error;
}

TEST_F(RegistrySourceTest, CardTitleAndDriverFileFromNetworkCards) {
  reg::Registry r = registry();
  r.setString(kCards + "1"s, "ServiceName", "Other1");
  r.setString(kCards + "2"s, "ServiceName", "E100B1");
  r.setString(kCards + "2"s, "ProductName", "E100B");
  r.setString(kCards + "2"s, "Title", "[2] Fast Ethernet Adapter");
  r.setString(kServices + "E100B"s, "ImagePath", "\\SystemRoot\\System32\\drivers\\e100b.sys");
  const fs::path driver = dir_ / "windows" / "System32" / "drivers" / "e100b.sys";
  fs::create_directories(driver.parent_path());
  std::ofstream(driver) << "driver";
  struct tm when{};
  when.tm_year = 98;
  when.tm_mon = 2;
  when.tm_mday = 12;
  when.tm_hour = 12;
  when.tm_isdst = -1;
  const time_t stamp = ::mktime(&when);
  utimbuf times{stamp, stamp};
  ASSERT_EQ(::utime(driver.c_str(), &times), 0);

  const CardInfo card = source_->card("e100b1");
  EXPECT_EQ(card.title, "Fast Ethernet Adapter");
  EXPECT_EQ(card.driverFile, driver.string());
  EXPECT_EQ(card.driverTime, stamp);
  EXPECT_EQ(driverText(card), "e100b.sys    12-Mar-1998");

  fs::remove(driver);
  EXPECT_EQ(source_->card("E100B1").driverFile, "");
  EXPECT_EQ(driverText(source_->card("E100B1")), "");
  EXPECT_EQ(source_->card("Missing").title, "");
}

TEST(DottedQuadTest, NetworkByteOrder) {
  const uint8_t bytes[4] = {10, 0, 0, 5};
  uint32_t address = 0;
  std::memcpy(&address, bytes, 4);
  EXPECT_EQ(dottedQuad(address), "10.0.0.5");
  EXPECT_EQ(dottedQuad(0xFFFFFFFF), "255.255.255.255");
  EXPECT_EQ(dottedQuad(0), "0.0.0.0");
}

}  // namespace
}  // namespace veltris::netconfig
