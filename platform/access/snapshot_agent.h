#pragma once
// A snapshot answering requests as its agent would have at the moment it was
// taken: the stored replies for the words it holds, and for the others a reply
// built from the stored items ("TOTAL", "STATS_PRO n", "HISTORY_LIST", "TPT" and
// "TPS" of the snapshot's day, "DETAILS n" and "ERRORS n" filtered by sequence
// number). Words are recognised over the same fixed widths as by the agent.
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/access/snapshot_file.h"

namespace veltris::snapshot {

// The snapshot holds no reply to the request (a "CMD" it did not store, "CFG ").
constexpr int32_t kNoStoredReply = -6;

class SnapshotAgent {
 public:
  explicit SnapshotAgent(SnapshotFile file);

  // `request`: the 256 bytes as they would go to the agent (zero behind the
  // text). 0 with the whole reply, header first; kNoStoredReply otherwise.
  int32_t answer(const uint8_t (&request)[256], std::vector<uint8_t>& reply) const;

  const SnapshotFile& file() const { return file_; }

 private:
  using Bytes = std::vector<uint8_t>;

  std::span<const uint8_t> openHeader() const;
  std::span<const uint8_t> openTotals() const;  // empty when the "OPEN " reply has none
  void headerAndTotals(Bytes& reply) const;
  int32_t stored(std::string_view name, Bytes& reply) const;
  int32_t command(const uint8_t (&request)[256], Bytes& reply) const;
  int32_t dayReply(const uint8_t (&request)[256], std::string_view word, Bytes& reply) const;
  int32_t newerRecords(std::string_view name, uint32_t since, Bytes& reply) const;
  int32_t partnersChanged(uint32_t since, Bytes& reply) const;
  void historyList(Bytes& reply) const;

  SnapshotFile file_;
  std::string day_;  // "%04d%02d%02d" of the stored "TPT " item, empty without one
};

}  // namespace veltris::snapshot
