#include "agent/diagnostics/connectivity_tests.h"

#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "agent/diagnostics/external_command.h"
#include "agent/diagnostics/role_labels.h"
#include "platform/netconfig/config_source.h"

namespace veltris::agent {
namespace {

using netconfig::dottedQuad;

constexpr size_t kMaxReceivedBroadcasts = 49;
constexpr int kDriverAgeMonths = 24;

constexpr char kReceivedLine[] = "\r\n%-15s";
constexpr char kMatches[] = "  received and matches %s / %s";
constexpr char kNotConfigured[] = "  received but is NOT configured for use by this PC";
constexpr char kNotReceived[] = "\r\n%-15s  NOT received for %s / %s";
constexpr char kSubnetMismatch[] =
    "\r\n\r\nWARNING: The Configured Subnet does NOT match the\r\n         Subnet being used by other local devices.";
constexpr char kOldDriver[] = "WARNING: Adapter Driver %.*s is more than 2 years old\r\n\r\n";
constexpr char kSubnetHeading[] = "----Checking SUBNET Broadcasts---------------------";
constexpr char kGatewayHeading[] = "\r\n----Testing GATEWAY connectivity-------------------";
constexpr char kDnsHeading[] = "\r\n----Testing DNS connectivity-----------------------";
constexpr char kWinsHeading[] = "\r\n----Testing WINS connectivity----------------------";

// A caller's text area, filled from the front and always terminated; what
// does not fit is dropped.
class TextArea {
 public:
  TextArea(char* area, size_t capacity) : area_(area), capacity_(area != nullptr ? capacity : 0) {
    if (capacity_ > 0) std::memset(area_, 0, capacity_);
  }

  void append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (restCapacity() < 2) return;
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(rest(), restCapacity(), format, args);
    va_end(args);
    if (written > 0) length_ += std::min(static_cast<size_t>(written), restCapacity() - 1);
  }

  // The room behind the text, for a step that writes there itself.
  char* rest() { return area_ + length_; }
  size_t restCapacity() const { return capacity_ - length_; }
  // Takes in what such a step wrote.
  void takeWritten() {
    if (restCapacity() == 0) return;
    length_ += ::strnlen(rest(), restCapacity() - 1);
    area_[length_] = '\0';
  }

 private:
  char* area_;
  size_t capacity_;
  size_t length_ = 0;
};

template <size_t N>
int fieldLength(const char (&field)[N]) {
  return static_cast<int>(::strnlen(field, N));
}

AddressLists copyAddressLists(const NicArea& nic) {
  std::lock_guard lock(nic.tableMutex);
  return nic.addresses;
}

// The distinct IP destinations of the broadcast ring, in slot order.
size_t collectReceivedBroadcasts(const NicArea& nic, uint32_t (&received)[kMaxReceivedBroadcasts]) {
  size_t count = 0;
  BroadcastRecord record;
  for (size_t slot = 0; slot < kBroadcastRingSize && count < kMaxReceivedBroadcasts; ++slot) {
    if (!nic.broadcasts.read(slot, record)) continue;
    uint32_t destination = 0;
    std::memcpy(&destination, record.ipDestination, sizeof destination);
    if (destination == 0 || std::find(received, received + count, destination) != received + count) continue;
    received[count++] = destination;
  }
  return count;
}

void subnetTestOfAdapter(const NicArea& nic, const AddressLists& lists, TextArea& text, bool& mismatch) {
  uint32_t configured[kAddressListSize] = {};
  bool matched[kAddressListSize] = {};
  size_t configuredCount = 0;
  for (; configuredCount < kAddressListSize && lists.masks[configuredCount] != 0; ++configuredCount) {
    const uint32_t mask = lists.masks[configuredCount];
    configured[configuredCount] = (lists.own[configuredCount] & mask) | ~mask;
  }
  uint32_t received[kMaxReceivedBroadcasts] = {};
  const size_t receivedCount = collectReceivedBroadcasts(nic, received);
  for (size_t r = 0; r < receivedCount; ++r) {
    text.append(kReceivedLine, dottedQuad(received[r]).c_str());
    const uint32_t* hit = std::find(configured, configured + configuredCount, received[r]);
    if (hit == configured + configuredCount) {
      text.append(kNotConfigured);
      continue;
    }
    const size_t i = static_cast<size_t>(hit - configured);
    matched[i] = true;
    text.append(kMatches, dottedQuad(lists.own[i]).c_str(), dottedQuad(lists.masks[i]).c_str());
  }
  for (size_t i = 0; i < configuredCount; ++i) {
    if (matched[i]) continue;
    if (receivedCount > 0) mismatch = true;
    text.append(kNotReceived, dottedQuad(configured[i]).c_str(), dottedQuad(lists.own[i]).c_str(),
                dottedQuad(lists.masks[i]).c_str());
  }
}

const uint32_t (&listOf(const AddressLists& lists, PingTarget target))[kAddressListSize] {
  switch (target) {
    case PingTarget::Gateways: return lists.gateways;
    case PingTarget::DnsServers: return lists.dns;
    case PingTarget::WinsServers: return lists.wins;
  }
  return lists.gateways;
}

const char* notDefinedText(PingTarget target) {
  switch (target) {
    case PingTarget::Gateways: return "\r\nGATEWAY NOT DEFINED\r\n";
    case PingTarget::DnsServers: return "\r\nDNS NOT DEFINED\r\n";
    case PingTarget::WinsServers: return "\r\nWINS NOT DEFINED\r\n";
  }
  return "";
}

int monthCount(int64_t time) {
  const time_t t = static_cast<time_t>(time);
  struct tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return 12 * (local.tm_year + 1900) + local.tm_mon + 1;
}

}  // namespace

void subnetTest(GlobalArea& global, char* area, size_t capacity) {
  TextArea text(area, capacity);
  bool mismatch = false;
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (!global.nics[i]) continue;
    const AddressLists lists = copyAddressLists(*global.nics[i]);
    if (lists.masks[0] != 0) subnetTestOfAdapter(*global.nics[i], lists, text, mismatch);
  }
  if (mismatch) text.append(kSubnetMismatch);
  text.append("\r\n");
}

size_t pingList(const uint32_t (&list)[kAddressListSize], char* area, size_t capacity, CommandRunner run) {
  if (area == nullptr || capacity == 0) return 0;
  size_t used = 0;
  for (size_t i = 0; i < kAddressListSize && list[i] != 0; ++i) {
    char command[32];
    std::snprintf(command, sizeof command, "PING %s", dottedQuad(list[i]).c_str());
    used += std::min(run(command, area + used, capacity - used), capacity - used - 1);
  }
  return used;
}

void pingServers(GlobalArea& global, PingTarget target, char* area, size_t capacity, CommandRunner run) {
  TextArea text(area, capacity);
  text.append("%s", notDefinedText(target));
  if (area == nullptr || capacity == 0) return;
  size_t used = 0;  // the runs start at the beginning of the area
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (!global.nics[i]) continue;
    const AddressLists lists = copyAddressLists(*global.nics[i]);
    used += pingList(listOf(lists, target), area + used, capacity - used, run);
  }
}

void driverAgeCheck(const GlobalArea& global, uint32_t now, char* area, size_t capacity) {
  TextArea text(area, capacity);
  const int currentMonths = monthCount(now);
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (!global.nics[i]) continue;
    const NicArea& nic = *global.nics[i];
    if (nic.driverFileTime == 0 || ::strncasecmp(nic.driverText, "NDISWAN.SYS", 11) == 0) continue;
    if (currentMonths - monthCount(nic.driverFileTime) >= kDriverAgeMonths)
      text.append(kOldDriver, fieldLength(nic.driverText), nic.driverText);
  }
}

void fullTest(AgentRuntime& rt, char* area, size_t capacity, CommandRunner run) {
  runRoleLabelsRefresh(rt);
  TextArea text(area, capacity);
  driverAgeCheck(rt.global, rt.clock->now(), text.rest(), text.restCapacity());
  text.takeWritten();
  text.append("%s", kSubnetHeading);
  subnetTest(rt.global, text.rest(), text.restCapacity());
  text.takeWritten();
  constexpr std::pair<const char*, PingTarget> kPingSteps[] = {{kGatewayHeading, PingTarget::Gateways},
                                                               {kDnsHeading, PingTarget::DnsServers},
                                                               {kWinsHeading, PingTarget::WinsServers}};
  for (const auto& [heading, target] : kPingSteps) {
    text.append("%s", heading);
    pingServers(rt.global, target, text.rest(), text.restCapacity(), run);
    text.takeWritten();
  }
}

void fullTest(AgentRuntime& rt, char* area, size_t capacity) { fullTest(rt, area, capacity, runExternalCommand); }

}  // namespace veltris::agent
