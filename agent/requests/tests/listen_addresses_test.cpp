#include "agent/requests/listen_addresses.h"

#include <gtest/gtest.h>

namespace veltris::agent {
namespace {

rpc::ListenAddress address(const std::string& text) {
  rpc::ListenAddress a;
  EXPECT_TRUE(rpc::parseListenAddress(text, a)) << text;
  return a;
}

TEST(ListenAddresses, ValueWordsResolveAgainstTheInterfaces) {
  const InterfaceAddresses interfaces = {
      {"lo", {address("127.0.0.1"), address("::1")}},
      {"eth0", {address("192.0.2.5"), address("2001:db8::5")}},
      {"dummy0", {}},
  };
  struct Case {
    const char* value;
    std::vector<std::string> expected;  // empty: every address
    const char* noteHas;
  };
  const Case cases[] = {
      {"", {}, ""},
      {"all", {}, ""},
      {" * ", {}, ""},
      {"loopback", {"127.0.0.1", "::1"}, "Listening on 127.0.0.1, ::1"},
      {"eth0", {"192.0.2.5", "2001:db8::5"}, "Listening on 192.0.2.5, 2001:db8::5 (ListenAddress 'eth0')"},
      {"eth0, 127.0.0.1 eth0", {"192.0.2.5", "2001:db8::5", "127.0.0.1"}, "Listening on"},
      {"192.0.2.99", {"192.0.2.99"}, "Listening on 192.0.2.99"},
      {"eth0 wlan7", {"192.0.2.5", "2001:db8::5"}, "ignored: wlan7"},
      // Nothing usable: loopback, never everything.
      {"dummy0", {"127.0.0.1", "::1"}, "(dummy0 (no address)); listening on loopback only"},
      {"nonsense", {"127.0.0.1", "::1"}, "listening on loopback only"},
      {"all eth9", {"127.0.0.1", "::1"}, "listening on loopback only"},
  };
  for (const Case& c : cases) {
    ListenChoice choice = resolveListenAddresses(c.value, interfaces);
    std::vector<std::string> got;
    for (const rpc::ListenAddress& a : choice.addresses) got.push_back(a.text);
    EXPECT_EQ(got, c.expected) << c.value;
    EXPECT_NE(choice.note.find(c.noteHas), std::string::npos) << c.value << ": " << choice.note;
    if (c.expected.empty()) EXPECT_EQ(choice.note, "") << c.value;
  }
}

}  // namespace
}  // namespace veltris::agent
