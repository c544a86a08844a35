#pragma once
// The adapter status record "OID ": what the driver and the adapter say about
// themselves (versions, address, states, speed, error counters).
#include <cstddef>
#include <cstdint>

#include "common/le.h"

namespace veltris {

constexpr size_t kAdapterStatusSize = 744;

// Text fields are zero-terminated within their width; the rest of a field is zero.
struct AdapterStatusRecord {
  char tag[4];  // "OID "
  LeU32 adapterNumber;  // counted from 1
  char adapterName[32];
  char openState[16];  // "Open" or "CLOSED"
  char loopback[16];   // "NDIS" or "HARDWARE"
  char title[64];
  char driverText[32];
  char station[16];
  char hardwareStatus[20];
  char mediaConnectStatus[20];
  char medium[16];
  char linkSpeed[16];
  // Generic counters.
  char transmitErrors[16];
  char receiveErrors[16];
  char receiveNoBuffer[16];
  char receiveCrcErrors[16];
  // 802.3 counters.
  char alignmentErrors[16];
  char oneCollision[16];
  char moreCollisions[16];
  char deferred[16];
  char maximumCollisions[16];
  char receiveOverrun[16];
  char transmitUnderrun[16];
  char heartbeatFailure[16];
  char carrierSenseLost[16];
  char lateCollisions[16];
  // 802.5 counters and ring.
  char lineErrors[16];
  char lostFrames[16];
  char burstErrors[16];
  char acErrors[16];
  char abortDelimiters[16];
  char frameCopiedErrors[16];
  char frequencyErrors[16];
  char tokenErrors[16];
  char internalErrors[16];
  char ringStatus[100];
  char ringState[20];
};
static_assert(sizeof(AdapterStatusRecord) == kAdapterStatusSize);
static_assert(offsetof(AdapterStatusRecord, adapterNumber) == 4);
static_assert(offsetof(AdapterStatusRecord, adapterName) == 8);
static_assert(offsetof(AdapterStatusRecord, openState) == 40);
static_assert(offsetof(AdapterStatusRecord, loopback) == 56);
static_assert(offsetof(AdapterStatusRecord, title) == 72);
static_assert(offsetof(AdapterStatusRecord, driverText) == 136);
static_assert(offsetof(AdapterStatusRecord, station) == 168);
static_assert(offsetof(AdapterStatusRecord, hardwareStatus) == 184);
static_assert(offsetof(AdapterStatusRecord, mediaConnectStatus) == 204);
static_assert(offsetof(AdapterStatusRecord, medium) == 224);
static_assert(offsetof(AdapterStatusRecord, linkSpeed) == 240);
static_assert(offsetof(AdapterStatusRecord, transmitErrors) == 256);
static_assert(offsetof(AdapterStatusRecord, receiveErrors) == 272);
static_assert(offsetof(AdapterStatusRecord, receiveNoBuffer) == 288);
static_assert(offsetof(AdapterStatusRecord, receiveCrcErrors) == 304);
static_assert(offsetof(AdapterStatusRecord, alignmentErrors) == 320);
static_assert(offsetof(AdapterStatusRecord, oneCollision) == 336);
static_assert(offsetof(AdapterStatusRecord, moreCollisions) == 352);
static_assert(offsetof(AdapterStatusRecord, deferred) == 368);
static_assert(offsetof(AdapterStatusRecord, maximumCollisions) == 384);
static_assert(offsetof(AdapterStatusRecord, receiveOverrun) == 400);
static_assert(offsetof(AdapterStatusRecord, transmitUnderrun) == 416);
static_assert(offsetof(AdapterStatusRecord, heartbeatFailure) == 432);
static_assert(offsetof(AdapterStatusRecord, carrierSenseLost) == 448);
static_assert(offsetof(AdapterStatusRecord, lateCollisions) == 464);
static_assert(offsetof(AdapterStatusRecord, lineErrors) == 480);
static_assert(offsetof(AdapterStatusRecord, lostFrames) == 496);
static_assert(offsetof(AdapterStatusRecord, burstErrors) == 512);
static_assert(offsetof(AdapterStatusRecord, acErrors) == 528);
static_assert(offsetof(AdapterStatusRecord, abortDelimiters) == 544);
static_assert(offsetof(AdapterStatusRecord, frameCopiedErrors) == 560);
static_assert(offsetof(AdapterStatusRecord, frequencyErrors) == 576);
static_assert(offsetof(AdapterStatusRecord, tokenErrors) == 592);
static_assert(offsetof(AdapterStatusRecord, internalErrors) == 608);
static_assert(offsetof(AdapterStatusRecord, ringStatus) == 624);
static_assert(offsetof(AdapterStatusRecord, ringState) == 724);

}  // namespace veltris
