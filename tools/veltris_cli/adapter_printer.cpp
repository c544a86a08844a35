// Adapter status ("OID "): identity, states and the adapter's error counters.
#include <array>
#include <cstddef>
#include <cstdio>

#include "tools/veltris_cli/printer_support.h"
#include "tools/veltris_cli/record_printers.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {
namespace {

struct StatusField {
  const char* label;
  const char* key;  // JSON member
  size_t offset;
  size_t width;
  bool always;  // shown in tables even when empty
};

#define VELTRIS_OID_FIELD(label, member, always) \
  StatusField { label, #member, offsetof(AdapterStatusRecord, member), sizeof(AdapterStatusRecord::member), always }

constexpr std::array<StatusField, 35> kStatusFields = {{
    VELTRIS_OID_FIELD("Adapter name", adapterName, true),
    VELTRIS_OID_FIELD("Open state", openState, true),
    VELTRIS_OID_FIELD("Loopback", loopback, false),
    VELTRIS_OID_FIELD("Title", title, true),
    VELTRIS_OID_FIELD("Driver", driverText, true),
    VELTRIS_OID_FIELD("Station address", station, false),
    VELTRIS_OID_FIELD("Hardware status", hardwareStatus, false),
    VELTRIS_OID_FIELD("Media connect status", mediaConnectStatus, false),
    VELTRIS_OID_FIELD("Medium", medium, false),
    VELTRIS_OID_FIELD("Link speed", linkSpeed, false),
    VELTRIS_OID_FIELD("Transmit errors", transmitErrors, false),
    VELTRIS_OID_FIELD("Receive errors", receiveErrors, false),
    VELTRIS_OID_FIELD("Receive no buffer", receiveNoBuffer, false),
    VELTRIS_OID_FIELD("Receive CRC errors", receiveCrcErrors, false),
    VELTRIS_OID_FIELD("Alignment errors", alignmentErrors, false),
    VELTRIS_OID_FIELD("One collision", oneCollision, false),
    VELTRIS_OID_FIELD("More collisions", moreCollisions, false),
    VELTRIS_OID_FIELD("Deferred", deferred, false),
    VELTRIS_OID_FIELD("Maximum collisions", maximumCollisions, false),
    VELTRIS_OID_FIELD("Receive overrun", receiveOverrun, false),
    VELTRIS_OID_FIELD("Transmit underrun", transmitUnderrun, false),
    VELTRIS_OID_FIELD("Heartbeat failure", heartbeatFailure, false),
    VELTRIS_OID_FIELD("Carrier sense lost", carrierSenseLost, false),
    VELTRIS_OID_FIELD("Late collisions", lateCollisions, false),
    VELTRIS_OID_FIELD("Line errors", lineErrors, false),
    VELTRIS_OID_FIELD("Lost frames", lostFrames, false),
    VELTRIS_OID_FIELD("Burst errors", burstErrors, false),
    VELTRIS_OID_FIELD("AC errors", acErrors, false),
    VELTRIS_OID_FIELD("Abort delimiters", abortDelimiters, false),
    VELTRIS_OID_FIELD("Frame copied errors", frameCopiedErrors, false),
    VELTRIS_OID_FIELD("Frequency errors", frequencyErrors, false),
    VELTRIS_OID_FIELD("Token errors", tokenErrors, false),
    VELTRIS_OID_FIELD("Internal errors", internalErrors, false),
    VELTRIS_OID_FIELD("Ring status", ringStatus, false),
    VELTRIS_OID_FIELD("Ring state", ringState, false),
}};

#undef VELTRIS_OID_FIELD

std::string fieldOf(const AdapterStatusRecord& record, const StatusField& field) {
  return fieldText(reinterpret_cast<const char*>(&record) + field.offset, field.width);
}

}  // namespace

void printAdapterStatus(const AdapterStatusRecord& r, std::ostream& out) {
  out << "Adapter " << r.adapterNumber.get() << '\n';
  for (const StatusField& field : kStatusFields) {
    std::string value = fieldOf(r, field);
    if (value.empty() && !field.always) continue;
    char label[32];
    std::snprintf(label, sizeof label, "  %-22s", field.label);
    out << label << displayText(value) << '\n';
  }
}

JsonObject adapterStatusJson(const AdapterStatusRecord& r) {
  JsonObject json;
  json.text("tag", rawText(r.tag)).number("adapter", r.adapterNumber.get());
  for (const StatusField& field : kStatusFields) json.text(field.key, fieldOf(r, field));
  return json;
}

}  // namespace veltris::cli
