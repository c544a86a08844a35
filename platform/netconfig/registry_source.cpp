// The NT registry layout of a machine's TCP/IP set-up, read from a registry file:
// Services\<adapter>\Parameters\Tcpip, Services\NetBT\Adapters\<adapter>,
// Services\Tcpip\Parameters (and its Transient key for dial-up links),
// Services\Tcpip\Linkage "Bind" for NdisWan, and the NetworkCards list.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "platform/netconfig/config_source.h"
#include "platform/registry/registry.h"

namespace veltris::netconfig {
namespace {

namespace fs = std::filesystem;

constexpr char kServices[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kTcpipParameters[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
constexpr char kTcpipLinkage[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage";
constexpr char kNetworkCards[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr size_t kBindLimit = 255;
constexpr size_t kCardTextLimit = 512;
constexpr size_t kImagePathLimit = 260;
constexpr size_t kMaxKeyName = 255;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// A name that stands for one key level: no separators, not empty, not too long.
bool usableKeyName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxKeyName && name.find('\\') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The strings of a value as read into a buffer of `limit` bytes: a string value
// ends at its first NUL; a multi-string's strings are kept, NUL between them.
std::string valueText(reg::Registry& registry, const std::string& key, const char* name, size_t limit) {
  reg::ValueType type = reg::ValueType::None;
  std::vector<uint8_t> data;
  if (registry.queryValue(key, name, type, data) != reg::kSuccess) return {};
  if (type != reg::ValueType::Sz && type != reg::ValueType::ExpandSz && type != reg::ValueType::MultiSz) return {};
  std::string text(data.begin(), data.begin() + static_cast<ptrdiff_t>(std::min(data.size(), limit)));
  if (type != reg::ValueType::MultiSz) return text.substr(0, text.find('\0'));
  const size_t listEnd = text.find(std::string_view("\0\0", 2));
  if (listEnd != std::string::npos) text.resize(listEnd);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string addressValue(reg::Registry& registry, const std::string& key, const char* name) {
  return valueText(registry, key, name, kAddressValueLimit);
}

int64_t signedNumber(reg::Registry& registry, const std::string& key, const char* name) {
  uint32_t value = 0;
  if (registry.queryNumber(key, name, value) != reg::kSuccess) return 0;
  return static_cast<int32_t>(value);
}

struct ValueNames {
  const char* addresses;
  const char* gateways;
  const char* masks;
  const char* nameServer;
  const char* nameServerBackup;
};
constexpr ValueNames kStaticSet{"IPAddress", "DefaultGateway", "SubnetMask", "NameServer", "NameServerBackup"};
constexpr ValueNames kDhcpSet{"DhcpIPAddress", "DhcpDefaultGateway", "DhcpSubnetMask", "DhcpNameServer",
                              "DhcpNameServerBackup"};

class RegistrySource final : public ConfigSource {
 public:
  RegistrySource(fs::path registryFile, fs::path windowsDirectory)
      : file_(std::move(registryFile)), windowsDirectory_(std::move(windowsDirectory)) {}

  AdapterSettings adapter(std::string_view adapterName) override;
  CardInfo card(std::string_view adapterName) override;

 private:
  std::string tcpipName(reg::Registry& registry, std::string_view adapterName) const;
  fs::path driverPath(std::string imagePath) const;

  fs::path file_;
  fs::path windowsDirectory_;
};

// A dial-up adapter's TCP/IP settings stand under the NdisWan binding of TCP/IP.
std::string RegistrySource::tcpipName(reg::Registry& registry, std::string_view adapterName) const {
  std::string name(adapterName);
  if (!startsWithNoCase(adapterName, "NdisWan")) return name;
  std::string bind = valueText(registry, kTcpipLinkage, "Bind", kBindLimit);
  std::string_view rest(bind);
  while (!rest.empty()) {
    const std::string_view entry = rest.substr(0, rest.find('\0'));
    if (startsWithNoCase(entry, "\\Device\\NdisWan")) return std::string(entry.substr(8));
    rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
  }
  return name;
}

AdapterSettings RegistrySource::adapter(std::string_view adapterName) {
  AdapterSettings s;
  reg::Registry registry(file_);
  if (!usableKeyName(adapterName)) {
    s.error = "adapter name \"" + std::string(adapterName) + "\" cannot name a registry key";
    return s;
  }
  const std::string name = tcpipName(registry, adapterName);
  s.dialUp = startsWithNoCase(name, "NdisWan");
  const std::string key = kServices + name + "\\Parameters\\Tcpip";
  if (const long rc = registry.keyExists(key); rc != reg::kSuccess) {
    if (rc != reg::kFileNotFound) s.error = registry.lastError();
    return s;
  }
  s.defined = true;
  s.dhcpEnabled = signedNumber(registry, key, "EnableDHCP") != 0;
  s.leaseObtained = signedNumber(registry, key, "LeaseObtainedTime");
  s.leaseExpires = signedNumber(registry, key, "LeaseTerminatesTime");
  const ValueNames& set = s.dhcpEnabled || s.dialUp ? kDhcpSet : kStaticSet;
  s.addresses = addressValue(registry, key, set.addresses);
  s.gateways = addressValue(registry, key, set.gateways);
  s.masks = addressValue(registry, key, set.masks);
  const std::string netbt = kServices + std::string("NetBT\\Adapters\\") + name;
  s.winsPrimary = addressValue(registry, netbt, set.nameServer);
  s.winsBackup = addressValue(registry, netbt, set.nameServerBackup);
  if (s.dialUp) s.dialUpDns = addressValue(registry, std::string(kTcpipParameters) + "\\Transient", "NameServer");
  s.dns = addressValue(registry, kTcpipParameters, set.nameServer);
  return s;
}

fs::path RegistrySource::driverPath(std::string imagePath) const {
  std::replace(imagePath.begin(), imagePath.end(), '\\', '/');
  if (startsWithNoCase(imagePath, "/SystemRoot/")) return windowsDirectory_ / imagePath.substr(12);
  return imagePath;
}

CardInfo RegistrySource::card(std::string_view adapterName) {
  CardInfo card;
  reg::Registry registry(file_);
  std::vector<std::string> cards;
  if (registry.enumSubkeys(kNetworkCards, cards) != reg::kSuccess) return card;
  for (const std::string& number : cards) {
    const std::string key = std::string(kNetworkCards) + "\\" + number;
    const std::string service = valueText(registry, key, "ServiceName", kCardTextLimit);
    if (service.size() != adapterName.size() || !startsWithNoCase(service, adapterName)) continue;
    card.title = withoutTitleMarker(valueText(registry, key, "Title", kCardTextLimit));
    const std::string product = valueText(registry, key, "ProductName", kCardTextLimit);
    if (!usableKeyName(product)) return card;
    const std::string image = valueText(registry, kServices + product, "ImagePath", kImagePathLimit);
    struct stat info{};
    if (image.empty()) return card;
    const fs::path path = driverPath(image);
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return card;
    card.driverFile = path.string();
    card.driverTime = info.st_mtime;
    return card;
  }
  return card;
}

}  // namespace

std::unique_ptr<ConfigSource> makeRegistrySource(const fs::path& registryFile, const fs::path& windowsDirectory) {
  return std::make_unique<RegistrySource>(registryFile, windowsDirectory);
}

}  // namespace veltris::netconfig
