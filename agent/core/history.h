#pragma once
// Daily history files in the current directory: "%04d%02d%02d.TPT" with a
// totals record per ten minutes, "%04d%02d%02d.TPS" with the partner tables.
#include <chrono>
#include <cstdint>
#include <string>

#include "agent/core/runtime.h"

namespace veltris::agent {

// The TPT record of the change from `then` to `now`, stamped `time`.
TptRecord periodRecord(const TrafficTotals& now, const TrafficTotals& then, uint32_t time);

// Local date of `time` as "%04d%02d%02d".
std::string dateText(uint32_t time);

// Each append opens the file by name in the history folder, writes with one
// call and closes it. True when the bytes were written; a failure is counted
// and reported (once per file and day), and the record is skipped.
bool appendStartMarker(uint32_t now);
bool appendPeriodRecord(GlobalArea& global, uint32_t now);  // also moves the period snapshot
bool writePartnerTables(AgentRuntime& rt, const std::string& fileName);

// Removes history files dated before the same day of the previous month,
// except those dated on or after the day of `keepFrom`.
void purgeHistory(uint32_t now, uint32_t keepFrom = UINT32_MAX);

// The main thread's loop after start-up: a totals record every `period`, the
// partner tables at the change of date and at stop; sets the stopped event.
// When time leaps past a whole period the empty periods and days are skipped.
void runHistoryLoop(AgentRuntime& rt, std::chrono::milliseconds period = std::chrono::minutes(10));

}  // namespace veltris::agent
