#pragma once
// Where the agent learns an adapter's TCP/IP set-up: DHCP state and lease,
// addresses, masks, gateways, DNS and WINS servers, and the card's title and
// driver file. Two sources share the interface: the live Linux one, and one
// that reads the NT registry layout (Tcpip, NetBT, NetworkCards keys) from a
// registry file, for tests and demonstrations.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace veltris::netconfig {

// Address values keep the shape the registry gives them: one address per
// string of a multi-string (strings separated by NUL characters here), or one
// string with blanks between addresses. At most 799 characters.
constexpr size_t kAddressValueLimit = 799;

struct AdapterSettings {
  bool defined = false;  // TCP/IP settings exist for the adapter
  bool dialUp = false;   // a dial-up link (the NdisWan case)
  bool dhcpEnabled = false;
  int64_t leaseObtained = 0;  // seconds since 1970; 0 when unknown
  int64_t leaseExpires = 0;   // seconds since 1970; 0 when there is no lease end
  // Of the set in use (DHCP or static).
  std::string addresses;
  std::string masks;
  std::string gateways;
  std::string winsPrimary;
  std::string winsBackup;
  std::string dialUpDns;  // name servers of the dial-up connection
  std::string dns;        // name servers of the machine
  std::string error;      // why settings could not be read; empty when none failed
};

struct CardInfo {
  std::string title;        // display title, without a leading "[n] " marker
  std::string driverFile;   // path of the driver file, empty when not found
  int64_t driverTime = 0;   // the file's last-write time; 0 without a file
};

class ConfigSource {
 public:
  virtual ~ConfigSource() = default;
  // Safe to call from several threads at once.
  virtual AdapterSettings adapter(std::string_view adapterName) = 0;
  virtual CardInfo card(std::string_view adapterName) = 0;
};

// Linux: rtnetlink for links, addresses and default routes; resolver and
// Samba configuration files under `systemRoot`.
std::unique_ptr<ConfigSource> makeLiveSource(const std::filesystem::path& systemRoot);
// The NT registry layout, read from `registryFile`; driver files below `windowsDirectory`.
std::unique_ptr<ConfigSource> makeRegistrySource(const std::filesystem::path& registryFile,
                                                 const std::filesystem::path& windowsDirectory);

// "%-12s %s": the driver's file name and its date as day-month-year, or empty
// when no file was found.
std::string driverText(const CardInfo& card);

// A card title without its leading "[x] " marker.
std::string withoutTitleMarker(std::string title);

// Text of an IPv4 address given as in_addr.s_addr.
std::string dottedQuad(uint32_t address);

}  // namespace veltris::netconfig
