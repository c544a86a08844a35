// The live source inside network namespaces set up by the test: what the test
// configured comes back as the adapter's items.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/netconfig/config_source.h"
#include "platform/netconfig/rtnetlink.h"
#include "tests/support/namespace_pair.h"

namespace veltris::netconfig {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class LiveSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "veltris-liveroot-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void writeFile(const std::string& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << text;
  }

  // Creates the namespaces and runs `commands` (with {A} and {LA} standing for
  // namespace A and its veth end); skips when namespaces are not available.
  bool setUpNamespaces(testing::NamespacePair& pair, std::vector<std::string> commands) {
    std::string error;
    if (!pair.create(error)) {
      ADD_FAILURE() << error;
      return false;
    }
    for (std::string& command : commands) {
      for (auto [mark, text] : {std::pair{"{A}"s, pair.a}, std::pair{"{LA}"s, pair.linkA}}) {
        for (size_t at = command.find(mark); at != std::string::npos; at = command.find(mark))
          command.replace(at, mark.size(), text);
      }
    }
    if (!testing::NamespacePair::run(commands, error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  fs::path root_;
};

TEST_F(LiveSourceTest, UnknownInterfaceIsNotDefined) {
  const AdapterSettings s = makeLiveSource(root_)->adapter("no-such-if0");
  EXPECT_FALSE(s.defined);
  EXPECT_EQ(s.error, "");
}

TEST_F(LiveSourceTest, AddressesMasksGatewaysAndNameServersAsConfigured) {
  if (std::string why = testing::namespaceTestsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  testing::NamespacePair pair;
  ASSERT_TRUE(setUpNamespaces(pair, {
                                        "ip -n {A} addr add 10.77.1.10/24 dev {LA}",
                                        "ip -n {A} addr add 10.77.2.20/16 dev {LA}",
                                        "ip -n {A} route add default via 10.77.1.1 metric 100",
                                        "ip -n {A} route add default via 10.77.1.2 metric 50",
                                    }));
  writeFile("etc/resolv.conf", "search test\nnameserver 10.77.1.53\nnameserver 10.77.1.54\n");
  writeFile("etc/samba/smb.conf", "[global]\n  wins server = 10.77.1.70 10.77.1.71\n");
  std::unique_ptr<ConfigSource> source = makeLiveSource(root_);
  AdapterSettings s;
  AdapterSettings loopback;
  std::string error;
  ASSERT_TRUE(testing::runInNamespace(pair.a, [&] {
    s = source->adapter(pair.linkA);
    loopback = source->adapter("lo");
  }, error)) << error;

  EXPECT_EQ(s.error, "");
  EXPECT_TRUE(s.defined);
  EXPECT_FALSE(s.dialUp);
  EXPECT_FALSE(s.dhcpEnabled);
  EXPECT_EQ(s.leaseExpires, 0);
  EXPECT_EQ(s.addresses, "10.77.1.10\0" "10.77.2.20"s);
  EXPECT_EQ(s.masks, "255.255.255.0\0" "255.255.0.0"s);
  EXPECT_EQ(s.gateways, "10.77.1.2\0" "10.77.1.1"s);  // lowest metric first
  EXPECT_EQ(s.dns, "10.77.1.53 10.77.1.54");
  EXPECT_EQ(s.winsPrimary, "10.77.1.70");
  EXPECT_EQ(s.winsBackup, "10.77.1.71");
  EXPECT_EQ(s.dialUpDns, "");

  EXPECT_TRUE(loopback.defined);
  EXPECT_EQ(loopback.addresses, "127.0.0.1");
  EXPECT_EQ(loopback.masks, "255.0.0.0");
  EXPECT_EQ(loopback.gateways, "");
}

TEST_F(LiveSourceTest, AddressWithALifetimeIsALease) {
  if (std::string why = testing::namespaceTestsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  testing::NamespacePair pair;
  ASSERT_TRUE(setUpNamespaces(pair, {"ip -n {A} addr add 10.77.3.30/24 dev {LA} valid_lft 3600 preferred_lft 3600"}));
  std::unique_ptr<ConfigSource> source = makeLiveSource(root_);
  AdapterSettings s;
  std::string error;
  const int64_t before = ::time(nullptr);
  ASSERT_TRUE(testing::runInNamespace(pair.a, [&] { s = source->adapter(pair.linkA); }, error)) << error;
  const int64_t after = ::time(nullptr);
  EXPECT_TRUE(s.dhcpEnabled);
  EXPECT_EQ(s.addresses, "10.77.3.30");
  EXPECT_GE(s.leaseExpires, before + 3590);
  EXPECT_LE(s.leaseExpires, after + 3600);
  EXPECT_GE(s.leaseObtained, before - 30);
  EXPECT_LE(s.leaseObtained, after + 1);
}

TEST_F(LiveSourceTest, TunLinkIsTheDialUpCase) {
  if (std::string why = testing::namespaceTestsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  if (!fs::exists("/dev/net/tun")) GTEST_SKIP() << "no /dev/net/tun";
  testing::NamespacePair pair;
  const std::string tun = pair.linkA + "t";
  ASSERT_TRUE(setUpNamespaces(pair, {
                                        "ip -n {A} tuntap add dev " + tun + " mode tun",
                                        "ip -n {A} addr add 10.88.0.1 peer 10.88.0.2 dev " + tun,
                                        "ip -n {A} link set " + tun + " up",
                                        "ip -n {A} route add default dev " + tun,
                                    }));
  writeFile("etc/resolv.conf", "nameserver 127.0.0.53\n");
  writeFile("run/systemd/resolve/resolv.conf", "nameserver 10.0.0.53\n");
  writeFile("etc/ppp/resolv.conf", "nameserver 10.88.0.53\n");
  std::unique_ptr<ConfigSource> source = makeLiveSource(root_);
  AdapterSettings s;
  AdapterSettings veth;
  std::string error;
  ASSERT_TRUE(testing::runInNamespace(pair.a, [&] {
    s = source->adapter(tun);
    veth = source->adapter(pair.linkA);  // up, but without IPv4 addresses
  }, error)) << error;
  EXPECT_TRUE(s.defined);
  EXPECT_TRUE(s.dialUp);
  EXPECT_EQ(s.addresses, "10.88.0.1");
  EXPECT_EQ(s.masks, "255.255.255.255");
  EXPECT_EQ(s.gateways, "");  // a point-to-point default route has no gateway
  EXPECT_EQ(s.dialUpDns, "10.88.0.53");
  EXPECT_EQ(s.dns, "10.0.0.53");  // behind the systemd-resolved stub
  EXPECT_FALSE(veth.defined);
}

TEST_F(LiveSourceTest, DumpsAnswerForTheCallersNamespace) {
  if (std::string why = testing::namespaceTestsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  testing::NamespacePair pair;
  ASSERT_TRUE(setUpNamespaces(pair, {"ip -n {A} addr add 10.77.4.4/30 dev {LA}"}));
  std::vector<LinkEntry> links;
  std::vector<AddressEntry> addresses;
  std::string error, dumpError;
  ASSERT_TRUE(testing::runInNamespace(pair.a, [&] {
    if (!dumpLinks(links, dumpError) || !dumpAddresses(addresses, dumpError)) return;
  }, error)) << error;
  ASSERT_EQ(dumpError, "");
  ASSERT_EQ(links.size(), 2u);  // lo and the veth end
  EXPECT_EQ(links[1].name, pair.linkA);
  EXPECT_EQ(links[1].kind, "veth");
  bool found = false;
  for (const AddressEntry& a : addresses) {
    if (a.index != links[1].index) continue;
    found = true;
    EXPECT_EQ(dottedQuad(a.address), "10.77.4.4");
    EXPECT_EQ(a.prefixLength, 30);
    EXPECT_TRUE(a.permanent);
    EXPECT_EQ(a.validLifetime, kForever);
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace veltris::netconfig
