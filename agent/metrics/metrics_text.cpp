#include "agent/metrics/metrics_text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "agent/core/history_folder.h"
#include "agent/requests/dispatcher.h"
#include "common/registry_names.h"
#include "common/reply_records.h"

namespace veltris::agent {
namespace {

constexpr const char* kDirectionNames[2] = {"received", "sent"};
constexpr const char* kErrorKindNames[kErrorKindCount] = {
    "", "tcp_retransmit", "dns_retransmit", "arp_retransmit", "tcp_reset", "icmp_error", "llc_error"};
constexpr const char* kResultNames[kRequestResultCount] = {"ok", "wrong_key", "locked_out"};
constexpr const char* kFamilyNames[kFamilyCount] = {"other", "ipv4", "ipv6"};  // as AddressFamily counts them

class Page {
 public:
  explicit Page(std::string& out) : out_(out) {}

  void family(const char* name, const char* type, const char* help) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
  }

  // One sample; `labels` is the text between the braces, already escaped.
  void sample(const char* name, const std::string& labels, uint64_t value) {
    out_ += name;
    if (!labels.empty()) {
      out_ += '{';
      out_ += labels;
      out_ += '}';
    }
    char number[24];
    std::snprintf(number, sizeof number, " %" PRIu64 "\n", value);
    out_ += number;
  }

 private:
  std::string& out_;
};

std::string label(const char* name, std::string_view value) {
  std::string text(name);
  text += "=\"";
  text += escapeLabelValue(value);
  text += '"';
  return text;
}

// The interface or capture file the adapter reads, from its device name.
std::string_view adapterLabel(const NicArea& nic) {
  size_t length = strnlen(nic.deviceName, sizeof nic.deviceName);
  if (length > kDevicePrefixLength) return {nic.deviceName + kDevicePrefixLength, length - kDevicePrefixLength};
  return {nic.adapterName, strnlen(nic.adapterName, sizeof nic.adapterName)};
}

struct TableFill {
  uint64_t partners = 0;
  uint64_t tcp = 0;
  uint64_t stationNames = 0;
};

TableFill tableFill(const NicArea& nic) {
  TableFill fill;
  std::lock_guard lock(nic.tableMutex);
  fill.partners = static_cast<uint64_t>(nic.partnerCount);
  fill.tcp = static_cast<uint64_t>(nic.tcpCount);
  for (const StationName& entry : nic.stationNames) fill.stationNames += entry.time != 0 ? 1 : 0;
  return fill;
}

using DirectionalCounter = const SingleWriterCounter (AdapterCounters::*)[2];

void directionalFamily(Page& page, const GlobalArea& global, const char* name, const char* help,
                       DirectionalCounter counter) {
  page.family(name, "counter", help);
  for (int i = 0; i < global.adapterCount; ++i) {
    const NicArea& nic = *global.nics[i];
    const std::string adapter = label("adapter", adapterLabel(nic));
    for (int d = 0; d < 2; ++d)
      page.sample(name, adapter + ',' + label("direction", kDirectionNames[d]), (nic.counters.*counter)[d].get());
  }
}

void adapterFamilies(Page& page, const GlobalArea& global) {
  directionalFamily(page, global, "veltris_session_frames_total", "Session frames without error, by adapter and direction.",
                    &AdapterCounters::sessionFrames);
  directionalFamily(page, global, "veltris_session_bytes_total",
                    "Bytes on the wire of session frames without error, by adapter and direction.",
                    &AdapterCounters::sessionBytes);
  directionalFamily(page, global, "veltris_broadcast_frames_total", "Group-addressed frames without error.",
                    &AdapterCounters::broadcasts);
  directionalFamily(page, global, "veltris_error_frames_total", "Frames flagged with an error kind.",
                    &AdapterCounters::errorFrames);

  page.family("veltris_error_frames_by_kind_total", "counter", "Frames flagged with an error, by error kind.");
  for (int i = 0; i < global.adapterCount; ++i) {
    const NicArea& nic = *global.nics[i];
    const std::string adapter = label("adapter", adapterLabel(nic));
    for (int kind = 1; kind < kErrorKindCount; ++kind)
      page.sample("veltris_error_frames_by_kind_total", adapter + ',' + label("kind", kErrorKindNames[kind]),
                  nic.counters.errorKinds[kind].get());
  }

  page.family("veltris_frames_by_family_total", "counter",
              "Frames read, by the address family of their network layer (ARP counts as ipv4).");
  for (int i = 0; i < global.adapterCount; ++i) {
    const NicArea& nic = *global.nics[i];
    const std::string adapter = label("adapter", adapterLabel(nic));
    for (int family = 0; family < kFamilyCount; ++family)
      page.sample("veltris_frames_by_family_total", adapter + ',' + label("family", kFamilyNames[family]),
                  nic.counters.familyFrames[family].get());
  }

  page.family("veltris_kernel_dropped_frames_total", "counter", "Frames the kernel dropped before the agent read them.");
  for (int i = 0; i < global.adapterCount; ++i) {
    const NicArea& nic = *global.nics[i];
    std::shared_ptr<capture::Device> device = nic.device();
    page.sample("veltris_kernel_dropped_frames_total", label("adapter", adapterLabel(nic)),
                device ? device->kernelDrops() : 0);
  }
  page.family("veltris_unfiled_frames_total", "counter", "Frames that needed a new partner while the partner table was full.");
  for (int i = 0; i < global.adapterCount; ++i) {
    const NicArea& nic = *global.nics[i];
    page.sample("veltris_unfiled_frames_total", label("adapter", adapterLabel(nic)), nic.counters.unfiled.get());
  }
}

void tableFamilies(Page& page, const GlobalArea& global) {
  TableFill fills[kMaxAdapters];
  for (int i = 0; i < global.adapterCount; ++i) fills[i] = tableFill(*global.nics[i]);
  struct Table {
    const char* name;
    const char* help;
    uint64_t TableFill::*field;
    uint64_t capacity;
  };
  const Table tables[] = {
      {"veltris_partner_table_entries", "Entries in the partner table.", &TableFill::partners, kMaxPartners},
      {"veltris_tcp_table_entries", "Entries in the TCP connection table.", &TableFill::tcp, kMaxTcpConnections},
      {"veltris_station_name_entries", "Entries in use in the station name table.", &TableFill::stationNames,
       kStationNameCount},
  };
  for (const Table& table : tables) {
    page.family(table.name, "gauge", table.help);
    for (int i = 0; i < global.adapterCount; ++i)
      page.sample(table.name, label("adapter", adapterLabel(*global.nics[i])), fills[i].*table.field);
  }
  page.family("veltris_table_capacity_entries", "gauge", "Fixed capacity of each per-adapter table.");
  page.sample("veltris_table_capacity_entries", label("table", "partner"), kMaxPartners);
  page.sample("veltris_table_capacity_entries", label("table", "tcp"), kMaxTcpConnections);
  page.sample("veltris_table_capacity_entries", label("table", "station_name"), kStationNameCount);
}

void requestFamilies(Page& page, const GlobalArea& global) {
  page.family("veltris_requests_total", "counter", "Requests by request word and result.");
  const auto words = requestWords();
  auto wordSamples = [&](int row, std::string_view word) {
    for (int r = 0; r < kRequestResultCount; ++r)
      page.sample("veltris_requests_total", label("word", word) + ',' + label("result", kResultNames[r]),
                  global.requests.get(row, static_cast<RequestResult>(r)));
  };
  for (size_t row = 0; row < words.size() && row + 1 < kCountedWords; ++row) {
    std::string_view word = words[row].text;
    while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
    wordSamples(static_cast<int>(row), word);
  }
  wordSamples(kCountedWords - 1, "unknown");

  uint64_t wrongKeys = 0;
  for (int row = 0; row < kCountedWords; ++row) wrongKeys += global.requests.get(row, kRequestWrongKey);
  page.family("veltris_access_key_failures_total", "counter", "Requests refused for a wrong access key.");
  page.sample("veltris_access_key_failures_total", {}, wrongKeys);
  page.family("veltris_access_key_lockouts_total", "counter", "Peers locked out after repeated wrong access keys.");
  page.sample("veltris_access_key_lockouts_total", {}, global.requests.lockouts.load(std::memory_order_relaxed));
}

}  // namespace

std::string escapeLabelValue(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (char ch : value) {
    if (ch == '\\') text += "\\\\";
    else if (ch == '"') text += "\\\"";
    else if (ch == '\n') text += "\\n";
    else text += ch;
  }
  return text;
}

std::string metricsText(const GlobalArea& global) {
  std::string out;
  out.reserve(8192);
  Page page(out);
  page.family("veltris_agent_info", "gauge", "The agent's version and host name.");
  page.sample("veltris_agent_info", label("version", kVersionStamp) + ',' + label("host", global.hostName), 1);
  page.family("veltris_agent_start_time_seconds", "gauge", "When the agent started, in seconds since 1970.");
  page.sample("veltris_agent_start_time_seconds", {}, global.startTime);
  page.family("veltris_traffic_state", "gauge", "Traffic state code of the last second (1 to 10; 0 before the first).");
  page.sample("veltris_traffic_state", {}, global.trafficState.load(std::memory_order_relaxed));
  page.family("veltris_captured_frames_total", "counter", "Frames captured on all adapters (the packet sequence number).");
  page.sample("veltris_captured_frames_total", {}, global.totals.sequence.load(std::memory_order_relaxed));
  page.family("veltris_partner_table_resets_total", "counter", "Times the partner tables were emptied.");
  page.sample("veltris_partner_table_resets_total", {}, global.totals.resetCount.load(std::memory_order_relaxed));
  page.family("veltris_history_write_errors_total", "counter", "History file writes that failed.");
  page.sample("veltris_history_write_errors_total", {}, historyWriteErrors());
  adapterFamilies(page, global);
  tableFamilies(page, global);
  requestFamilies(page, global);
  return out;
}

}  // namespace veltris::agent
