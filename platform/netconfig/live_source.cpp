// The TCP/IP set-up of this Linux machine. An interface with IPv4 addresses has
// TCP/IP settings; an address with a finite lifetime came from DHCP, and its
// remaining lifetime is the lease. Name servers come from the resolver's file,
// WINS servers from Samba's configuration, both under the system root.
#include <linux/if_arp.h>
#include <time.h>

#include <algorithm>

#include "platform/capture/adapter_info.h"
#include "platform/netconfig/config_source.h"
#include "platform/netconfig/resolver_files.h"
#include "platform/netconfig/rtnetlink.h"

namespace veltris::netconfig {
namespace {

namespace fs = std::filesystem;

constexpr char kResolverStub[] = "127.0.0.53";

// Adds `address` to a value, `separator` between addresses, within the value limit.
void appendAddress(std::string& value, const std::string& address, char separator) {
  const size_t needed = address.size() + (value.empty() ? 0 : 1);
  if (value.size() + needed > kAddressValueLimit) return;
  if (!value.empty()) value.push_back(separator);
  value += address;
}

std::string joined(const std::vector<std::string>& addresses, char separator) {
  std::string value;
  for (const std::string& address : addresses) appendAddress(value, address, separator);
  return value;
}

uint32_t maskOf(uint8_t prefixLength) {
  const uint32_t hostOrder = prefixLength == 0 ? 0 : ~uint32_t{0} << (32 - std::min<uint8_t>(prefixLength, 32));
  return __builtin_bswap32(hostOrder);
}

// ppp, tun and wireguard links carry no Ethernet header: the NdisWan case.
bool isDialUpLink(const LinkEntry& link) {
  return link.type == ARPHRD_PPP || link.type == ARPHRD_NONE || link.kind == "wireguard" || link.kind == "tun";
}

int64_t secondsSinceBoot() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec;
}

class LiveSource final : public ConfigSource {
 public:
  explicit LiveSource(fs::path root) : root_(std::move(root)) {}

  AdapterSettings adapter(std::string_view adapterName) override;
  CardInfo card(std::string_view adapterName) override;

 private:
  void readAddresses(const std::vector<AddressEntry>& entries, AdapterSettings& s) const;
  void readGateways(int index, AdapterSettings& s) const;
  std::vector<std::string> nameServers(const char* relativePath) const;
  void readNameServers(AdapterSettings& s) const;

  fs::path root_;
};

AdapterSettings LiveSource::adapter(std::string_view adapterName) {
  AdapterSettings s;
  std::vector<LinkEntry> links;
  if (!dumpLinks(links, s.error)) return s;
  const auto link = std::find_if(links.begin(), links.end(), [&](const LinkEntry& l) { return l.name == adapterName; });
  if (link == links.end()) return s;
  std::vector<AddressEntry> all;
  if (!dumpAddresses(all, s.error)) return s;
  std::vector<AddressEntry> own;
  std::copy_if(all.begin(), all.end(), std::back_inserter(own), [&](const AddressEntry& a) {
    return a.index == link->index && a.address != 0;
  });
  if (own.empty()) return s;  // no IPv4 set-up on this interface
  s.defined = true;
  s.dialUp = isDialUpLink(*link);
  readAddresses(own, s);
  readGateways(link->index, s);
  readNameServers(s);
  return s;
}

void LiveSource::readAddresses(const std::vector<AddressEntry>& entries, AdapterSettings& s) const {
  for (const AddressEntry& entry : entries) {
    appendAddress(s.addresses, dottedQuad(entry.address), '\0');
    appendAddress(s.masks, dottedQuad(maskOf(entry.prefixLength)), '\0');
  }
  const auto leased = std::find_if(entries.begin(), entries.end(), [](const AddressEntry& a) {
    return !a.permanent && a.validLifetime != kForever;
  });
  if (leased == entries.end()) return;
  const int64_t now = ::time(nullptr);
  s.dhcpEnabled = true;
  s.leaseExpires = now + leased->validLifetime;
  const int64_t age = std::max<int64_t>(0, secondsSinceBoot() - leased->updatedHundredths / 100);
  s.leaseObtained = now - age;
}

void LiveSource::readGateways(int index, AdapterSettings& s) const {
  std::vector<DefaultRoute> routes;
  std::string error;
  if (!dumpDefaultRoutes(routes, error)) {
    s.error = error;
    return;
  }
  for (const DefaultRoute& route : routes) {
    if (route.index == index && route.gateway != 0) appendAddress(s.gateways, dottedQuad(route.gateway), '\0');
  }
}

std::vector<std::string> LiveSource::nameServers(const char* relativePath) const {
  std::string text;
  if (!readConfigFile(root_ / relativePath, text)) return {};
  return resolverNameServers(text);
}

void LiveSource::readNameServers(AdapterSettings& s) const {
  std::vector<std::string> dns = nameServers("etc/resolv.conf");
  // systemd-resolved's stub stands for the servers it was given.
  if (!dns.empty() && std::all_of(dns.begin(), dns.end(), [](const std::string& a) { return a == kResolverStub; })) {
    std::vector<std::string> upstream = nameServers("run/systemd/resolve/resolv.conf");
    if (!upstream.empty()) dns = std::move(upstream);
  }
  s.dns = joined(dns, ' ');
  if (s.dialUp) s.dialUpDns = joined(nameServers("etc/ppp/resolv.conf"), ' ');  // pppd's usepeerdns
  std::string samba;
  if (!readConfigFile(root_ / "etc/samba/smb.conf", samba)) return;
  const std::vector<std::string> wins = sambaWinsServers(samba);
  if (!wins.empty()) s.winsPrimary = wins[0];
  if (wins.size() > 1) s.winsBackup = wins[1];
}

CardInfo LiveSource::card(std::string_view adapterName) {
  const capture::AdapterInfo info = capture::describeAdapter(adapterName, capture::AdapterInfoSources::underRoot(root_));
  CardInfo card;
  card.title = withoutTitleMarker(info.title);
  std::error_code ec;
  if (!info.driverFile.empty() && fs::is_regular_file(info.driverFile, ec)) {
    card.driverFile = info.driverFile;
    card.driverTime = info.driverFileTime;
  }
  return card;
}

}  // namespace

std::unique_ptr<ConfigSource> makeLiveSource(const fs::path& systemRoot) {
  return std::make_unique<LiveSource>(systemRoot);
}

}  // namespace veltris::netconfig
