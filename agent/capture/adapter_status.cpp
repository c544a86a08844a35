#include "agent/capture/adapter_status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/byte_order.h"

namespace veltris::agent {
namespace {

namespace oid = capture::oid;

using Field16 = char (AdapterStatusRecord::*)[16];

struct CounterField {
  uint32_t oid;
  Field16 field;
};

constexpr CounterField kGenericCounters[] = {
    {oid::kGenXmitError, &AdapterStatusRecord::transmitErrors},
    {oid::kGenRcvError, &AdapterStatusRecord::receiveErrors},
    {oid::kGenRcvNoBuffer, &AdapterStatusRecord::receiveNoBuffer},
    {oid::kGenRcvCrcError, &AdapterStatusRecord::receiveCrcErrors},
};

constexpr CounterField k8023Counters[] = {
    {oid::k8023RcvErrorAlignment, &AdapterStatusRecord::alignmentErrors},
    {oid::k8023XmitOneCollision, &AdapterStatusRecord::oneCollision},
    {oid::k8023XmitMoreCollisions, &AdapterStatusRecord::moreCollisions},
    {oid::k8023XmitDeferred, &AdapterStatusRecord::deferred},
    {oid::k8023XmitMaxCollisions, &AdapterStatusRecord::maximumCollisions},
    {oid::k8023RcvOverrun, &AdapterStatusRecord::receiveOverrun},
    {oid::k8023XmitUnderrun, &AdapterStatusRecord::transmitUnderrun},
    {oid::k8023XmitHeartbeatFailure, &AdapterStatusRecord::heartbeatFailure},
    {oid::k8023XmitTimesCrsLost, &AdapterStatusRecord::carrierSenseLost},
    {oid::k8023XmitLateCollisions, &AdapterStatusRecord::lateCollisions},
};

constexpr CounterField k8025Counters[] = {
    {oid::k8025LineErrors, &AdapterStatusRecord::lineErrors},
    {oid::k8025LostFrames, &AdapterStatusRecord::lostFrames},
    {oid::k8025BurstErrors, &AdapterStatusRecord::burstErrors},
    {oid::k8025AcErrors, &AdapterStatusRecord::acErrors},
    {oid::k8025AbortDelimiters, &AdapterStatusRecord::abortDelimiters},
    {oid::k8025FrameCopiedErrors, &AdapterStatusRecord::frameCopiedErrors},
    {oid::k8025FrequencyErrors, &AdapterStatusRecord::frequencyErrors},
    {oid::k8025TokenErrors, &AdapterStatusRecord::tokenErrors},
    {oid::k8025InternalErrors, &AdapterStatusRecord::internalErrors},
};

struct CodeText {
  uint32_t code;
  const char* text;
};

constexpr CodeText kHardwareStatus[] = {
    {0, "Ready"}, {1, "Initializing"}, {2, "Reset"}, {3, "Closing"}, {4, "NotReady"},
};
constexpr CodeText kMediaConnectStatus[] = {{0, "Connected"}, {1, "Initializing"}};
constexpr CodeText kRingState[] = {
    {1, "Open"}, {2, "Closed"}, {3, "Opening"}, {4, "Closing"}, {5, "Open Failure"}, {6, "Ring Failure"},
};

// Ring status bits in the order their phrases are appended.
constexpr CodeText kRingStatusPhrases[] = {
    {0x8000, "%sSignal Loss, "},     {0x4000, "%sHard Error, "},       {0x2000, "%sSoft Error, "},
    {0x1000, "%sTransmit Beacon, "}, {0x0800, "%sLobe Wire Fault, "},  {0x0400, "%sAuto Removal, "},
    {0x0200, "%sRemove Received, "}, {0x0100, "%sCounter Overflow, "}, {0x0080, "%sSingle Station, "},
    {0x0040, "%sRing Recovery, "},
};

constexpr uint32_t kNoValue = 0xFFFFFFFF;
constexpr uint32_t kMacOptionNoLoopback = 0x08;

// snprintf into a fixed field: the text is cut to the width, terminator included.
__attribute__((format(printf, 3, 4))) void putText(char* field, size_t width, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(field, width, format, args);
  va_end(args);
}

template <size_t N, size_t M>
void putCodeText(char (&field)[N], const CodeText (&table)[M], uint32_t value) {
  for (const CodeText& entry : table) {
    if (entry.code == value) {
      putText(field, N, "%s", entry.text);
      return;
    }
  }
  putText(field, N, "UNKNOWN x%08X", value);
}

// Query into a zeroed area, as the request operation of the driver interface does.
bool queryInto(capture::Device& device, uint32_t oid, uint8_t* data, uint32_t length) {
  std::memset(data, 0, length);
  return device.query(oid, data, length);
}

bool queryNumber(capture::Device& device, uint32_t oid, uint32_t& value) {
  uint8_t data[4];
  if (!queryInto(device, oid, data, sizeof data)) return false;
  value = loadLe32(data);
  return true;
}

bool queryVersion(capture::Device& device, uint32_t oid, int& major, int& minor) {
  uint8_t data[2];
  if (!queryInto(device, oid, data, sizeof data)) return false;
  major = data[1];  // the 16-bit word's high byte
  minor = data[0];
  return true;
}

void queryNumberAsText(capture::Device& device, uint32_t oid, char (&field)[16]) {
  uint32_t value = 0;
  if (queryNumber(device, oid, value) && value != kNoValue) putText(field, sizeof field, "%lu", static_cast<unsigned long>(value));
}

template <size_t N>
void queryCounters(capture::Device& device, const CounterField (&counters)[N], AdapterStatusRecord& record) {
  for (const CounterField& counter : counters) queryNumberAsText(device, counter.oid, record.*counter.field);
}

void putLinkSpeed(uint32_t speed, char (&field)[16]) {
  const unsigned long units = speed;  // 100 bit/s each
  if (units >= 10000) {
    putText(field, sizeof field, "%lu Mbps", units / 10000);
  } else if (units >= 10) {
    putText(field, sizeof field, "%lu Kbps", units / 10);
  } else if (units > 0) {
    putText(field, sizeof field, "%lu bps", units * 100);
  }
}

void putRingStatus(uint32_t status, char (&field)[100]) {
  char text[256] = "";
  char previous[256];
  for (const CodeText& phrase : kRingStatusPhrases) {
    if ((status & phrase.code) == 0) continue;
    std::memcpy(previous, text, sizeof text);
    std::snprintf(text, sizeof text, phrase.text, previous);
  }
  if (status == 0) {
    std::snprintf(text, sizeof text, "Okay, ");
  } else if (text[0] == '\0') {
    std::snprintf(text, sizeof text, "UNKNOWN x%08X, ", status);
  }
  text[std::strlen(text) - 2] = '\0';  // the final comma and blank
  putText(field, sizeof field, "%s", text);
}

void writeIdentity(const AdapterIdentity& identity, uint32_t adapterIndex, AdapterStatusRecord& record) {
  std::memcpy(record.tag, "OID ", 4);
  record.adapterNumber = adapterIndex + 1;
  putText(record.adapterName, sizeof record.adapterName, "%.*s", 32, identity.adapterName ? identity.adapterName : "");
  putText(record.title, sizeof record.title, "%.*s", 64, identity.title ? identity.title : "");
  putText(record.driverText, sizeof record.driverText, "%.*s", 32, identity.driverText ? identity.driverText : "");
}

void writeVersionsAndAddress(const AdapterIdentity& identity, capture::Device& device, AdapterStatusRecord& record) {
  int major = 0, minor = 0;
  if (queryVersion(device, oid::kGenDriverVersion, major, minor)) {
    putText(record.title, sizeof record.title, "%.*s, NDIS %d.%d", 64, identity.title ? identity.title : "", major,
            minor);
  }
  if (queryVersion(device, oid::kGenVendorDriverVersion, major, minor)) {
    putText(record.driverText, sizeof record.driverText, "%.*s %d.%d", 32,
            identity.driverText ? identity.driverText : "", major, minor);
  }
  uint32_t options = 0;
  if (queryNumber(device, oid::kGenMacOptions, options)) {
    putText(record.loopback, sizeof record.loopback, "%s", (options & kMacOptionNoLoopback) ? "NDIS" : "HARDWARE");
  }
  if (const uint8_t* s = identity.station) {
    putText(record.station, sizeof record.station, "%02X%02X%02X%02X%02X%02X", s[0], s[1], s[2], s[3], s[4], s[5]);
  }
}

void writeStates(capture::Device& device, AdapterStatusRecord& record) {
  uint32_t value = 0;
  if (queryNumber(device, oid::kGenHardwareStatus, value)) putCodeText(record.hardwareStatus, kHardwareStatus, value);
  if (queryNumber(device, oid::kGenMediaConnectStatus, value))
    putCodeText(record.mediaConnectStatus, kMediaConnectStatus, value);
}

void writeMedium(const AdapterIdentity& identity, capture::Device& device, AdapterStatusRecord& record) {
  if (identity.wan) {
    putText(record.medium, sizeof record.medium, "WAN 802.3");
  } else if (identity.mediaType == capture::kMedium8023) {
    putText(record.medium, sizeof record.medium, "Ethernet");
    queryCounters(device, k8023Counters, record);
  } else if (identity.mediaType == capture::kMedium8025) {
    putText(record.medium, sizeof record.medium, "Token Ring");
    queryCounters(device, k8025Counters, record);
    uint32_t value = 0;
    if (queryNumber(device, oid::k8025CurrentRingStatus, value)) putRingStatus(value, record.ringStatus);
    if (queryNumber(device, oid::k8025CurrentRingState, value)) putCodeText(record.ringState, kRingState, value);
  }
}

}  // namespace

void buildAdapterStatus(const AdapterIdentity& identity, uint32_t adapterIndex, uint8_t out[kAdapterStatusSize]) {
  AdapterStatusRecord record;
  std::memset(&record, 0, sizeof record);
  writeIdentity(identity, adapterIndex, record);
  if (identity.device == nullptr) {
    putText(record.openState, sizeof record.openState, "CLOSED");
  } else {
    capture::Device& device = *identity.device;
    putText(record.openState, sizeof record.openState, "Open");
    writeVersionsAndAddress(identity, device, record);
    writeStates(device, record);
    queryCounters(device, kGenericCounters, record);
    uint32_t speed = 0;
    if (queryNumber(device, oid::kGenLinkSpeed, speed)) putLinkSpeed(speed, record.linkSpeed);
    writeMedium(identity, device, record);
  }
  std::memcpy(out, &record, sizeof record);
}

}  // namespace veltris::agent
