#include "platform/netconfig/resolver_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace veltris::netconfig {
namespace {

using Servers = std::vector<std::string>;

TEST(ResolverFileTest, NameserverLinesInOrderIpv4Only) {
  const char* text =
      "# Generated\n"
      "search example.net\n"
      "nameserver 10.0.0.2\n"
      "  nameserver\t10.0.0.3   # second\n"
      "nameserver fe80::1\n"
      "; nameserver 10.0.0.9\n"
      "nameserver10.0.0.4\n"
      "nameserver 10.0.0.300\n"
      "options edns0\n"
      "nameserver 192.168.1.1";  // no line end
  EXPECT_EQ(resolverNameServers(text), (Servers{"10.0.0.2", "10.0.0.3", "192.168.1.1"}));
  EXPECT_EQ(resolverNameServers(""), Servers{});
  EXPECT_EQ(resolverNameServers("nameserver\n"), Servers{});
  EXPECT_EQ(resolverNameServers("nameserver 10.0.0.2\r\n"), Servers{"10.0.0.2"});
}

TEST(SambaConfigTest, WinsServerOfTheGlobalSection) {
  const char* text =
      "; Samba\n"
      "[global]\n"
      "   workgroup = WORKGROUP\n"
      "   WINS Server = 10.0.0.7 tag:10.0.0.8, host.example\n"
      "[homes]\n"
      "   wins server = 10.9.9.9\n";
  EXPECT_EQ(sambaWinsServers(text), (Servers{"10.0.0.7", "10.0.0.8"}));
}

TEST(SambaConfigTest, LastSettingWinsAndLinesContinue) {
  const char* text =
      "winsserver = 10.0.0.1\n"  // before any section: global
      "[ Global ]\n"
      "wins server = 10.0.0.2 \\\n"
      "   10.0.0.3\n"
      "# wins server = 10.0.0.4\n";
  EXPECT_EQ(sambaWinsServers(text), (Servers{"10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(sambaWinsServers("[global]\nwins support = yes\n"), Servers{});
  EXPECT_EQ(sambaWinsServers("[global\nwins server = 10.0.0.1\n"), Servers{});  // broken header: not global
  EXPECT_EQ(sambaWinsServers("[global]\nwins server =\n"), Servers{});
}

TEST(ConfigFileTest, ReadsRegularFilesOnlyAndBoundsTheSize) {
  std::string pattern = (std::filesystem::temp_directory_path() / "veltris-resolv-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path dir = pattern;
  std::string text;
  EXPECT_FALSE(readConfigFile(dir / "missing", text));
  EXPECT_FALSE(readConfigFile(dir, text));  // a directory
  {
    std::ofstream out(dir / "big");
    out << "nameserver 10.0.0.2\n" << std::string(kConfigFileLimit + 100, '#');
  }
  ASSERT_TRUE(readConfigFile(dir / "big", text));
  EXPECT_EQ(text.size(), kConfigFileLimit);
  EXPECT_EQ(resolverNameServers(text), Servers{"10.0.0.2"});
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace veltris::netconfig
