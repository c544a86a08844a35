#pragma once
// Records the agent stores in files and hands to consoles. All are packed
// byte arrays with little-endian fields; sizes and offsets are checked below.
#include <cstddef>
#include <cstdint>

#include "common/frame_view.h"
#include "common/le.h"

namespace veltris {

constexpr char kVersionStamp[] = "19990415";
constexpr int kStationTextSize = 16;
constexpr int kProtoAddrTextSize = 29;
constexpr int kHostNameSize = 33;

// One partner of an adapter; also the body of a TPS history record.
struct PartnerRecord {
  LeU32 tcpList;  // first TCP connection entry (index + 1), 0 = none
  LeU32 self;
  uint8_t ipv4[4];
  char station[kStationTextSize];
  char protoAddr[kProtoAddrTextSize];
  char hostName[kHostNameSize];
  LeU32 changeStamp;
  LeU32 firstSeen;
  LeU32 lastSeen;
  LeF32 bytesSent;
  LeU32 framesSent;
  LeU32 broadcasts;
  LeU32 errors;
  LeF32 bytesReceived;
  LeU32 framesReceived;
  char roleLabel[8];
  LeU32 owner;  // owning adapter (index + 1)
  uint8_t ipv6[16];  // an IPv6 partner's address in full; zero for every other partner
  uint8_t reserved[4];
};
static_assert(sizeof(PartnerRecord) == 158);
static_assert(offsetof(PartnerRecord, ipv4) == 8);
static_assert(offsetof(PartnerRecord, station) == 12);
static_assert(offsetof(PartnerRecord, protoAddr) == 28);
static_assert(offsetof(PartnerRecord, hostName) == 57);
static_assert(offsetof(PartnerRecord, changeStamp) == 90);
static_assert(offsetof(PartnerRecord, firstSeen) == 94);
static_assert(offsetof(PartnerRecord, lastSeen) == 98);
static_assert(offsetof(PartnerRecord, bytesSent) == 102);
static_assert(offsetof(PartnerRecord, framesSent) == 106);
static_assert(offsetof(PartnerRecord, broadcasts) == 110);
static_assert(offsetof(PartnerRecord, errors) == 114);
static_assert(offsetof(PartnerRecord, bytesReceived) == 118);
static_assert(offsetof(PartnerRecord, framesReceived) == 122);
static_assert(offsetof(PartnerRecord, roleLabel) == 126);
static_assert(offsetof(PartnerRecord, owner) == 134);
static_assert(offsetof(PartnerRecord, ipv6) == 138);
static_assert(offsetof(PartnerRecord, reserved) == 154);

// Frame kinds and error kinds kept with each captured frame.
enum FrameKind : uint32_t {
  kBroadcastReceived = 0,
  kSessionReceived = 1,
  kErrorReceived = 2,
  kBroadcastSent = 3,
  kSessionSent = 4,
  kErrorSent = 5,
};
enum ErrorKind : uint32_t {
  kNoError = 0,
  kTcpRetransmit = 1,
  kDnsRetransmit = 2,
  kArpRetransmit = 3,
  kTcpReset = 4,
  kIcmpError = 5,
  kLlcError = 6,
};

// Entry of the packet ring and of the error ring.
struct PacketRecord {
  uint8_t complete;
  LeU32 time;
  LeU32 sequence;
  LeU32 length;  // the frame's length on the wire
  char station[kStationTextSize];
  char protoAddr[kProtoAddrTextSize];
  LeU32 partner;  // source partner (index + 1), 0 = none
  LeU32 frameKind;
  LeU32 errorKind;
  uint8_t frame[kStoredFrameBytes];
};
static_assert(sizeof(PacketRecord) == 326);
static_assert(offsetof(PacketRecord, time) == 1);
static_assert(offsetof(PacketRecord, sequence) == 5);
static_assert(offsetof(PacketRecord, length) == 9);
static_assert(offsetof(PacketRecord, station) == 13);
static_assert(offsetof(PacketRecord, protoAddr) == 29);
static_assert(offsetof(PacketRecord, partner) == 58);
static_assert(offsetof(PacketRecord, frameKind) == 62);
static_assert(offsetof(PacketRecord, errorKind) == 66);
static_assert(offsetof(PacketRecord, frame) == 70);

// Entry of the broadcast ring.
struct BroadcastRecord {
  LeU32 time;
  LeU32 sequence;
  LeU32 partner;  // source partner (index + 1), 0 = none
  uint8_t ipDestination[4];
  char station[kStationTextSize];
  char protoAddr[kProtoAddrTextSize];
  uint8_t frame[kStoredFrameBytes];
};
static_assert(sizeof(BroadcastRecord) == 317);
static_assert(offsetof(BroadcastRecord, ipDestination) == 12);
static_assert(offsetof(BroadcastRecord, station) == 16);
static_assert(offsetof(BroadcastRecord, protoAddr) == 32);
static_assert(offsetof(BroadcastRecord, frame) == 61);

// Ten-minute totals record of a TPT history file.
struct TptRecord {
  char tag[4];  // "TPT "
  LeU32 time;
  LeF32 bytesSent;
  LeU32 framesSent;
  LeU32 broadcastsSent;
  LeU32 errorsSent;
  LeF32 bytesReceived;
  LeU32 framesReceived;
  LeU32 broadcastsReceived;
  LeU32 errorsReceived;
};
static_assert(sizeof(TptRecord) == 40);
static_assert(offsetof(TptRecord, bytesSent) == 8);
static_assert(offsetof(TptRecord, bytesReceived) == 24);
static_assert(offsetof(TptRecord, errorsReceived) == 36);

// Partner record of a TPS history file.
struct TpsRecord {
  char tag[4];  // "TPS1"
  LeU32 adapter;
  PartnerRecord partner;
};
static_assert(sizeof(TpsRecord) == 166);
static_assert(offsetof(TpsRecord, partner) == 8);

}  // namespace veltris
