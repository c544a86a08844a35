#pragma once
// An agent whose configuration source is the NT registry layout in a registry
// file of the test's own, so each set-up is written as the registry holds it.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/diagnostics/config_report.h"
#include "agent/diagnostics/role_labels.h"
#include "common/text_field.h"
#include "tests/support/agent_fixture.h"
#include "common/reply_records.h"
#include "platform/registry/registry.h"

namespace veltris::agent::testing {

inline const std::string kServicesKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
inline const std::string kTcpipParametersKey = kServicesKey + "Tcpip\\Parameters";

class ConfigFixture : public ::testing::Test, public AgentFixture {
 public:
  ConfigFixture() : registry(dir() / "registry.reg") {
    installDiagnostics(rt, netconfig::makeRegistrySource(dir() / "registry.reg", dir() / "windows"));
    clock.time = utc(1999, 4, 15, 12, 0, 0);
  }

  static std::string tcpipKey(const std::string& name) { return kServicesKey + name + "\\Parameters\\Tcpip"; }
  static std::string netbtKey(const std::string& name) { return kServicesKey + "NetBT\\Adapters\\" + name; }

  NicArea& adapter(const char* name, const char* title = "Ethernet Adapter",
                   const char* driver = "NETCARD.SYS  12-Mar-1998") {
    NicArea& nic = addAdapter(name);
    copyText(nic.title, sizeof nic.title, title);
    copyText(nic.driverText, sizeof nic.driverText, driver);
    return nic;
  }

  // A static set-up: multi-string values as the network control panel writes them.
  void staticSetup(const std::string& name, const std::vector<std::string>& addresses,
                   const std::vector<std::string>& masks, const std::vector<std::string>& gateways) {
    const std::string key = tcpipKey(name);
    ASSERT_EQ(registry.setNumber(key, "EnableDHCP", 0), reg::kSuccess);
    if (!addresses.empty()) registry.setMultiString(key, "IPAddress", addresses);
    if (!masks.empty()) registry.setMultiString(key, "SubnetMask", masks);
    if (!gateways.empty()) registry.setMultiString(key, "DefaultGateway", gateways);
  }
  void nameServers(const std::string& text) { registry.setString(kTcpipParametersKey, "NameServer", text); }
  void winsServers(const std::string& name, const std::string& primary, const std::string& backup = "") {
    registry.setString(netbtKey(name), "NameServer", primary);
    if (!backup.empty()) registry.setString(netbtKey(name), "NameServerBackup", backup);
  }

  std::string report(size_t capacity = kTextAreaSize) {
    std::vector<char> area(capacity, 'x');
    writeConfigReport(rt, area.data(), area.size());
    return std::string(area.data(), ::strnlen(area.data(), area.size()));
  }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) out.push_back(text.substr(at, end - at));
    out.push_back(text.substr(at));
    return out;
  }

  // An address text in slot form: 15 characters and a blank per address.
  static std::string slots(std::initializer_list<const char*> addresses) {
    std::string text;
    for (const char* address : addresses) text += padded(address, 15, ' ') + ' ';
    return text;
  }

  static uint32_t ip(const char* text) { return ::inet_addr(text); }

  std::string ipSummary() {
    std::lock_guard lock(rt.global.labelMutex);
    return rt.global.ipSummary;
  }

  reg::Registry registry;
};

}  // namespace veltris::agent::testing
