#pragma once
// The replies that carry numbers: the totals record, the list of history days,
// the ten-minute totals of a day and the partner statistics records, live and
// from the history files of the current directory.
//
// Every function appends to `body`; the words whose records replace the totals
// record have the body emptied by the dispatcher first.
#include <cstdint>
#include <string>
#include <string_view>

#include "agent/core/state.h"
#include "common/records.h"
#include "common/reply_records.h"

namespace veltris::agent {

// The most records one reply reads from a history file: more than a day can
// hold (144 periods plus a start and a stop record per run; four full partner
// tables for each of several runs). The rest of a larger file is left out.
constexpr size_t kMaxDayPeriodRecords = 4096;
constexpr size_t kMaxDayPartnerRecords = 4 * kMaxAdapters * kMaxPartners;
// Replies from large history files at one time, from reading until sent;
// more wait their turn.
constexpr int kLargeHistoryReaders = 4;

// "TOT ": the agent-wide totals at `now`.
void appendTotalsRecord(const GlobalArea& global, uint32_t now, std::string& body);

// "HIST" for every "*.TPT" file of the current directory named by a day
// ("%04d%02d%02d.TPT", a regular file), in directory order.
void appendHistoryList(std::string& body);

// "TPT " records of the file "<day>.TPT"; when the first 8 bytes of `day` are
// today's date, one more for the running period (counters minus the period snapshot).
void appendDayTotals(const GlobalArea& global, std::string_view day, uint32_t now, std::string& body);

// "STAT" records of the file "<day>.TPS" up to its first record not tagged
// "TPS1"; when `day` is today's date, every live partner entry of every adapter.
void appendDayPartners(const GlobalArea& global, std::string_view day, uint32_t now, std::string& body);

// "STAT" for every partner entry whose change stamp is above `since` (unsigned).
void appendPartnerChanges(const GlobalArea& global, uint32_t since, std::string& body);
// "ADDRESSES6": an "ADR6" record for each IPv6 partner whose change stamp is greater than `since`.
void appendIpv6Addresses(const GlobalArea& global, uint32_t since, std::string& body);

// Fills a "STAT" record from a partner entry: texts blank-padded, no terminators.
void fillPartnerStat(PartnerStatRecord& out, uint32_t adapterNumber, const PartnerRecord& entry);

// Ten-minute slot of the local day: hour * 6 + minute / 10.
uint32_t periodSlot(uint32_t time);

// True when `day` starts with the local date of `now` as "%04d%02d%02d".
bool isToday(std::string_view day, uint32_t now);

}  // namespace veltris::agent
