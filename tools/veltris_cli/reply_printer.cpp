#include "tools/veltris_cli/reply_printer.h"

#include <array>
#include <vector>

#include "tools/veltris_cli/record_printers.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {
namespace {

constexpr std::array<const char*, 11> kTrafficStates = {
    "not evaluated yet",
    "Error detected",
    "Error detected",
    "Broadcast traffic sent",
    "Session traffic",
    "Session traffic",
    "Session traffic since last broadcast",
    "Broadcast traffic received",
    "No traffic sent or received",
    "NO traffic received since PC started",
    "No traffic received in over 60 seconds",
};

constexpr char kSnapshotNote[] = "Snapshot reply (keep it with --save FILE)";

void printHeader(const ReplyHeader& h, std::ostream& out) {
  out << "VELTRIS agent " << displayText(rawText(h.version)) << "  " << displayText(rawText(h.date)) << ' '
      << displayText(rawText(h.time)) << "  traffic state " << h.trafficState.get() << ": "
      << trafficStateText(h.trafficState.get()) << '\n';
}

JsonObject headerJson(const ReplyHeader& h) {
  JsonObject json;
  json.text("tag", rawText(h.tag))
      .text("version", rawText(h.version))
      .text("date", rawText(h.date))
      .text("time", rawText(h.time))
      .number("trafficState", h.trafficState.get())
      .text("trafficText", trafficStateText(h.trafficState.get()));
  return json;
}

// The records [first, last) all hold the alternative T.
template <typename T>
std::vector<T> run(const std::vector<Record>& records, size_t first, size_t last) {
  std::vector<T> values;
  for (size_t i = first; i < last; ++i) values.push_back(std::get<T>(records[i]));
  return values;
}

// Records that print one by one; the others print as tables of their run.
struct PrintOne {
  std::ostream& out;
  void operator()(const TotalsRecord& r) const { printTotals(r, out); }
  void operator()(const BroadcastHeaderRecord& r) const { printBroadcastHeader(r, out); }
  void operator()(const std::shared_ptr<const AdapterStatusRecord>& r) const { printAdapterStatus(*r, out); }
  void operator()(const std::shared_ptr<const TextReply>& r) const { printTextReply(*r, out); }
  void operator()(const SnapshotBody&) const { out << kSnapshotNote << '\n'; }
  template <typename T>
  void operator()(const T&) const {}
};

template <typename T>
bool printTableRun(const std::vector<Record>& records, size_t first, size_t last,
                   void (*printer)(std::span<const T>, std::ostream&), std::ostream& out) {
  if (!std::holds_alternative<T>(records[first])) return false;
  printer(run<T>(records, first, last), out);
  return true;
}

void printRun(const std::vector<Record>& records, size_t first, size_t last, std::ostream& out) {
  if (printTableRun<HistoryDayRecord>(records, first, last, printHistoryDays, out) ||
      printTableRun<PeriodTotalsRecord>(records, first, last, printPeriodTotals, out) ||
      printTableRun<PartnerStatRecord>(records, first, last, printPartnerStats, out) ||
      printTableRun<PartnerAddressRecord>(records, first, last, printPartnerAddresses, out) ||
      printTableRun<DetailRecord>(records, first, last, printDetails, out) ||
      printTableRun<BroadcastEntryRecord>(records, first, last, printBroadcastEntries, out)) {
    return;
  }
  for (size_t i = first; i < last; ++i) std::visit(PrintOne{out}, records[i]);
}

void printTables(const Reply& reply, std::ostream& out) {
  printHeader(reply.header, out);
  const std::vector<Record>& records = reply.records;
  if (records.empty()) out << "(no records)\n";
  for (size_t first = 0; first < records.size();) {
    if (!std::holds_alternative<BroadcastEntryRecord>(records[first])) out << '\n';  // its header stays on top
    size_t last = first + 1;
    while (last < records.size() && records[last].index() == records[first].index()) ++last;
    printRun(records, first, last, out);
    first = last;
  }
}

JsonObject recordJson(const Record& record) {
  struct ToJson {
    JsonObject operator()(const TotalsRecord& r) const { return totalsJson(r); }
    JsonObject operator()(const HistoryDayRecord& r) const { return historyDayJson(r); }
    JsonObject operator()(const PeriodTotalsRecord& r) const { return periodTotalsJson(r); }
    JsonObject operator()(const PartnerStatRecord& r) const { return partnerStatJson(r); }
    JsonObject operator()(const PartnerAddressRecord& r) const { return partnerAddressJson(r); }
    JsonObject operator()(const DetailRecord& r) const { return detailJson(r); }
    JsonObject operator()(const BroadcastHeaderRecord& r) const { return broadcastHeaderJson(r); }
    JsonObject operator()(const BroadcastEntryRecord& r) const { return broadcastEntryJson(r); }
    JsonObject operator()(const std::shared_ptr<const AdapterStatusRecord>& r) const { return adapterStatusJson(*r); }
    JsonObject operator()(const std::shared_ptr<const TextReply>& r) const { return textReplyJson(*r); }
    JsonObject operator()(const SnapshotBody&) const {
      JsonObject json;
      json.text("tag", "VSN ").text("note", kSnapshotNote);
      return json;
    }
  };
  return std::visit(ToJson{}, record);
}

// One document per reply, one record per line, so that it reads well and greps well.
// With `compact`, the same document on one line.
void printJson(const std::string& request, const Reply& reply, int64_t receivedAt, bool compact, std::ostream& out) {
  const char* member = compact ? "," : ",\n ";
  const char* record = compact ? "" : "\n  ";
  JsonObject header = headerJson(reply.header);
  if (receivedAt >= 0) header.signedNumber("receivedAt", receivedAt);
  out << "{" << jsonString("request") << ": " << jsonString(request) << member << jsonString("header") << ": "
      << header.str() << member << jsonString("records") << ": [";
  for (size_t i = 0; i < reply.records.size(); ++i) {
    out << (i == 0 ? record : compact ? "," : ",\n  ") << recordJson(reply.records[i]).str();
  }
  out << (reply.records.empty() || compact ? "]}\n" : "\n ]}\n");
}

}  // namespace

std::string trafficStateText(uint32_t code) {
  return code < kTrafficStates.size() ? kTrafficStates[code] : "unknown traffic state";
}

void printReply(const std::string& request, const Reply& reply, OutputFormat format, std::ostream& out,
                int64_t receivedAt) {
  if (format == OutputFormat::Table)
    printTables(reply, out);
  else
    printJson(request, reply, receivedAt, format == OutputFormat::JsonLines, out);
}

}  // namespace veltris::cli
