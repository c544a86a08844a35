#pragma once
// Printers of the reply records, one source file per record family: tables
// for people (one call per run of records of one kind) and one JSON object per
// record for scripts.
#include <ostream>
#include <span>

#include "tools/veltris_cli/json_object.h"
#include "tools/veltris_cli/reply.h"

namespace veltris::cli {

// Statistics: "TOT ", "HIST", "TPT ", "STAT".
void printTotals(const TotalsRecord& record, std::ostream& out);
void printHistoryDays(std::span<const HistoryDayRecord> records, std::ostream& out);  // sorted by day
void printPeriodTotals(std::span<const PeriodTotalsRecord> records, std::ostream& out);
void printPartnerStats(std::span<const PartnerStatRecord> records, std::ostream& out);
// "ADR6": the full IPv6 address of a partner, RFC 5952 text.
void printPartnerAddresses(std::span<const PartnerAddressRecord> records, std::ostream& out);
JsonObject totalsJson(const TotalsRecord& record);
JsonObject historyDayJson(const HistoryDayRecord& record);
JsonObject periodTotalsJson(const PeriodTotalsRecord& record);
JsonObject partnerStatJson(const PartnerStatRecord& record);
JsonObject partnerAddressJson(const PartnerAddressRecord& record);

// Packet details: "DETL", sorted by packet sequence number in tables.
void printDetails(std::span<const DetailRecord> records, std::ostream& out);
JsonObject detailJson(const DetailRecord& record);

// Broadcast lists: "BHDR", "BENT".
void printBroadcastHeader(const BroadcastHeaderRecord& record, std::ostream& out);
void printBroadcastEntries(std::span<const BroadcastEntryRecord> records, std::ostream& out);
JsonObject broadcastHeaderJson(const BroadcastHeaderRecord& record);
JsonObject broadcastEntryJson(const BroadcastEntryRecord& record);

// Adapter status: "OID ".
void printAdapterStatus(const AdapterStatusRecord& record, std::ostream& out);
JsonObject adapterStatusJson(const AdapterStatusRecord& record);

// Text replies: "TXT4", the text up to its terminator, CR LF lines as LF.
void printTextReply(const TextReply& record, std::ostream& out);
JsonObject textReplyJson(const TextReply& record);

}  // namespace veltris::cli
