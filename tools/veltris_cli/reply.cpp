#include "tools/veltris_cli/reply.h"

#include <array>
#include <cstring>

#include "common/records.h"
#include "platform/access/veltris.h"
#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {
namespace {

constexpr size_t kTagSize = 4;
constexpr char kSnapshotTag[kTagSize] = {'V', 'S', 'N', ' '};

template <typename T>
bool readRecordBytes(RecordSource& source, const char* tag, T& record) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, tag, kTagSize);
  if (!source.read(bytes + kTagSize, sizeof(T) - kTagSize)) return false;
  std::memcpy(&record, bytes, sizeof(T));
  return true;
}

template <typename T>
bool readPlain(RecordSource& source, const char* tag, Record& out) {
  T record;
  if (!readRecordBytes(source, tag, record)) return false;
  out = record;
  return true;
}

template <typename T>
bool readShared(RecordSource& source, const char* tag, Record& out) {
  auto record = std::make_shared<T>();
  if (!readRecordBytes(source, tag, *record)) return false;
  out = std::shared_ptr<const T>(std::move(record));
  return true;
}

struct RecordKind {
  const char* tag;
  size_t size;
  bool (*read)(RecordSource&, const char*, Record&);
};

constexpr std::array<RecordKind, 10> kRecordKinds = {{
    {kTotalsTag, sizeof(TotalsRecord), readPlain<TotalsRecord>},
    {kHistoryDayTag, sizeof(HistoryDayRecord), readPlain<HistoryDayRecord>},
    {kPeriodTotalsTag, sizeof(PeriodTotalsRecord), readPlain<PeriodTotalsRecord>},
    {kPartnerStatTag, sizeof(PartnerStatRecord), readPlain<PartnerStatRecord>},
    {kPartnerAddressTag, sizeof(PartnerAddressRecord), readPlain<PartnerAddressRecord>},
    {kDetailTag, sizeof(DetailRecord), readPlain<DetailRecord>},
    {kBroadcastHeaderTag, sizeof(BroadcastHeaderRecord), readPlain<BroadcastHeaderRecord>},
    {kBroadcastEntryTag, sizeof(BroadcastEntryRecord), readPlain<BroadcastEntryRecord>},
    {"OID ", sizeof(AdapterStatusRecord), readShared<AdapterStatusRecord>},
    {kTextReplyTag, sizeof(TextReply), readShared<TextReply>},
}};

const RecordKind* kindOf(const char* tag) {
  for (const RecordKind& kind : kRecordKinds) {
    if (std::memcmp(kind.tag, tag, kTagSize) == 0) return &kind;
  }
  return nullptr;
}

enum class TagRead { Tag, End, Cut };

// One byte at a time, so that the end of the reply is found exactly.
TagRead readTag(RecordSource& source, char* tag) {
  for (size_t i = 0; i < kTagSize; ++i) {
    if (!source.read(tag + i, 1)) return i == 0 ? TagRead::End : TagRead::Cut;
  }
  return TagRead::Tag;
}

ReadOutcome malformed(std::string detail) { return {ReplyError::Malformed, std::move(detail)}; }

std::string quotedTag(const char* tag) { return "\"" + displayText(std::string_view(tag, kTagSize)) + "\""; }

ReadOutcome readHeader(RecordSource& source, ReplyHeader& header) {
  if (!source.read(&header, sizeof header)) {
    return {ReplyError::BadHeader, "the reply is shorter than its 32-byte header"};
  }
  if (std::memcmp(header.tag, kReplyHeaderTag, kTagSize) != 0) {
    return {ReplyError::BadHeader, "the reply begins with " + quotedTag(header.tag) + ", not \"TASK\""};
  }
  if (std::memcmp(header.version, kVersionStamp, sizeof header.version) != 0) {
    return {ReplyError::BadHeader, "the agent's version stamp is \"" + displayText(rawText(header.version)) +
                                       "\", this client's is \"" + kVersionStamp + "\""};
  }
  return {};
}

// Each "BHDR" announces how many "BENT" records follow it; nothing else may hold them.
ReadOutcome checkBroadcastGroups(const std::vector<Record>& records) {
  for (size_t i = 0; i < records.size(); ++i) {
    if (std::holds_alternative<BroadcastEntryRecord>(records[i])) {
      return malformed("a \"BENT\" record without a \"BHDR\" header (record " + std::to_string(i + 1) + ")");
    }
    const auto* header = std::get_if<BroadcastHeaderRecord>(&records[i]);
    if (header == nullptr) continue;
    size_t entries = 0;
    while (i + 1 < records.size() && std::holds_alternative<BroadcastEntryRecord>(records[i + 1])) {
      ++entries;
      ++i;
    }
    if (entries != header->entryCount.get()) {
      return malformed("the \"BHDR\" header announces " + std::to_string(header->entryCount.get()) +
                       " \"BENT\" records, " + std::to_string(entries) + " follow");
    }
  }
  return {};
}

}  // namespace

bool BufferSource::read(void* out, size_t size) {
  if (bytes_.size() - cursor_ < size) {
    std::memset(out, 0, size);
    cursor_ = bytes_.size();
    return false;
  }
  std::memcpy(out, bytes_.data() + cursor_, size);
  cursor_ += size;
  return true;
}

bool LibrarySource::read(void* out, size_t size) { return TapsorRpcRead(out, static_cast<int32_t>(size)) == 0; }

ReadOutcome readReply(RecordSource& source, Reply& reply) {
  reply = Reply{};
  if (ReadOutcome header = readHeader(source, reply.header); header.error != ReplyError::None) return header;
  size_t offset = sizeof(ReplyHeader);
  char tag[kTagSize];
  for (;;) {
    TagRead tagRead = readTag(source, tag);
    if (tagRead == TagRead::End) break;
    if (tagRead == TagRead::Cut)
      return malformed("the reply ends inside a record tag at byte " + std::to_string(offset));
    if (std::memcmp(tag, kSnapshotTag, kTagSize) == 0) {
      reply.records.emplace_back(SnapshotBody{});
      return {};  // the rest is a snapshot file
    }
    const RecordKind* kind = kindOf(tag);
    if (kind == nullptr) {
      return malformed("unknown record tag " + quotedTag(tag) + " at byte " + std::to_string(offset));
    }
    Record record;
    if (!kind->read(source, tag, record)) {
      return malformed("the reply ends inside a " + quotedTag(tag) + " record of " + std::to_string(kind->size) +
                       " bytes at byte " + std::to_string(offset));
    }
    reply.records.push_back(std::move(record));
    offset += kind->size;
  }
  return checkBroadcastGroups(reply.records);
}

std::string recordTag(const Record& record) {
  struct TagOf {
    std::string operator()(const TotalsRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const HistoryDayRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const PeriodTotalsRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const PartnerStatRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const PartnerAddressRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const DetailRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const BroadcastHeaderRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const BroadcastEntryRecord& r) const { return rawTag(r.tag); }
    std::string operator()(const std::shared_ptr<const AdapterStatusRecord>& r) const { return rawTag(r->tag); }
    std::string operator()(const std::shared_ptr<const TextReply>& r) const { return rawTag(r->tag); }
    std::string operator()(const SnapshotBody&) const { return std::string(kSnapshotTag, kTagSize); }
    static std::string rawTag(const char* tag) { return std::string(tag, kTagSize); }
  };
  return std::visit(TagOf{}, record);
}

bool replySequence(const Reply& reply, uint32_t& sequence) {
  for (const Record& record : reply.records) {
    if (const auto* totals = std::get_if<TotalsRecord>(&record)) {
      sequence = totals->sequence.get();
      return true;
    }
  }
  return false;
}

}  // namespace veltris::cli
