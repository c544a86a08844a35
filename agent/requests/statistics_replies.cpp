#include "agent/requests/statistics_replies.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <semaphore>
#include <vector>

#include "agent/core/history.h"
#include "agent/core/statistics.h"
#include "platform/rpc/interface.h"

namespace veltris::agent {
namespace {

template <typename Record>
void appendRecord(std::string& body, const Record& record) {
  body.append(reinterpret_cast<const char*>(&record), sizeof record);
}

struct tm localParts(uint32_t time) {
  time_t t = time;
  struct tm local{};
  localtime_r(&t, &local);
  return local;
}

// "%02d:%02d:%02d" of hour, minute and second into 8 bytes; the hot path of
// "STATS_PRO", where snprintf would cost more than the rest of the record.
void writeClockText(char out[8], const struct tm& t) {
  auto twoDigits = [](char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10 % 10);
    p[1] = static_cast<char>('0' + v % 10);
  };
  twoDigits(out, t.tm_hour);
  out[2] = ':';
  twoDigits(out + 3, t.tm_min);
  out[5] = ':';
  twoDigits(out + 6, t.tm_sec);
}

// Copies text of at most `sourceWidth` bytes (ending early at a NUL) over the
// start of a blank-filled field; no terminator is written.
void copyBlankPadded(char* field, size_t fieldWidth, const char* source, size_t sourceWidth) {
  std::memset(field, ' ', fieldWidth);
  size_t limit = std::min(fieldWidth, sourceWidth);
  size_t n = 0;
  while (n < limit && source[n] != '\0') ++n;
  std::memcpy(field, source, n);
}

// Copies text ending at a NUL or at the width of the shorter field; the rest is zero.
void copyNulPadded(char* field, size_t fieldWidth, const char* source, size_t sourceWidth) {
  std::memset(field, 0, fieldWidth);
  size_t limit = std::min(fieldWidth, sourceWidth);
  for (size_t n = 0; n < limit && source[n] != '\0'; ++n) field[n] = source[n];
}

// A history file name from a day argument, or empty when the argument could
// name something outside the current directory.
std::string historyFileName(std::string_view day, const char* extension) {
  if (day.find('/') != std::string_view::npos || day.find('\0') != std::string_view::npos) return {};
  return std::string(day) + extension;
}

bool endsWithTptExtension(const char* name);

// Reading a file of more than this many bytes takes one of the large-reader places.
constexpr off_t kLargeHistoryFile = 256 * 1024;

thread_local int placesHeld = 0;

std::counting_semaphore<kLargeHistoryReaders>& largeReaders() {
  static std::counting_semaphore<kLargeHistoryReaders> places(kLargeHistoryReaders);
  return places;
}

// Calls `onRecord` for each whole record of a history file, from the start,
// up to the first short record or `maxRecords`; stops early when it answers
// false. Links are not followed, and a file with further names (a hard link
// to something else) is not read.
template <size_t RecordSize, typename OnRecord>
void forEachWholeRecord(const std::string& fileName, size_t maxRecords, OnRecord onRecord) {
  if (fileName.empty()) return;
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return;
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    ::close(fd);
    return;
  }
  // A large reply keeps its place until it has been sent, so the places
  // bound the memory of such replies, not only their reading.
  // A request that holds a place already (nested requests of one call) takes no second one.
  const bool large = info.st_size > kLargeHistoryFile && placesHeld == 0;
  if (large) {
    largeReaders().acquire();
    ++placesHeld;
  }
  const bool heldForReply = large && rpc::whenReplySent([] {
    --placesHeld;
    largeReaders().release();
  });
  const size_t maxBytes = maxRecords * RecordSize;
  uint8_t buffer[RecordSize * 64];
  size_t filled = 0;
  size_t total = 0;
  bool more = true;
  while (more && total < maxBytes) {
    size_t room = std::min(sizeof buffer - filled, maxBytes - total);
    ssize_t got = ::read(fd, buffer + filled, room);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
    total += static_cast<size_t>(got);
    size_t used = 0;
    for (; more && filled - used >= RecordSize; used += RecordSize) more = onRecord(buffer + used);
    std::memmove(buffer, buffer + used, filled - used);
    filled -= used;
  }
  if (large && !heldForReply) {
    --placesHeld;
    largeReaders().release();
  }
  ::close(fd);  // a partial record left in the buffer is one still being written
}

// "YYYYMMDD.TPT" with a month and a day that can be.
bool namesADay(const char* name) {
  if (std::strlen(name) != 12 || !endsWithTptExtension(name)) return false;
  for (int i = 0; i < 8; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  int month = (name[4] - '0') * 10 + (name[5] - '0');
  int day = (name[6] - '0') * 10 + (name[7] - '0');
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

PeriodTotalsRecord periodRecordFromFile(const uint8_t* stored) {
  TptRecord file;
  std::memcpy(&file, stored, sizeof file);
  PeriodTotalsRecord r;
  std::memcpy(r.tag, kPeriodTotalsTag, 4);
  r.slot = periodSlot(file.time);
  // The eight period values follow the time stamp in the order of the reply record.
  constexpr size_t kValues = offsetof(PeriodTotalsRecord, bytesSent);
  static_assert(kValues == offsetof(TptRecord, bytesSent) && sizeof r == sizeof file);
  std::memcpy(reinterpret_cast<uint8_t*>(&r) + kValues, stored + kValues, sizeof r - kValues);
  return r;
}

PeriodTotalsRecord runningPeriodRecord(const GlobalArea& global, uint32_t now) {
  TptRecord running = periodRecord(global.totals.load(), global.periodSnapshot(), now);
  return periodRecordFromFile(reinterpret_cast<const uint8_t*>(&running));
}

bool endsWithTptExtension(const char* name) {  // "*.TPT", case ignored as the NT file system does
  size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* ext = name + length - 4;
  return ext[0] == '.' && std::toupper(static_cast<unsigned char>(ext[1])) == 'T' &&
         std::toupper(static_cast<unsigned char>(ext[2])) == 'P' &&
         std::toupper(static_cast<unsigned char>(ext[3])) == 'T';
}

template <typename Keep>
void appendPartnerStats(const GlobalArea& global, std::string& body, Keep keep) {
  PartnerStatRecord stat;
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (!global.nics[i]) continue;
    const std::vector<PartnerRecord> entries = copyPartners(*global.nics[i]);
    body.reserve(body.size() + entries.size() * sizeof stat);  // one growth per adapter at most
    for (const PartnerRecord& entry : entries) {
      if (!keep(entry)) continue;
      fillPartnerStat(stat, static_cast<uint32_t>(i + 1), entry);
      appendRecord(body, stat);
    }
  }
}

}  // namespace

uint32_t periodSlot(uint32_t time) {
  struct tm local = localParts(time);
  return static_cast<uint32_t>(local.tm_hour * 6 + local.tm_min / 10);
}

bool isToday(std::string_view day, uint32_t now) {
  return day.size() >= 8 && day.substr(0, 8) == dateText(now);
}

void appendTotalsRecord(const GlobalArea& global, uint32_t now, std::string& body) {
  const TrafficTotals t = global.totals.load();
  TotalsRecord r;
  std::memcpy(r.tag, kTotalsTag, 4);
  r.sequence = t.sequence;
  r.bytesSent = static_cast<float>(t.bytesSent);
  r.framesSent = t.framesSent;
  r.broadcastsSent = t.broadcastsSent;
  r.errorsSent = t.errorsSent;
  r.bytesReceived = static_cast<float>(t.bytesReceived);
  r.framesReceived = t.framesReceived;
  r.broadcastsReceived = t.broadcastsReceived;
  r.errorsReceived = t.errorsReceived;
  r.resetCount = t.resetCount;
  r.secondsSinceReceived = static_cast<int32_t>(now - t.lastReceived);
  copyNulPadded(r.hostName, sizeof r.hostName, global.hostName, sizeof global.hostName);
  for (char& c : r.hostName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  {
    std::lock_guard lock(global.labelMutex);
    copyNulPadded(r.ipSummary, sizeof r.ipSummary, global.ipSummary, sizeof global.ipSummary);
  }
  appendRecord(body, r);
}

void appendHistoryList(std::string& body) {
  DIR* dir = ::opendir(".");
  if (dir == nullptr) return;
  HistoryDayRecord r;
  std::memcpy(r.tag, kHistoryDayTag, 4);
  while (const struct dirent* entry = ::readdir(dir)) {
    if (!namesADay(entry->d_name)) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat info{};
      if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) type = DT_REG;
    }
    if (type != DT_REG) continue;
    copyNulPadded(r.day, sizeof r.day, entry->d_name, sizeof r.day);
    appendRecord(body, r);
  }
  ::closedir(dir);
}

void appendDayTotals(const GlobalArea& global, std::string_view day, uint32_t now, std::string& body) {
  forEachWholeRecord<sizeof(TptRecord)>(historyFileName(day, ".TPT"), kMaxDayPeriodRecords, [&](const uint8_t* stored) {
    if (std::memcmp(stored, "TPT ", 4) != 0) return false;  // not a history record: the rest is not either
    appendRecord(body, periodRecordFromFile(stored));
    return true;
  });
  if (isToday(day, now)) appendRecord(body, runningPeriodRecord(global, now));
}

void appendDayPartners(const GlobalArea& global, std::string_view day, uint32_t now, std::string& body) {
  PartnerStatRecord stat;
  forEachWholeRecord<sizeof(TpsRecord)>(historyFileName(day, ".TPS"), kMaxDayPartnerRecords, [&](const uint8_t* stored) {
    TpsRecord record;
    std::memcpy(&record, stored, sizeof record);
    if (std::memcmp(record.tag, "TPS1", 4) != 0) return false;
    fillPartnerStat(stat, record.adapter.get() + 1, record.partner);
    appendRecord(body, stat);
    return true;
  });
  if (isToday(day, now)) appendPartnerStats(global, body, [](const PartnerRecord&) { return true; });
}

void appendPartnerChanges(const GlobalArea& global, uint32_t since, std::string& body) {
  appendPartnerStats(global, body, [since](const PartnerRecord& entry) { return entry.changeStamp.get() > since; });
}

void appendIpv6Addresses(const GlobalArea& global, uint32_t since, std::string& body) {
  static constexpr uint8_t kNone[sizeof(PartnerRecord::ipv6)] = {};
  PartnerAddressRecord record;
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (!global.nics[i]) continue;
    for (const PartnerRecord& entry : copyPartners(*global.nics[i])) {
      // IPv6 partners are the ones with an address text of colons (not "IPX ...") and no IPv4 address.
      bool ipv6 = std::memchr(entry.protoAddr, ':', sizeof entry.protoAddr) != nullptr &&
                  std::strncmp(entry.protoAddr, "IPX ", 4) != 0;
      if (!ipv6 || entry.changeStamp.get() <= since) continue;
      if (std::memcmp(entry.ipv6, kNone, sizeof kNone) == 0 && std::strncmp(entry.protoAddr, "::", 3) != 0) continue;
      std::memset(&record, 0, sizeof record);
      std::memcpy(record.tag, kPartnerAddressTag, 4);
      record.adapterNumber = static_cast<uint32_t>(i + 1);
      copyBlankPadded(record.station, sizeof record.station, entry.station, sizeof entry.station);
      copyBlankPadded(record.protoAddr, sizeof record.protoAddr, entry.protoAddr, sizeof entry.protoAddr);
      std::memcpy(record.address, entry.ipv6, sizeof record.address);
      appendRecord(body, record);
    }
  }
}

void fillPartnerStat(PartnerStatRecord& out, uint32_t adapterNumber, const PartnerRecord& entry) {
  std::memset(&out, 0, sizeof out);
  std::memcpy(out.tag, kPartnerStatTag, 4);
  out.adapterNumber = adapterNumber;
  copyBlankPadded(out.station, sizeof out.station, entry.station, sizeof entry.station);
  copyBlankPadded(out.protoAddr, sizeof out.protoAddr, entry.protoAddr, sizeof entry.protoAddr);
  copyBlankPadded(out.roleLabel, sizeof out.roleLabel, entry.roleLabel, sizeof entry.roleLabel);
  copyBlankPadded(out.hostName, sizeof out.hostName, entry.hostName, sizeof entry.hostName);
  writeClockText(out.lastSeen, localParts(entry.lastSeen));
  out.bytesSent = entry.bytesSent.get();
  out.framesSent = entry.framesSent.get();
  out.broadcasts = entry.broadcasts.get();
  out.errors = entry.errors.get();
  out.bytesReceived = entry.bytesReceived.get();
  out.framesReceived = entry.framesReceived.get();
}

}  // namespace veltris::agent
