#include "agent/diagnostics/adapters_report.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/process_watch.h"

namespace veltris::agent {
namespace {

namespace fs = std::filesystem;

constexpr time_t kModuleTime = 915148800;  // 1999-01-01 00:00:00 UTC

// Report texts carry local times: the tests run in UTC, below a scratch root.
class ReportTest : public ::testing::Test {
 protected:
  ReportTest() {
    if (const char* tz = std::getenv("TZ")) previousTz_ = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ::setenv("VELTRIS_ROOT", dir.path().c_str(), 1);
  }
  ~ReportTest() override {
    ::unsetenv("VELTRIS_ROOT");
    if (previousTz_.empty()) ::unsetenv("TZ");
    else ::setenv("TZ", previousTz_.c_str(), 1);
    ::tzset();
  }
  fs::path file(const fs::path& relative, const std::string& text, time_t written = kModuleTime) {
    const fs::path path = fs::path(dir.path()) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    utimbuf times{written, written};
    ::utime(path.c_str(), &times);
    return path;
  }
  void link(const fs::path& at, const fs::path& target) {
    fs::create_directories(at.parent_path());
    fs::create_directory_symlink(target, at);
  }
  runner::testing::ScratchDir dir;

 private:
  std::string previousTz_;
};

class FixtureCards final : public InstalledCardSource {
 public:
  void platform(std::string& release, std::string& version) const override {
    release = "6.1.0-9-amd64";
    version = "#1 SMP Debian 6.1.27-1";
  }
  bool openCards() override { return listed; }
  bool card(int number, InstalledCard& card) const override {
    auto found = cards.find(number);
    if (found == cards.end()) return false;
    card = found->second;
    return true;
  }
  bool listed = true;
  std::map<int, InstalledCard> cards;
};

std::string reportOf(InstalledCardSource& source, size_t capacity = 4096) {
  std::vector<char> area(capacity + 1, 'Z');
  const size_t written = writeAdaptersReport(source, area.data(), capacity);
  EXPECT_EQ(area[capacity], 'Z');
  EXPECT_EQ(written, capacity > 0 ? std::strlen(area.data()) : 0u);
  return std::string(area.data(), written);
}

const char* const kHeader =
    "INSTALLED NETWORK ADAPTERS\r\n\r\n  Platform    : Linux 6.1.0-9-amd64  #1 SMP Debian 6.1.27-1\r\n";

std::string cardText(const std::string& product, const std::string& description, const std::string& maker,
                     const std::string& service, const std::string& driver) {
  return "\r\n  Product Name: " + product + "\r\n  Description : " + description + "\r\n  Manufacturer: " + maker +
         "\r\n  Service Name: " + service + "\r\n  Driver      : " + driver + "\r\n";
}

TEST_F(ReportTest, CardsUpToTheFirstMissingNumberAreListed) {
  const fs::path module = file("lib/modules/e1000e.ko", std::string(123456, 'm'));
  FixtureCards source;
  source.cards[1] = {"82574L Gigabit Network Connection", "Intel Corporation 82574L Gigabit Network Connection",
                     "Intel Corporation", "eth0", module.string()};
  source.cards[2] = {"veth", "veth", "", "veth0", ""};
  source.cards[4] = {"never shown", "", "", "eth4", ""};  // card 3 was removed
  EXPECT_EQ(reportOf(source),
            kHeader +
                cardText("82574L Gigabit Network Connection", "Intel Corporation 82574L Gigabit Network Connection",
                         "Intel Corporation", "eth0", "e1000e.ko       123456  00:00:00  01-January-1999") +
                cardText("veth", "veth", "", "veth0", "?"));
}

TEST_F(ReportTest, WithoutACardListTheReportSaysSo) {
  FixtureCards source;
  source.listed = false;
  EXPECT_EQ(reportOf(source), std::string(kHeader) + "\r\nCOULD NOT LOCATE ANY INSTALL NETWORK CARDS\r\n");
}

TEST_F(ReportTest, CapacityBelow1000LeavesTheAreaEmpty) {
  FixtureCards source;
  source.cards[1] = {"p", "d", "m", "eth0", ""};
  std::vector<char> area(999, 'Q');
  EXPECT_EQ(writeAdaptersReport(source, area.data(), area.size()), 0u);
  EXPECT_EQ(std::string(area.begin(), area.end()), std::string(999, '\0'));
  EXPECT_EQ(reportOf(source, 1000), kHeader + cardText("p", "d", "m", "eth0", "?"));
}

TEST_F(ReportTest, CardsStopWhenLessThan100CharactersAreLeftOrAfter15) {
  FixtureCards source;
  for (int n = 1; n <= 20; ++n) source.cards[n] = {std::string(250, 'p'), "d", "m", "eth" + std::to_string(n), ""};
  const std::string small = reportOf(source, 1000);
  EXPECT_EQ(small.size(), 999u);  // 349 characters a card: the third began with 210 left, and was cut
  size_t cards = 0;
  for (size_t at = small.find("Product Name"); at != std::string::npos; at = small.find("Product Name", at + 1)) ++cards;
  EXPECT_EQ(cards, 3u);

  const std::string full = reportOf(source, 1u << 16);
  EXPECT_NE(full.find("Service Name: eth15\r\n"), std::string::npos);
  EXPECT_EQ(full.find("Service Name: eth16\r\n"), std::string::npos);
}

TEST_F(ReportTest, DriverTextOfAFileAPathOrNothing) {
  const fs::path module = file("lib/modules/kernel/drivers/net/virtio_net.ko.xz", "0123456789");
  char text[512] = "unchanged";
  writeDriverText(module.string(), text, sizeof text);
  EXPECT_STREQ(text, "virtio_net.ko.xz        10  00:00:00  01-January-1999");
  writeDriverText("", text, sizeof text);
  EXPECT_STREQ(text, "?");
  writeDriverText("/lib/modules/gone.ko", text, sizeof text);
  EXPECT_STREQ(text, "/lib/modules/gone.ko");
  char small[99];
  std::strcpy(small, "unchanged");
  writeDriverText(module.string(), small, sizeof small);
  EXPECT_STREQ(small, "unchanged");
}

TEST_F(ReportTest, SystemRootPrefixIsLookedUpBelowTheWindowsDirectory) {
  file("var/lib/veltris/System32/drivers/E100B.SYS", "driver", kModuleTime + 3600 * 13 + 62);
  char text[512] = {};
  writeDriverText("\\SystemRoot\\System32\\drivers\\E100B.SYS", text, sizeof text);
  EXPECT_STREQ(text, "E100B.SYS            6  13:01:02  01-January-1999");
  writeDriverText("\\systemroot\\System32\\drivers\\E100B.SYS", text, sizeof text);  // case ignored
  EXPECT_STREQ(text, "E100B.SYS            6  13:01:02  01-January-1999");
  writeDriverText("\\SystemRoot\\System32\\drivers\\GONE.SYS", text, sizeof text);
  EXPECT_EQ(std::string(text), (fs::path(dir.path()) / "var/lib/veltris/System32/drivers/GONE.SYS").string());
}

// A machine in a scratch tree: a PCI card, a USB card, and interfaces that are no cards.
TEST_F(ReportTest, SysfsCardsAreDevicesInInterfaceIndexOrder) {
  const fs::path sys = fs::path(dir.path()) / "sys";
  const fs::path pci = sys / "devices/pci0000:00/0000:00:19.0";
  file("sys/devices/pci0000:00/0000:00:19.0/vendor", "0x8086\n");
  file("sys/devices/pci0000:00/0000:00:19.0/device", "0x100e\n");
  fs::create_directories(sys / "bus/pci/drivers/e1000");
  link(pci / "subsystem", sys / "bus/pci");
  link(pci / "driver", sys / "bus/pci/drivers/e1000");
  const fs::path usb = sys / "devices/usb1/1-1";
  file("sys/devices/usb1/1-1/idVendor", "0bda\n");
  file("sys/devices/usb1/1-1/idProduct", "8153\n");
  fs::create_directories(sys / "bus/usb/drivers/r8152");
  link(usb / "1-1:1.0/driver", sys / "bus/usb/drivers/r8152");
  link(sys / "class/net/eth9/device", pci);
  file("sys/class/net/eth9/ifindex", "7\n");
  link(sys / "class/net/usb0/device", usb / "1-1:1.0");
  file("sys/class/net/usb0/ifindex", "3\n");
  file("sys/class/net/lo/ifindex", "1\n");
  file("sys/class/net/br0/uevent", "DEVTYPE=bridge\n");
  file("usr/share/misc/pci.ids", "8086  Intel Corporation\n\t100e  82540EM Gigabit Ethernet Controller\n");
  file("usr/share/hwdata/usb.ids", "0bda  Realtek Semiconductor Corp.\n\t8153  RTL8153 Gigabit Ethernet Adapter\n");
  utsname system{};
  ::uname(&system);
  const fs::path modules = fs::path(dir.path()) / "lib/modules" / system.release;
  file(modules.lexically_relative(dir.path()) / "kernel/e1000.ko.xz", "module");
  file(modules.lexically_relative(dir.path()) / "modules.dep", "kernel/e1000.ko.xz:\n");

  SysfsCardSource source(dir.path());
  ASSERT_TRUE(source.openCards());
  InstalledCard card;
  ASSERT_TRUE(source.card(1, card));
  EXPECT_EQ(card.productName, "RTL8153 Gigabit Ethernet Adapter");
  EXPECT_EQ(card.description, "Realtek Semiconductor Corp. RTL8153 Gigabit Ethernet Adapter");
  EXPECT_EQ(card.manufacturer, "Realtek Semiconductor Corp.");
  EXPECT_EQ(card.serviceName, "usb0");
  EXPECT_EQ(card.driverImagePath, "");  // r8152 is not in the modules list
  ASSERT_TRUE(source.card(2, card));
  EXPECT_EQ(card.productName, "82540EM Gigabit Ethernet Controller");
  EXPECT_EQ(card.manufacturer, "Intel Corporation");
  EXPECT_EQ(card.serviceName, "eth9");
  EXPECT_EQ(card.driverImagePath, (modules / "kernel/e1000.ko.xz").string());
  EXPECT_FALSE(source.card(3, card));
  EXPECT_FALSE(source.card(0, card));

  char area[4096];
  writeAdaptersReport(source, area, sizeof area);
  const std::string text(area);
  EXPECT_NE(text.find("  Service Name: usb0\r\n  Driver      : ?\r\n\r\n  Product Name: 82540EM"), std::string::npos);
  EXPECT_NE(text.find("  Driver      : e1000.ko.xz          6  00:00:00  01-January-1999\r\n"), std::string::npos);
}

TEST_F(ReportTest, AtMost15SysfsCards) {
  const fs::path sys = fs::path(dir.path()) / "sys";
  for (int n = 1; n <= 16; ++n) {
    const std::string name = "eth" + std::to_string(n);
    fs::create_directories(sys / "devices/virtual" / name);
    link(sys / "class/net" / name / "device", sys / "devices/virtual" / name);
    file("sys/class/net/" + name + "/ifindex", std::to_string(n + 1));
  }
  SysfsCardSource source(dir.path());
  ASSERT_TRUE(source.openCards());
  InstalledCard card;
  ASSERT_TRUE(source.card(15, card));
  EXPECT_EQ(card.serviceName, "eth15");  // by index, not by name ("eth10" sorts before "eth2")
  EXPECT_EQ(card.productName, "eth15");  // nothing known: the interface name
  EXPECT_FALSE(source.card(16, card));

  SysfsCardSource none(fs::path(dir.path()) / "missing");
  EXPECT_FALSE(none.openCards());
}

TEST(LiveReportTest, ThisMachinesPlatformLine) {
  SysfsCardSource source("/");
  char area[4096];
  writeAdaptersReport(source, area, sizeof area);
  utsname system{};
  ::uname(&system);
  const std::string expected = std::string("INSTALLED NETWORK ADAPTERS\r\n\r\n  Platform    : Linux ") + system.release + "  ";
  EXPECT_EQ(std::string(area).substr(0, expected.size()), expected);
}

}  // namespace
}  // namespace veltris::agent
