#include "platform/access/snapshot_agent.h"

#include <cctype>
#include <cstring>

#include "common/detail_record.h"
#include "common/reply_records.h"

namespace veltris::snapshot {
namespace {

constexpr size_t kHeaderSize = sizeof(ReplyHeader);
constexpr size_t kTotalsSize = sizeof(TotalsRecord);
constexpr size_t kRequestBytes = 256;
constexpr size_t kDayOffset = 4;
constexpr size_t kDayLength = 8;

using Request = uint8_t[kRequestBytes];

uint8_t at(const Request& request, size_t offset) { return offset < kRequestBytes ? request[offset] : 0; }

// `width` bytes at `offset` equal `word` and then zero bytes.
bool matches(const Request& request, size_t offset, std::string_view word, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    const uint8_t expected = i < word.size() ? static_cast<uint8_t>(word[i]) : 0;
    if (at(request, offset + i) != expected) return false;
  }
  return true;
}

// A signed decimal number after optional blanks, taken modulo 2^32, as the agent reads it.
uint32_t number(const Request& request, size_t offset) {
  size_t i = offset;
  while (at(request, i) == ' ' || at(request, i) == '\t') ++i;
  const bool negative = at(request, i) == '-';
  if (at(request, i) == '-' || at(request, i) == '+') ++i;
  uint32_t value = 0;
  for (; std::isdigit(at(request, i)); ++i) value = value * 10 + static_cast<uint32_t>(at(request, i) - '0');
  return negative ? 0u - value : value;
}

uint32_t le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

bool hasTag(std::span<const uint8_t> bytes, size_t offset, const char (&tag)[4], size_t recordSize) {
  return offset <= bytes.size() && bytes.size() - offset >= recordSize && std::memcmp(bytes.data() + offset, tag, 4) == 0;
}

void append(std::vector<uint8_t>& reply, std::span<const uint8_t> bytes) { reply.insert(reply.end(), bytes.begin(), bytes.end()); }

}  // namespace

SnapshotAgent::SnapshotAgent(SnapshotFile file) : file_(std::move(file)) {
  for (const Item& item : file_.items()) {
    const std::string name = item.nameText();
    if (name.size() == kDayOffset + kDayLength && name.compare(0, kDayOffset, "TPT ") == 0) {
      day_ = name.substr(kDayOffset);
      break;
    }
  }
}

std::span<const uint8_t> SnapshotAgent::openHeader() const {
  return file_.find("OPEN ")->data.first(kHeaderSize);  // the load made sure it is there
}

std::span<const uint8_t> SnapshotAgent::openTotals() const {
  std::span<const uint8_t> data = file_.find("OPEN ")->data;
  if (!hasTag(data, kHeaderSize, kTotalsTag, kTotalsSize)) return {};
  return data.subspan(kHeaderSize, kTotalsSize);
}

void SnapshotAgent::headerAndTotals(Bytes& reply) const {
  reply.clear();
  append(reply, openHeader());
  append(reply, openTotals());
}

int32_t SnapshotAgent::stored(std::string_view name, Bytes& reply) const {
  const Item* item = file_.find(name);
  if (item == nullptr) return kNoStoredReply;
  reply.assign(item->data.begin(), item->data.end());
  return 0;
}

// "CMD " exact, the command behind it ignoring case, as the agent compares them.
int32_t SnapshotAgent::command(const Request& request, Bytes& reply) const {
  for (const Item& item : file_.items()) {
    if (std::memcmp(item.name.data(), "CMD ", 4) != 0) continue;
    bool same = true;
    for (size_t i = 4; i < item.name.size() && same; ++i) {
      same = std::toupper(static_cast<uint8_t>(item.name[i])) == std::toupper(request[i]);
    }
    if (same) {
      reply.assign(item.data.begin(), item.data.end());
      return 0;
    }
  }
  return kNoStoredReply;
}

// "TPT " and "TPS ": the stored reply for the snapshot's day; any other day had
// no records the snapshot could know of.
int32_t SnapshotAgent::dayReply(const Request& request, std::string_view word, Bytes& reply) const {
  const std::string name = std::string(word) + day_;
  if (!day_.empty() && std::memcmp(request + kDayOffset, day_.data(), kDayLength) == 0) {
    if (stored(name, reply) == 0) return 0;
  }
  const Item* item = file_.find(name);
  reply.clear();
  append(reply, item != nullptr && item->data.size() >= kHeaderSize ? item->data.first(kHeaderSize) : openHeader());
  return 0;
}

// The stored "DETAILS 0" or "ERRORS 0" reply, with only the records newer than `since`.
int32_t SnapshotAgent::newerRecords(std::string_view name, uint32_t since, Bytes& reply) const {
  const Item* item = file_.find(name);
  if (item == nullptr || item->data.size() < kHeaderSize) return kNoStoredReply;
  std::span<const uint8_t> data = item->data;
  reply.assign(data.begin(), data.begin() + kHeaderSize);
  size_t offset = kHeaderSize;
  if (hasTag(data, offset, kTotalsTag, kTotalsSize)) {
    append(reply, data.subspan(offset, kTotalsSize));
    offset += kTotalsSize;
  }
  for (; hasTag(data, offset, kDetailTag, sizeof(DetailRecord)); offset += sizeof(DetailRecord)) {
    const uint32_t sequence = le32(data.data() + offset + offsetof(DetailRecord, sequence));
    if (sequence > since) append(reply, data.subspan(offset, sizeof(DetailRecord)));
  }
  return 0;
}

// Partner records carry no change stamp: every partner of the snapshot's day
// is newer than a number below the snapshot's packet sequence number, none
// is newer than that number itself.
int32_t SnapshotAgent::partnersChanged(uint32_t since, Bytes& reply) const {
  headerAndTotals(reply);
  std::span<const uint8_t> totals = openTotals();
  if (totals.empty() || since >= le32(totals.data() + offsetof(TotalsRecord, sequence)) || day_.empty()) return 0;
  const Item* partners = file_.find("TPS " + day_);
  if (partners == nullptr) return 0;
  std::span<const uint8_t> data = partners->data;
  for (size_t offset = kHeaderSize; hasTag(data, offset, kPartnerStatTag, sizeof(PartnerStatRecord));
       offset += sizeof(PartnerStatRecord)) {
    append(reply, data.subspan(offset, sizeof(PartnerStatRecord)));
  }
  return 0;
}

void SnapshotAgent::historyList(Bytes& reply) const {
  headerAndTotals(reply);
  if (day_.empty()) return;
  HistoryDayRecord record;
  std::memcpy(record.tag, kHistoryDayTag, 4);
  std::memcpy(record.day, day_.data(), kDayLength);
  append(reply, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&record), sizeof record));
}

int32_t SnapshotAgent::answer(const Request& request, Bytes& reply) const {
  reply.clear();
  if (matches(request, 0, "TOTAL", 5)) {
    headerAndTotals(reply);
    return 0;
  }
  if (matches(request, 0, "OPEN", 4)) return stored("OPEN ", reply);
  if (matches(request, 0, "SNAPSHOT", 8)) {
    headerAndTotals(reply);
    if (request[9] != 0) return 0;  // the agent wrote a file of its own; nothing to write here
    reply.resize(kHeaderSize);
    append(reply, file_.bytes());
    return 0;
  }
  if (matches(request, 0, "CMD ", 4)) return command(request, reply);
  if (matches(request, 0, "CFG ", 4)) return kNoStoredReply;
  if (matches(request, 0, "HISTORY_LIST", 12)) {
    historyList(reply);
    return 0;
  }
  if (matches(request, 0, "TPT ", 4)) return dayReply(request, "TPT ", reply);
  if (matches(request, 0, "TPS ", 4)) return dayReply(request, "TPS ", reply);
  if (matches(request, 0, "DETAILS", 7)) return newerRecords("DETAILS 0", number(request, 7), reply);
  if (matches(request, 0, "ERRORS", 6)) return newerRecords("ERRORS 0", number(request, 7), reply);
  if (matches(request, 0, "STATS_PRO", 9)) return partnersChanged(number(request, 9), reply);
  if (matches(request, 0, "OID", 3)) return stored("OID", reply);
  if (matches(request, 0, "BCASTSENT", 9)) {
    return stored(matches(request, 10, "LOW", 3) ? "BCASTSENT LOW" : "BCASTSENT HIGH", reply);
  }
  if (matches(request, 0, "BCASTERS", 8)) {
    return stored(matches(request, 9, "LOW", 3) ? "BCASTERS LOW" : "BCASTERS HIGH", reply);
  }
  headerAndTotals(reply);  // an unknown word: the totals record alone
  return 0;
}

}  // namespace veltris::snapshot
