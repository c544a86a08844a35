// Statistics records: the totals, the history days, the period totals of a
// day and the partner statistics.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/veltris_cli/printer_support.h"
#include "tools/veltris_cli/record_printers.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {
namespace {

// Before the first received frame the agent sends its clock (seconds since 1970).
constexpr int32_t kNothingReceivedYet = 10 * 365 * 24 * 3600;
constexpr uint32_t kSlotsPerDay = 144;

std::string lastReceivedText(int32_t seconds) {
  if (seconds >= kNothingReceivedYet) return "nothing received yet";
  return std::to_string(seconds) + " s ago";
}

std::string periodText(uint32_t slot) {
  if (slot >= kSlotsPerDay) return "?";
  char text[8];
  std::snprintf(text, sizeof text, "%02u:%02u", slot / 6, slot % 6 * 10);
  return text;
}

// The eight traffic counters that the totals and the period records share.
template <typename Record>
void addTrafficCounters(JsonObject& json, const Record& r) {
  json.real("bytesSent", r.bytesSent.get())
      .number("framesSent", r.framesSent.get())
      .number("broadcastsSent", r.broadcastsSent.get())
      .number("errorsSent", r.errorsSent.get())
      .real("bytesReceived", r.bytesReceived.get())
      .number("framesReceived", r.framesReceived.get())
      .number("broadcastsReceived", r.broadcastsReceived.get())
      .number("errorsReceived", r.errorsReceived.get());
}

void printField(std::ostream& out, const char* label, const std::string& value) {
  char line[32];
  std::snprintf(line, sizeof line, "  %-22s", label);
  out << line << displayText(value) << '\n';
}

}  // namespace

void printTotals(const TotalsRecord& r, std::ostream& out) {
  out << "Totals\n";
  printField(out, "Host name", fieldText(r.hostName));
  printField(out, "IP summary", fieldText(r.ipSummary));
  printField(out, "Packet sequence", numberText(r.sequence.get()));
  printField(out, "Partner table resets", numberText(r.resetCount.get()));
  printField(out, "Last frame received", lastReceivedText(r.secondsSinceReceived.get()));
  TextTable table({{""},
                   {"Bytes", Align::Right},
                   {"Frames", Align::Right},
                   {"Broadcasts", Align::Right},
                   {"Errors", Align::Right}});
  table.addRow({"Sent", byteCountText(r.bytesSent.get()), numberText(r.framesSent.get()),
                numberText(r.broadcastsSent.get()), numberText(r.errorsSent.get())});
  table.addRow({"Received", byteCountText(r.bytesReceived.get()), numberText(r.framesReceived.get()),
                numberText(r.broadcastsReceived.get()), numberText(r.errorsReceived.get())});
  table.print(out);
}

void printHistoryDays(std::span<const HistoryDayRecord> records, std::ostream& out) {
  std::vector<std::string> days;
  for (const HistoryDayRecord& r : records) days.push_back(fieldText(r.day));
  std::sort(days.begin(), days.end());
  out << "History days (" << days.size() << ")\n";
  TextTable table({{"Day"}});
  for (const std::string& day : days) table.addRow({day});
  table.print(out);
}

void printPeriodTotals(std::span<const PeriodTotalsRecord> records, std::ostream& out) {
  out << "Period totals (" << records.size() << " periods of 10 minutes)\n";
  TextTable table({{"Slot", Align::Right},
                   {"Period"},
                   {"Bytes Sent", Align::Right},
                   {"Pkts Sent", Align::Right},
                   {"Bcast Sent", Align::Right},
                   {"Errors Sent", Align::Right},
                   {"Bytes Recv", Align::Right},
                   {"Pkts Recv", Align::Right},
                   {"Bcast Recv", Align::Right},
                   {"Errors Recv", Align::Right}});
  for (const PeriodTotalsRecord& r : records) {
    table.addRow({numberText(r.slot.get()), periodText(r.slot.get()), byteCountText(r.bytesSent.get()),
                  numberText(r.framesSent.get()), numberText(r.broadcastsSent.get()), numberText(r.errorsSent.get()),
                  byteCountText(r.bytesReceived.get()), numberText(r.framesReceived.get()),
                  numberText(r.broadcastsReceived.get()), numberText(r.errorsReceived.get())});
  }
  table.print(out);
}

void printPartnerStats(std::span<const PartnerStatRecord> records, std::ostream& out) {
  out << "Session Partner Statistics (" << records.size() << " partners)\n";
  TextTable table(partnerColumnsAnd({{"Bytes Sent", Align::Right},
                                     {"Pkts Sent", Align::Right},
                                     {"Broadcast", Align::Right},
                                     {"Errors", Align::Right},
                                     {"Bytes Recv", Align::Right},
                                     {"Pkts Recv", Align::Right}}));
  for (const PartnerStatRecord& r : records) {
    table.addRow({numberText(r.adapterNumber.get()), fieldText(r.station), fieldText(r.protoAddr),
                  fieldText(r.roleLabel), fieldText(r.hostName), fieldText(r.lastSeen),
                  byteCountText(r.bytesSent.get()), numberText(r.framesSent.get()), numberText(r.broadcasts.get()),
                  numberText(r.errors.get()), byteCountText(r.bytesReceived.get()),
                  numberText(r.framesReceived.get())});
  }
  table.print(out);
}

static std::string ipv6Text(const uint8_t address[16]) {
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, address, text, sizeof text);
  return text;
}

void printPartnerAddresses(std::span<const PartnerAddressRecord> records, std::ostream& out) {
  out << "IPv6 Partner Addresses (" << records.size() << " partners)\n";
  TextTable table({{"Adapter", Align::Right}, {"Station", Align::Left}, {"Protocol/Address", Align::Left},
                   {"IPv6 Address", Align::Left}});
  for (const PartnerAddressRecord& r : records)
    table.addRow({numberText(r.adapterNumber.get()), fieldText(r.station), fieldText(r.protoAddr),
                  ipv6Text(r.address)});
  table.print(out);
}

JsonObject partnerAddressJson(const PartnerAddressRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag))
      .number("adapter", r.adapterNumber.get())
      .text("station", fieldText(r.station))
      .text("protoAddr", fieldText(r.protoAddr))
      .text("address", ipv6Text(r.address));
  return json;
}

JsonObject totalsJson(const TotalsRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag)).number("sequence", r.sequence.get());
  addTrafficCounters(json, r);
  json.number("resetCount", r.resetCount.get())
      .signedNumber("secondsSinceReceived", r.secondsSinceReceived.get())
      .text("hostName", fieldText(r.hostName))
      .text("ipSummary", fieldText(r.ipSummary));
  return json;
}

JsonObject historyDayJson(const HistoryDayRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag)).text("day", fieldText(r.day));
  return json;
}

JsonObject periodTotalsJson(const PeriodTotalsRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag))
      .number("slot", r.slot.get())
      .text("period", periodText(r.slot.get()));
  addTrafficCounters(json, r);
  return json;
}

JsonObject partnerStatJson(const PartnerStatRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag))
      .number("adapter", r.adapterNumber.get())
      .text("station", fieldText(r.station))
      .text("protoAddr", fieldText(r.protoAddr))
      .text("roleLabel", fieldText(r.roleLabel))
      .text("hostName", fieldText(r.hostName))
      .text("lastSeen", fieldText(r.lastSeen))
      .real("bytesSent", r.bytesSent.get())
      .number("framesSent", r.framesSent.get())
      .number("broadcasts", r.broadcasts.get())
      .number("errors", r.errors.get())
      .real("bytesReceived", r.bytesReceived.get())
      .number("framesReceived", r.framesReceived.get());
  return json;
}

}  // namespace veltris::cli
