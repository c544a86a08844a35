#pragma once
// Records of the replies to request words, read by the agent and the console.
// All are packed byte arrays with little-endian fields; text fields have fixed
// widths, NUL-padded or blank-padded as each field says.
#include <cstddef>
#include <cstdint>

#include "common/le.h"

namespace veltris {

constexpr char kReplyHeaderTag[4] = {'T', 'A', 'S', 'K'};
constexpr char kTotalsTag[4] = {'T', 'O', 'T', ' '};
constexpr char kTextReplyTag[4] = {'T', 'X', 'T', '4'};
constexpr char kHistoryDayTag[4] = {'H', 'I', 'S', 'T'};
constexpr char kPeriodTotalsTag[4] = {'T', 'P', 'T', ' '};
constexpr char kPartnerStatTag[4] = {'S', 'T', 'A', 'T'};
constexpr char kPartnerAddressTag[4] = {'A', 'D', 'R', '6'};

constexpr size_t kRequestSize = 256;
constexpr size_t kAccessKeySize = 16;
constexpr size_t kTextAreaSize = 4096;

// In front of every reply; the body follows at offset 32.
struct ReplyHeader {
  char tag[4];      // "TASK"
  char version[8];  // "19990415", no terminator
  char date[8];     // agent's local date "%04d%02d%02d", no terminator
  char time[8];     // agent's local time "%02d:%02d:%02d", no terminator
  LeU32 trafficState;  // 1 to 10; 0 before the first evaluation
};
static_assert(sizeof(ReplyHeader) == 32);
static_assert(alignof(ReplyHeader) == 1);
static_assert(offsetof(ReplyHeader, version) == 4);
static_assert(offsetof(ReplyHeader, date) == 12);
static_assert(offsetof(ReplyHeader, time) == 20);
static_assert(offsetof(ReplyHeader, trafficState) == 28);

// The agent-wide totals at the moment of the request.
struct TotalsRecord {
  char tag[4];  // "TOT "
  LeU32 sequence;
  LeF32 bytesSent;
  LeU32 framesSent;
  LeU32 broadcastsSent;
  LeU32 errorsSent;
  LeF32 bytesReceived;
  LeU32 framesReceived;
  LeU32 broadcastsReceived;
  LeU32 errorsReceived;
  LeU32 resetCount;
  LeI32 secondsSinceReceived;
  char hostName[32];   // upper case, NUL-padded; 32 characters leave no terminator
  char ipSummary[20];  // "IP=..." or empty, NUL-padded
};
static_assert(sizeof(TotalsRecord) == 100);
static_assert(alignof(TotalsRecord) == 1);
static_assert(offsetof(TotalsRecord, sequence) == 4);
static_assert(offsetof(TotalsRecord, bytesSent) == 8);
static_assert(offsetof(TotalsRecord, framesSent) == 12);
static_assert(offsetof(TotalsRecord, broadcastsSent) == 16);
static_assert(offsetof(TotalsRecord, errorsSent) == 20);
static_assert(offsetof(TotalsRecord, bytesReceived) == 24);
static_assert(offsetof(TotalsRecord, framesReceived) == 28);
static_assert(offsetof(TotalsRecord, broadcastsReceived) == 32);
static_assert(offsetof(TotalsRecord, errorsReceived) == 36);
static_assert(offsetof(TotalsRecord, resetCount) == 40);
static_assert(offsetof(TotalsRecord, secondsSinceReceived) == 44);
static_assert(offsetof(TotalsRecord, hostName) == 48);
static_assert(offsetof(TotalsRecord, ipSummary) == 80);

// A text reply: NUL-terminated text of at most 4095 characters, CR LF lines.
struct TextReply {
  char tag[4];  // "TXT4"
  char text[kTextAreaSize];
};
static_assert(sizeof(TextReply) == 4100);
static_assert(alignof(TextReply) == 1);
static_assert(offsetof(TextReply, text) == 4);

// One day that has a totals history file.
struct HistoryDayRecord {
  char tag[4];  // "HIST"
  char day[8];  // "%04d%02d%02d", no terminator
};
static_assert(sizeof(HistoryDayRecord) == 12);
static_assert(alignof(HistoryDayRecord) == 1);
static_assert(offsetof(HistoryDayRecord, day) == 4);

// Totals of one ten-minute period of a day.
struct PeriodTotalsRecord {
  char tag[4];  // "TPT "
  LeU32 slot;   // hour * 6 + minute / 10, local time, 0 to 143
  LeF32 bytesSent;
  LeU32 framesSent;
  LeU32 broadcastsSent;
  LeU32 errorsSent;
  LeF32 bytesReceived;
  LeU32 framesReceived;
  LeU32 broadcastsReceived;
  LeU32 errorsReceived;
};
static_assert(sizeof(PeriodTotalsRecord) == 40);
static_assert(alignof(PeriodTotalsRecord) == 1);
static_assert(offsetof(PeriodTotalsRecord, slot) == 4);
static_assert(offsetof(PeriodTotalsRecord, bytesSent) == 8);
static_assert(offsetof(PeriodTotalsRecord, framesSent) == 12);
static_assert(offsetof(PeriodTotalsRecord, broadcastsSent) == 16);
static_assert(offsetof(PeriodTotalsRecord, errorsSent) == 20);
static_assert(offsetof(PeriodTotalsRecord, bytesReceived) == 24);
static_assert(offsetof(PeriodTotalsRecord, framesReceived) == 28);
static_assert(offsetof(PeriodTotalsRecord, broadcastsReceived) == 32);
static_assert(offsetof(PeriodTotalsRecord, errorsReceived) == 36);

// One partner entry; text fields are blank-padded and never terminated.
struct PartnerStatRecord {
  char tag[4];  // "STAT"
  LeU32 adapterNumber;  // counted from 1
  char station[16];
  char protoAddr[28];
  char roleLabel[8];
  char hostName[32];
  char lastSeen[8];  // "%02d:%02d:%02d", local time
  LeF32 bytesSent;
  LeU32 framesSent;
  LeU32 broadcasts;
  LeU32 errors;
  LeF32 bytesReceived;
  LeU32 framesReceived;
};
static_assert(sizeof(PartnerStatRecord) == 124);
static_assert(alignof(PartnerStatRecord) == 1);
static_assert(offsetof(PartnerStatRecord, adapterNumber) == 4);
static_assert(offsetof(PartnerStatRecord, station) == 8);
static_assert(offsetof(PartnerStatRecord, protoAddr) == 24);
static_assert(offsetof(PartnerStatRecord, roleLabel) == 52);
static_assert(offsetof(PartnerStatRecord, hostName) == 60);
static_assert(offsetof(PartnerStatRecord, lastSeen) == 92);
static_assert(offsetof(PartnerStatRecord, bytesSent) == 100);
static_assert(offsetof(PartnerStatRecord, framesSent) == 104);
static_assert(offsetof(PartnerStatRecord, broadcasts) == 108);
static_assert(offsetof(PartnerStatRecord, errors) == 112);
static_assert(offsetof(PartnerStatRecord, bytesReceived) == 116);
static_assert(offsetof(PartnerStatRecord, framesReceived) == 120);

// The full address of an IPv6 partner, tag "ADR6" (68 bytes), answered to
// "ADDRESSES6": the partner is the "STAT" row with the same adapter number,
// station and protocol and address texts (blank-padded as there), whose text
// may show the address cut.
struct PartnerAddressRecord {
  char tag[4];  // "ADR6"
  LeU32 adapterNumber;  // counted from 1
  char station[16];
  char protoAddr[28];
  uint8_t address[16];
};
static_assert(sizeof(PartnerAddressRecord) == 68);
static_assert(alignof(PartnerAddressRecord) == 1);
static_assert(offsetof(PartnerAddressRecord, protoAddr) == 24);
static_assert(offsetof(PartnerAddressRecord, address) == 52);

}  // namespace veltris
