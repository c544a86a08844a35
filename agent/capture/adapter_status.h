#pragma once
// Builds the adapter status record "OID " from the device at the moment of
// the request.
#include <cstddef>
#include <cstdint>

#include "common/adapter_status_record.h"
#include "platform/capture/device.h"

namespace veltris::agent {

// What the NIC area knows of the adapter.
struct AdapterIdentity {
  const char* adapterName;
  const char* title;       // up to 64 bytes are read
  const char* driverText;  // up to 32 bytes are read
  const uint8_t* station;  // 6 bytes
  int32_t mediaType;       // capture::Medium
  bool wan;
  capture::Device* device;  // null: the adapter could not be opened (CLOSED)
};

// Builds the record of one adapter (index counted from 0) into out[744].
void buildAdapterStatus(const AdapterIdentity& identity, uint32_t adapterIndex, uint8_t out[kAdapterStatusSize]);

}  // namespace veltris::agent
