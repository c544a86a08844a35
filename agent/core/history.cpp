#include "agent/core/history.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "agent/core/history_folder.h"
#include "agent/core/statistics.h"

namespace veltris::agent {
namespace {

std::string writeProblem(ssize_t written, int error) {
  return written < 0 ? std::strerror(error) : "short write (" + std::to_string(written) + " bytes)";
}

bool appendBytes(const std::string& fileName, const void* data, size_t size, uint32_t now) {
  std::string problem;
  const int fd = openHistoryFile(fileName, O_APPEND, problem);
  if (fd < 0) {
    reportHistoryWriteError(fileName, problem, now);
    return false;
  }
  const ssize_t written = ::write(fd, data, size);
  const int error = errno;
  const bool closed = ::close(fd) == 0;
  if (written == static_cast<ssize_t>(size) && closed) return true;
  reportHistoryWriteError(fileName, written == static_cast<ssize_t>(size) ? std::strerror(errno) : writeProblem(written, error), now);
  return false;
}

// "%d" over at most `width` characters: optional sign, then digits.
int leadingNumber(const char* text, size_t width) {
  size_t i = 0;
  bool negative = false;
  if (i < width && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int value = 0;
  while (i < width && std::isdigit(static_cast<unsigned char>(text[i]))) value = value * 10 + (text[i++] - '0');
  return negative ? -value : value;
}

bool matchesHistoryPattern(const char* name) {  // "*.TP*", case ignored as the NT file system does
  for (const char* p = name; (p = std::strchr(p, '.')) != nullptr; ++p) {
    if (std::toupper(static_cast<unsigned char>(p[1])) == 'T' && std::toupper(static_cast<unsigned char>(p[2])) == 'P')
      return true;
  }
  return false;
}

}  // namespace

TptRecord periodRecord(const TrafficTotals& now, const TrafficTotals& then, uint32_t time) {
  TptRecord r{};
  std::memcpy(r.tag, "TPT ", 4);
  r.time = time;
  r.bytesSent = static_cast<float>(now.bytesSent - then.bytesSent);
  r.framesSent = now.framesSent - then.framesSent;
  r.broadcastsSent = now.broadcastsSent - then.broadcastsSent;
  r.errorsSent = now.errorsSent - then.errorsSent;
  r.bytesReceived = static_cast<float>(now.bytesReceived - then.bytesReceived);
  r.framesReceived = now.framesReceived - then.framesReceived;
  r.broadcastsReceived = now.broadcastsReceived - then.broadcastsReceived;
  r.errorsReceived = now.errorsReceived - then.errorsReceived;
  return r;
}

std::string dateText(uint32_t time) {
  time_t t = time;
  struct tm local{};
  localtime_r(&t, &local);
  char text[40];  // room for any int the compiler can imagine
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return text;
}

bool appendStartMarker(uint32_t now) {
  TptRecord r{};
  std::memcpy(r.tag, "TPT ", 4);
  r.time = now;
  return appendBytes(dateText(now) + ".TPT", &r, sizeof r, now);
}

bool appendPeriodRecord(GlobalArea& global, uint32_t now) {
  TrafficTotals totals = global.totals.load();
  TptRecord r = periodRecord(totals, global.periodSnapshot(), now);
  global.setPeriodSnapshot(totals);
  return appendBytes(dateText(now) + ".TPT", &r, sizeof r, now);
}

bool writePartnerTables(AgentRuntime& rt, const std::string& fileName) {
  if (rt.refreshRoleLabels) rt.refreshRoleLabels();
  std::vector<TpsRecord> records;
  for (int i = 0; i < rt.global.adapterCount; ++i) {
    for (const PartnerRecord& partner : copyPartners(*rt.global.nics[i])) {
      TpsRecord& r = records.emplace_back();
      std::memcpy(r.tag, "TPS1", 4);
      r.adapter = static_cast<uint32_t>(i);
      r.partner = partner;
    }
  }
  const uint32_t now = rt.clock->now();
  std::string problem;
  const int fd = openHistoryFile(fileName, O_APPEND, problem);
  if (fd < 0) {
    reportHistoryWriteError(fileName, problem, now);
    return false;
  }
  // One write per record: a crash leaves at most one partial record at the end.
  for (const TpsRecord& r : records) {
    const ssize_t written = ::write(fd, &r, sizeof r);
    if (written != static_cast<ssize_t>(sizeof r)) {
      problem = writeProblem(written, errno);
      break;
    }
  }
  if (::close(fd) != 0 && problem.empty()) problem = std::strerror(errno);
  if (problem.empty()) return true;
  reportHistoryWriteError(fileName, problem, now);
  return false;
}

namespace {

int dateNumber(int year, int month, int day) { return year * 10000 + month * 100 + day; }

int dateNumber(uint32_t time) {
  time_t t = time;
  struct tm local{};
  localtime_r(&t, &local);
  return dateNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

// The last second of the local day that holds `time`.
uint32_t endOfDay(uint32_t time) {
  time_t t = time;
  struct tm local{};
  localtime_r(&t, &local);
  local.tm_mday += 1;
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  const time_t next = std::mktime(&local);
  return next > t ? static_cast<uint32_t>(next - 1) : time;
}

}  // namespace

void purgeHistory(uint32_t now, uint32_t keepFrom) {
  time_t t = now;
  struct tm local{};
  localtime_r(&t, &local);
  const int day = local.tm_mday;
  const int cutoff = (local.tm_year + 1900) * 12 + (local.tm_mon + 1) - 1;  // previous month
  const int kept = keepFrom == UINT32_MAX ? INT32_MAX : dateNumber(keepFrom);

  if (!historyFolderEntered()) return;  // never in the folder the agent started in
  DIR* dir = ::opendir(".");
  if (dir == nullptr) return;
  while (struct dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (!matchesHistoryPattern(name)) continue;
    size_t length = std::strlen(name);
    if (length < 8) continue;
    int fileYear = leadingNumber(name, 4);
    int fileMonth = leadingNumber(name + 4, 2);
    int fileDay = leadingNumber(name + 6, 2);
    if (fileYear == 0 || fileMonth == 0 || fileDay == 0) continue;
    if (length < 12 || (std::memcmp(name + 8, ".TPT", 4) != 0 && std::memcmp(name + 8, ".TPS", 4) != 0)) continue;
    if (dateNumber(fileYear, fileMonth, fileDay) >= kept) continue;
    int fileMonths = fileYear * 12 + fileMonth;
    if (fileMonths < cutoff || (fileMonths == cutoff && fileDay < day)) {
      consolePrint("PURGING %s\n", name);
      ::unlink(name);
    }
  }
  ::closedir(dir);
}

namespace {

// The change of day: yesterday's partner tables to its file, then empty tables.
void closeDay(AgentRuntime& rt, const std::string& previousDate) {
  writePartnerTables(rt, previousDate + ".TPS");
  for (int i = 0; i < rt.global.adapterCount; ++i) resetPartnerTable(rt.global, *rt.global.nics[i]);
}

// A period closed by a jump is written on a day that has frames: its own end,
// when the jump lands on that day, else no later than the end of the last day seen.
uint32_t closingTime(const PeriodEnd& end) {
  if (end.jumpedTo == 0 || dateNumber(end.closedAt) == dateNumber(end.jumpedTo)) return end.closedAt;
  return std::min(end.closedAt, endOfDay(end.lastBeforeJump));
}

}  // namespace

void runHistoryLoop(AgentRuntime& rt, std::chrono::milliseconds period) {
  const uint32_t started = rt.clock->now();
  std::string previousDate = dateText(started);
  for (;;) {
    const PeriodEnd end = rt.clock->endPeriod(rt.stopEvent, period);
    const uint32_t now = closingTime(end);
    appendPeriodRecord(rt.global, now);
    std::string date = dateText(now);
    if (end.stopped) {
      writePartnerTables(rt, date + ".TPS");
      rt.stoppedEvent.set();
      return;
    }
    if (date != previousDate) closeDay(rt, previousDate);
    previousDate = date;
    if (end.jumpedTo == 0) continue;
    // Time leapt: the days in between get no files; one change of day, and the
    // month's purge against the new day, sparing what this run has written.
    std::string landing = dateText(end.jumpedTo);
    if (landing == date) continue;
    closeDay(rt, date);
    purgeHistory(end.jumpedTo, started);
    previousDate = landing;
  }
}

}  // namespace veltris::agent
