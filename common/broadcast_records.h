#pragma once
// The broadcast list replies: one "BHDR" header, then one "BENT" record per
// group of broadcasts. Packed bytes with little-endian integers; text fields
// are fixed-width.
#include <cstddef>
#include <cstdint>

#include "common/le.h"

namespace veltris {

constexpr char kBroadcastHeaderTag[4] = {'B', 'H', 'D', 'R'};
constexpr char kBroadcastEntryTag[4] = {'B', 'E', 'N', 'T'};
constexpr size_t kBroadcastTimeSize = 9;
constexpr size_t kBroadcastStationSize = 16;
constexpr size_t kBroadcastProtoAddrSize = 28;
constexpr size_t kBroadcastRoleLabelSize = 8;
constexpr size_t kBroadcastHostNameSize = 32;
constexpr size_t kBroadcastKeyTextSize = 100;
constexpr size_t kBroadcastDestinationSize = 28;

struct BroadcastHeaderRecord {
  char tag[4];                        // "BHDR"
  char now[kBroadcastTimeSize];       // "%02d:%02d:%02d", local
  uint8_t reserved1[3];
  char windowStart[kBroadcastTimeSize];  // now - 900 s, same format
  uint8_t reserved2[3];
  LeU32 windowCount;                  // broadcasts in the 15-minute window
  LeU32 lastMinuteCount;              // of those, in the last minute
  LeU32 entryCount;                   // "BENT" records that follow
};
static_assert(sizeof(BroadcastHeaderRecord) == 40);
static_assert(alignof(BroadcastHeaderRecord) == 1);
static_assert(offsetof(BroadcastHeaderRecord, now) == 4);
static_assert(offsetof(BroadcastHeaderRecord, windowStart) == 16);
static_assert(offsetof(BroadcastHeaderRecord, windowCount) == 28);
static_assert(offsetof(BroadcastHeaderRecord, lastMinuteCount) == 32);
static_assert(offsetof(BroadcastHeaderRecord, entryCount) == 36);

struct BroadcastEntryRecord {
  char tag[4];                                 // "BENT"
  LeU32 adapter;                               // counted from 1
  char station[kBroadcastStationSize];         // of the group's newest broadcast
  char protoAddr[kBroadcastProtoAddrSize];
  char roleLabel[kBroadcastRoleLabelSize];
  char hostName[kBroadcastHostNameSize];
  LeU32 lastMinuteCount;
  LeU32 windowCount;
  char time[kBroadcastTimeSize];               // of the newest broadcast, local
  uint8_t reserved[3];
  LeU32 sequence;                              // of the newest broadcast
  char keyText[kBroadcastKeyTextSize];         // decoded description (low) or protocol (high)
  char destination[kBroadcastDestinationSize];  // decoded, of the newest broadcast
};
static_assert(sizeof(BroadcastEntryRecord) == 244);
static_assert(alignof(BroadcastEntryRecord) == 1);
static_assert(offsetof(BroadcastEntryRecord, adapter) == 4);
static_assert(offsetof(BroadcastEntryRecord, station) == 8);
static_assert(offsetof(BroadcastEntryRecord, protoAddr) == 24);
static_assert(offsetof(BroadcastEntryRecord, roleLabel) == 52);
static_assert(offsetof(BroadcastEntryRecord, hostName) == 60);
static_assert(offsetof(BroadcastEntryRecord, lastMinuteCount) == 92);
static_assert(offsetof(BroadcastEntryRecord, windowCount) == 96);
static_assert(offsetof(BroadcastEntryRecord, time) == 100);
static_assert(offsetof(BroadcastEntryRecord, sequence) == 112);
static_assert(offsetof(BroadcastEntryRecord, keyText) == 116);
static_assert(offsetof(BroadcastEntryRecord, destination) == 216);

}  // namespace veltris
