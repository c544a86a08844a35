#pragma once
// The "DETL" detail record: one decoded frame of the packet or error ring.
// Packed bytes with little-endian integers; text fields are fixed-width.
#include <cstddef>
#include <cstdint>

#include "common/le.h"

namespace veltris {

constexpr char kDetailTag[4] = {'D', 'E', 'T', 'L'};
constexpr size_t kDetailTimeSize = 9;
constexpr size_t kDetailStationSize = 16;
constexpr size_t kDetailProtoAddrSize = 28;
constexpr size_t kDetailRoleLabelSize = 8;
constexpr size_t kDetailHostNameSize = 32;
constexpr size_t kDetailDirectionSize = 4;
constexpr size_t kDetailDestinationSize = 28;
constexpr size_t kDetailDescriptionSize = 100;
constexpr size_t kDetailProtocolSize = 100;
constexpr size_t kDetailErrorTextSize = 16;

struct DetailRecord {
  char tag[4];                                  // "DETL"
  LeU32 adapter;                                // counted from 1
  LeU32 sequence;                               // packet sequence number
  LeU32 length;                                 // frame length in bytes
  char time[kDetailTimeSize];                   // "%02d:%02d:%02d", local
  uint8_t reserved[3];
  char station[kDetailStationSize];
  char protoAddr[kDetailProtoAddrSize];
  char roleLabel[kDetailRoleLabelSize];
  char hostName[kDetailHostNameSize];
  char direction[kDetailDirectionSize];         // "<<  ", "  ->", ...; no terminator
  char destination[kDetailDestinationSize];
  char description[kDetailDescriptionSize];     // the low-level description
  char protocol[kDetailProtocolSize];           // what the frame means
  char errorText[kDetailErrorTextSize];         // blank-padded, no terminator
  LeU32 mediaType;                              // 0 = 802.3, 1 = 802.5
};
static_assert(sizeof(DetailRecord) == 364);
static_assert(alignof(DetailRecord) == 1);
static_assert(offsetof(DetailRecord, tag) == 0);
static_assert(offsetof(DetailRecord, adapter) == 4);
static_assert(offsetof(DetailRecord, sequence) == 8);
static_assert(offsetof(DetailRecord, length) == 12);
static_assert(offsetof(DetailRecord, time) == 16);
static_assert(offsetof(DetailRecord, reserved) == 25);
static_assert(offsetof(DetailRecord, station) == 28);
static_assert(offsetof(DetailRecord, protoAddr) == 44);
static_assert(offsetof(DetailRecord, roleLabel) == 72);
static_assert(offsetof(DetailRecord, hostName) == 80);
static_assert(offsetof(DetailRecord, direction) == 112);
static_assert(offsetof(DetailRecord, destination) == 116);
static_assert(offsetof(DetailRecord, description) == 144);
static_assert(offsetof(DetailRecord, protocol) == 244);
static_assert(offsetof(DetailRecord, errorText) == 344);
static_assert(offsetof(DetailRecord, mediaType) == 360);

}  // namespace veltris
