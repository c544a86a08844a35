// Broadcast lists: the "BHDR" header and one "BENT" row per group.
#include "tools/veltris_cli/printer_support.h"
#include "tools/veltris_cli/record_printers.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {

void printBroadcastHeader(const BroadcastHeaderRecord& r, std::ostream& out) {
  out << "Summary of Broadcasts from " << displayText(fieldText(r.windowStart)) << " to "
      << displayText(fieldText(r.now)) << ": " << r.windowCount.get() << " in the last 15 minutes, "
      << r.lastMinuteCount.get() << " in the last minute, " << r.entryCount.get() << " groups\n";
}

void printBroadcastEntries(std::span<const BroadcastEntryRecord> records, std::ostream& out) {
  TextTable table(partnerColumnsAnd({{"Last 15 Mins", Align::Right},
                                     {"Last 1 Min", Align::Right},
                                     {"Pkt", Align::Right},
                                     {"Description of Last Broadcast"},
                                     {"Destination"}}));
  for (const BroadcastEntryRecord& r : records) {
    table.addRow({numberText(r.adapter.get()), fieldText(r.station), fieldText(r.protoAddr), fieldText(r.roleLabel),
                  fieldText(r.hostName), fieldText(r.time), numberText(r.windowCount.get()),
                  numberText(r.lastMinuteCount.get()), numberText(r.sequence.get()), fieldText(r.keyText),
                  fieldText(r.destination)});
  }
  table.print(out);
}

JsonObject broadcastHeaderJson(const BroadcastHeaderRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag))
      .text("now", fieldText(r.now))
      .text("windowStart", fieldText(r.windowStart))
      .number("windowCount", r.windowCount.get())
      .number("lastMinuteCount", r.lastMinuteCount.get())
      .number("entryCount", r.entryCount.get());
  return json;
}

JsonObject broadcastEntryJson(const BroadcastEntryRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag))
      .number("adapter", r.adapter.get())
      .text("station", fieldText(r.station))
      .text("protoAddr", fieldText(r.protoAddr))
      .text("roleLabel", fieldText(r.roleLabel))
      .text("hostName", fieldText(r.hostName))
      .number("lastMinuteCount", r.lastMinuteCount.get())
      .number("windowCount", r.windowCount.get())
      .text("time", fieldText(r.time))
      .number("sequence", r.sequence.get())
      .text("keyText", fieldText(r.keyText))
      .text("destination", fieldText(r.destination));
  return json;
}

}  // namespace veltris::cli
