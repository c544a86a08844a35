#include "agent/diagnostics/config_report.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "agent/diagnostics/role_labels.h"
#include "common/text_field.h"

namespace veltris::agent {
namespace {

using netconfig::AdapterSettings;
using netconfig::dottedQuad;

constexpr char kTooSmall[] = "ERROR - BUFFER TOO SMALL";
constexpr char kNoAdapters[] = "%s\r\n\r\n*** ERROR: No Adapters are being montiored.";
constexpr char kMultipleAdapters[] = "%s\r\n*** WARNING: Multiple Adapters.";
constexpr char kReport[] = "%s Computer Name : %s%s";
constexpr char kAdapterHeading[] = "%s\r\n\r\n Adapter #%-2d   : %s\r\n Driver        : %s";
constexpr char kNotDefined[] = "%s\r\n IP            : Not defined";
constexpr char kLeaseExpired[] = "%s\r\n*** WARNING: DHCP Lease expired for adapter #%d";
constexpr char kDhcpExpired[] = "%s\r\n IP            : DHCP EXPIRED ";
constexpr char kMultipleAddresses[] = "%s\r\n*** WARNING: Multiple IP addresses for adapter #%d.";
constexpr char kMultipleGateways[] = "%s\r\n*** WARNING: Multiple Gateway addresses for adapter #%d.";
constexpr char kNoMask[] = "%s\r\n*** ERROR: Could not determine Subnet Mask for adapter #%d.";
constexpr char kNoGateway[] = "%s\r\n*** WARNING: NO Default Gateway defined for adapter #%d.";
constexpr char kLocalSubnet[] = "%s\r\n Local Subnet  : %-15s";
constexpr char kSubnetEnd[] = "%s to %s";
constexpr char kGatewaySelf[] = "%s\r\n*** WARNING: GATEWAY is SELF for adapter #%d.";
constexpr char kGatewayOutside[] = "%s\r\n*** ERROR: Gateway is NOT in local subnet for adapter #%d.";
constexpr char kDnsSelf[] = "%s\r\n*** WARNING: DNS is SELF for adapter #%d.";
constexpr char kWinsSelf[] = "%s\r\n*** WARNING: WINS is SELF for adapter #%d.";
constexpr char kNoNameServers[] = "%s\r\n*** WARNING: NO DNS or WINS defined for adapter #%d.";
constexpr char kAdapterItems[] =
    "%s\r\n DHCP          : %s\r\n Address       : %s\r\n Subnet Mask   : %s\r\n GATEWAY       : %s"
    "\r\n DNS           : %s\r\n WINS          : %s";

constexpr size_t kNoLimit = 0;

// printf into a new text, cut to `limit` - 1 characters unless the limit is 0.
std::string formatted(size_t limit, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text(static_cast<size_t>(std::max(needed, 0)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  if (limit != kNoLimit && text.size() > limit - 1) text.resize(limit - 1);
  return text;
}

template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, ::strnlen(field, N));
}

// The dotted-quad parser on one slot; 255.255.255.255 when it is malformed.
uint32_t parseSlot(std::string_view slot) {
  char text[kSlotWidth + 1] = {};
  slot.substr(0, kSlotWidth).copy(text, kSlotWidth);
  in_addr address{};
  return ::inet_aton(text, &address) != 0 ? address.s_addr : INADDR_NONE;
}

// The standard 24-character date form of ctime(), local time, without its line end.
std::string dateText(int64_t time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t t = static_cast<time_t>(time);
  struct tm local{};
  if (localtime_r(&t, &local) == nullptr) return {};
  return formatted(kNoLimit, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[local.tm_wday % 7], kMonths[local.tm_mon % 12],
                   local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
}

// An adapter's working texts, addresses in slot form.
struct AdapterTexts {
  std::string dhcp;
  std::string address;
  std::string mask;
  std::string gateway;
  std::string dns;
  std::string wins;
  bool multipleAddresses = false;
};

class ConfigReport {
 public:
  ConfigReport(GlobalArea& global, netconfig::ConfigSource& source, uint32_t now)
      : global_(global), source_(source), now_(now), adapters_(std::min(global.adapterCount, kMaxAdapters)) {}

  std::string build();

 private:
  void warn(const char* format, int n) { warnings_ = formatted(kNoLimit, format, warnings_.c_str(), n); }
  template <typename... Args>
  void addToBody(const char* format, Args... args) {
    body_ = formatted(kReportStepLimit, format, body_.c_str(), args...);
  }

  void reportAdapter(NicArea& nic, int n);
  bool dhcpState(const AdapterSettings& settings, AdapterTexts& texts, int n);
  void readAddresses(const AdapterSettings& settings, AdapterTexts& texts, int n);
  void setIpSummary(std::string_view addressSlots, bool secondAddress);
  void check(AdapterTexts& texts, bool wan, int n);
  void checkSingleAddress(AdapterTexts& texts, bool wan, int n);
  static void storeLists(NicArea& nic, const AdapterTexts& texts, std::string_view maskSlots);

  GlobalArea& global_;
  netconfig::ConfigSource& source_;
  const uint32_t now_;
  const int adapters_;
  std::string warnings_;
  std::string body_;
};

std::string ConfigReport::build() {
  if (adapters_ <= 0) return formatted(kReportStepLimit, kNoAdapters, "");
  if (adapters_ > 1) warnings_ = formatted(kNoLimit, kMultipleAdapters, warnings_.c_str());
  for (int i = 0; i < adapters_; ++i) {
    if (global_.nics[i]) reportAdapter(*global_.nics[i], i + 1);
  }
  if (!warnings_.empty()) warnings_ += "\r\n\r\n";
  return formatted(kReportStepLimit, kReport, warnings_.c_str(), fieldText(global_.hostName).c_str(), body_.c_str());
}

void ConfigReport::reportAdapter(NicArea& nic, int n) {
  const AdapterSettings settings = source_.adapter(fieldText(nic.adapterName));
  addToBody(kAdapterHeading, n, fieldText(nic.title).c_str(), fieldText(nic.driverText).c_str());
  if (!settings.defined) {
    addToBody(kNotDefined);
    return;  // the address lists keep what they held
  }
  AdapterTexts texts;
  if (!dhcpState(settings, texts, n)) return;
  readAddresses(settings, texts, n);
  if (!settings.winsPrimary.empty()) {
    std::string wins = settings.winsPrimary;
    if (!settings.winsBackup.empty()) wins += ' ' + settings.winsBackup;
    texts.wins = slotForm(wins);
  }
  if (settings.dialUp) {
    if (texts.gateway.empty()) texts.gateway = texts.address;
    texts.dns = slotForm(settings.dialUpDns);
  }
  if (texts.dns.empty()) texts.dns = slotForm(settings.dns);
  const std::string maskSlots = texts.mask;
  if (!texts.address.empty()) check(texts, nic.wan.load(std::memory_order_relaxed), n);
  addToBody(kAdapterItems, texts.dhcp.c_str(), texts.address.c_str(), texts.mask.c_str(), texts.gateway.c_str(),
            texts.dns.c_str(), texts.wins.c_str());
  storeLists(nic, texts, maskSlots);
}

// False when the DHCP lease has run out: the adapter gets the expiry line only.
bool ConfigReport::dhcpState(const AdapterSettings& settings, AdapterTexts& texts, int n) {
  if (!settings.dhcpEnabled) {
    texts.dhcp = "No";
    return true;
  }
  if (settings.leaseExpires >= static_cast<int64_t>(now_)) {
    texts.dhcp = "YES";
    return true;
  }
  warn(kLeaseExpired, n);
  addToBody(kDhcpExpired);
  if (settings.leaseExpires != 0) addToBody("%s%s", dateText(settings.leaseExpires).c_str());
  return false;
}

void ConfigReport::readAddresses(const AdapterSettings& settings, AdapterTexts& texts, int n) {
  texts.address = slotForm(settings.addresses);
  const bool secondAddress = texts.address.size() > kSlotWidth;
  if (!texts.address.empty()) setIpSummary(texts.address, secondAddress);
  if (secondAddress) {
    warn(kMultipleAddresses, n);
    texts.multipleAddresses = true;
  }
  texts.gateway = slotForm(settings.gateways);
  texts.mask = slotForm(settings.masks);
  if (texts.gateway.size() > kSlotWidth) warn(kMultipleGateways, n);
}

// Set once in the agent's life, from the first adapter with an address.
void ConfigReport::setIpSummary(std::string_view addressSlots, bool secondAddress) {
  std::string_view first = slotAt(addressSlots, 0);
  first = first.substr(0, first.find_last_not_of(' ') + 1);
  std::lock_guard lock(global_.labelMutex);
  if (global_.ipSummary[0] != '\0') return;
  const bool plus = secondAddress || adapters_ > 1;
  std::snprintf(global_.ipSummary, sizeof global_.ipSummary, "IP=%.*s%s", static_cast<int>(first.size()),
                first.data(), plus ? "+" : "");
}

void ConfigReport::check(AdapterTexts& texts, bool wan, int n) {
  if (texts.mask.empty()) {
    warn(kNoMask, n);
  } else if (texts.multipleAddresses) {
    if (texts.gateway.empty()) warn(kNoGateway, n);
  } else {
    checkSingleAddress(texts, wan, n);
  }
  if (texts.dns.empty() && texts.wins.empty()) warn(kNoNameServers, n);
}

void ConfigReport::checkSingleAddress(AdapterTexts& texts, bool wan, int n) {
  const uint32_t mask = parseSlot(slotAt(texts.mask, 0));
  const uint32_t subnet = parseSlot(slotAt(texts.address, 0)) & mask;
  texts.mask = formatted(kNoLimit, kLocalSubnet, texts.mask.c_str(), dottedQuad(subnet).c_str());
  texts.mask = formatted(kNoLimit, kSubnetEnd, texts.mask.c_str(), dottedQuad(~mask | subnet).c_str());
  if (texts.gateway == texts.address && !wan) {
    warn(kGatewaySelf, n);
  } else if (texts.gateway.empty()) {
    warn(kNoGateway, n);
  } else if ((parseSlot(slotAt(texts.gateway, 0)) & mask) != subnet) {
    warn(kGatewayOutside, n);
  }
  const std::string_view own = slotAt(texts.address, 0);
  if (slotAt(texts.dns, 0) == own || slotAt(texts.dns, 1) == own) warn(kDnsSelf, n);
  if (slotAt(texts.wins, 0) == own || slotAt(texts.wins, 1) == own) warn(kWinsSelf, n);
}

void ConfigReport::storeLists(NicArea& nic, const AdapterTexts& texts, std::string_view maskSlots) {
  AddressLists lists;
  addressListFromSlots(texts.address, lists.own);
  addressListFromSlots(maskSlots, lists.masks);
  addressListFromSlots(texts.gateway, lists.gateways);
  addressListFromSlots(texts.dns, lists.dns);
  addressListFromSlots(texts.wins, lists.wins);
  std::lock_guard lock(nic.tableMutex);
  nic.addresses = lists;
}

}  // namespace

std::string slotForm(std::string_view value) {
  std::string slots;
  std::string address;
  bool pending = false;
  auto endSlot = [&] {
    if (slots.size() + kSlotWidth <= kSlotFormLimit) {
      address.resize(kSlotWidth - 1, ' ');
      slots += address;
      slots += ' ';
    }
    address.clear();
    pending = false;
  };
  for (char c : value) {
    if (c == ' ' || c == '\0') {
      endSlot();
    } else {
      if (address.size() < kSlotWidth - 1) address += c;
      pending = true;
    }
  }
  if (pending) endSlot();
  return slots;
}

std::string_view slotAt(std::string_view slots, size_t k) {
  if (k * kSlotWidth >= slots.size()) return {};
  return slots.substr(k * kSlotWidth, kSlotWidth);
}

void addressListFromSlots(std::string_view slots, uint32_t (&list)[kAddressListSize]) {
  std::fill(std::begin(list), std::end(list), 0u);
  for (size_t k = 0; k < kAddressListSize; ++k) {
    const std::string_view slot = slotAt(slots, k);
    if (slot.empty()) break;
    list[k] = parseSlot(slot);
  }
}

void writeConfigReport(GlobalArea& global, netconfig::ConfigSource& source, uint32_t now, char* area,
                       size_t capacity) {
  if (area == nullptr || capacity == 0) return;
  if (capacity < kReportMinimumCapacity) {
    copyText(area, capacity, kTooSmall);
    return;
  }
  const std::string report = ConfigReport(global, source, now).build();
  copyText(area, capacity, report.c_str());
}

void writeConfigReport(AgentRuntime& rt, char* area, size_t capacity) {
  writeConfigReport(rt.global, configSource(rt), rt.clock->now(), area, capacity);
}

}  // namespace veltris::agent
