// Packet details ("DETL"): one row per frame of the packet or error ring.
#include <algorithm>
#include <vector>

#include "tools/veltris_cli/printer_support.h"
#include "tools/veltris_cli/record_printers.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {

// The agent sends ring slots in slot order; people read them in capture order.
void printDetails(std::span<const DetailRecord> records, std::ostream& out) {
  std::vector<const DetailRecord*> sorted;
  for (const DetailRecord& r : records) sorted.push_back(&r);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const DetailRecord* a, const DetailRecord* b) { return a->sequence.get() < b->sequence.get(); });
  out << "Packet details (" << records.size() << " packets)\n";
  TextTable table(partnerColumnsAnd({{"Pkt", Align::Right},
                                     {"Dir"},
                                     {"Size", Align::Right},
                                     {"Description"},
                                     {"Low Level Description"},
                                     {"Destination"},
                                     {"Error Type"}}));
  for (const DetailRecord* r : sorted) {
    table.addRow({numberText(r->adapter.get()), fieldText(r->station), fieldText(r->protoAddr), fieldText(r->roleLabel),
                  fieldText(r->hostName), fieldText(r->time), numberText(r->sequence.get()), rawText(r->direction),
                  numberText(r->length.get()), fieldText(r->protocol), fieldText(r->description),
                  fieldText(r->destination), fieldText(r->errorText)});
  }
  table.print(out);
}

JsonObject detailJson(const DetailRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag))
      .number("adapter", r.adapter.get())
      .number("sequence", r.sequence.get())
      .number("length", r.length.get())
      .text("time", fieldText(r.time))
      .text("station", fieldText(r.station))
      .text("protoAddr", fieldText(r.protoAddr))
      .text("roleLabel", fieldText(r.roleLabel))
      .text("hostName", fieldText(r.hostName))
      .text("direction", rawText(r.direction))
      .text("destination", fieldText(r.destination))
      .text("description", fieldText(r.description))
      .text("protocol", fieldText(r.protocol))
      .text("errorType", fieldText(r.errorText))
      .number("mediaType", r.mediaType.get());
  return json;
}

}  // namespace veltris::cli
