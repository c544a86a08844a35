#pragma once
// A reply of the agent as the client reads it: the 32-byte "TASK" header and
// the records behind it, each recognised by its 4-character tag.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "common/adapter_status_record.h"
#include "common/broadcast_records.h"
#include "common/detail_record.h"
#include "common/reply_records.h"

namespace veltris::cli {

// A "VSN " body: everything behind the tag is a snapshot file, not records.
struct SnapshotBody {};

// The two large records are held by pointer so that a list of small ones stays small.
using Record = std::variant<TotalsRecord, HistoryDayRecord, PeriodTotalsRecord, PartnerStatRecord, DetailRecord,
                            BroadcastHeaderRecord, BroadcastEntryRecord, std::shared_ptr<const AdapterStatusRecord>,
                            std::shared_ptr<const TextReply>, SnapshotBody, PartnerAddressRecord>;

struct Reply {
  ReplyHeader header{};
  std::vector<Record> records;
};

// Where reply bytes come from: the access library, or a buffer in tests.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Fills `size` bytes and returns true, or returns false when fewer are left.
  virtual bool read(void* out, size_t size) = 0;
};

class BufferSource : public RecordSource {
 public:
  explicit BufferSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool read(void* out, size_t size) override;

 private:
  std::span<const uint8_t> bytes_;
  size_t cursor_ = 0;
};

// The access library's buffered reply (TapsorRpcRead).
class LibrarySource : public RecordSource {
 public:
  bool read(void* out, size_t size) override;
};

enum class ReplyError {
  None,
  BadHeader,  // missing header, wrong tag or wrong version stamp
  Malformed,  // unknown tag, a record cut short, inconsistent counts
};

struct ReadOutcome {
  ReplyError error = ReplyError::None;
  std::string detail;  // what was wrong, for the message
};

// Reads the header and every record to the end of the reply.
ReadOutcome readReply(RecordSource& source, Reply& reply);

// The tag of a record as it stands in the reply ("TOT ", "STAT", ...).
std::string recordTag(const Record& record);

// The totals record's packet sequence number, when the reply has one.
bool replySequence(const Reply& reply, uint32_t& sequence);

}  // namespace veltris::cli
