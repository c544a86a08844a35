// Reading replies record by record: the header checks, each tag's size, the
// exact end of the reply, and the consistency of broadcast lists.
#include <gtest/gtest.h>

#include "tools/veltris_cli/reply.h"
#include "tools/veltris_cli/tests/record_bytes.h"

namespace veltris::cli {
namespace {

using testing::concat;
using testing::RecordBytes;
using testing::replyHeader;
using testing::totalsRecord;

ReadOutcome readBytes(const std::vector<uint8_t>& bytes, Reply& reply) {
  BufferSource source(bytes);
  return readReply(source, reply);
}

RecordBytes partnerRecord(const std::string& station) {
  RecordBytes r(124);
  r.text(0, "STAT").u32(4, 1).padded(8, 16, station).padded(24, 28, "IP 10.0.0.5");
  return r;
}

RecordBytes broadcastHeader(uint32_t entries) {
  RecordBytes r(40);
  r.text(0, "BHDR").text(4, "13:45:07").text(16, "13:30:07").u32(28, 5).u32(32, 2).u32(36, entries);
  return r;
}

RecordBytes broadcastEntry() {
  RecordBytes r(244);
  r.text(0, "BENT").u32(4, 1).text(8, "020000000009").text(24, "IP 10.0.0.9").u32(92, 2).u32(96, 5);
  return r;
}

TEST(CliReplyReader, ReadsEveryKnownRecordBySize) {
  RecordBytes hist(12), tpt(40), detl(364), oid(744), txt(4100);
  hist.text(0, "HIST").text(4, "19990415");
  tpt.text(0, "TPT ").u32(4, 143);
  detl.text(0, "DETL").u32(8, 77);
  oid.text(0, "OID ").u32(4, 1);
  txt.text(0, "TXT4").text(4, "hello\r\n");
  Reply reply;
  ReadOutcome outcome = readBytes(concat({replyHeader(), totalsRecord(9), hist, tpt, partnerRecord("A"), detl,
                                          broadcastHeader(1), broadcastEntry(), oid, txt}),
                                  reply);
  ASSERT_EQ(outcome.error, ReplyError::None) << outcome.detail;
  std::vector<std::string> tags;
  for (const Record& r : reply.records) tags.push_back(recordTag(r));
  EXPECT_EQ(tags, (std::vector<std::string>{"TOT ", "HIST", "TPT ", "STAT", "DETL", "BHDR", "BENT", "OID ", "TXT4"}));
  ASSERT_EQ(reply.records.size(), 9u);
  EXPECT_EQ(std::get<PeriodTotalsRecord>(reply.records[2]).slot.get(), 143u);
  EXPECT_EQ(std::get<DetailRecord>(reply.records[4]).sequence.get(), 77u);
  EXPECT_EQ(reply.header.trafficState.get(), 4u);
  uint32_t sequence = 0;
  ASSERT_TRUE(replySequence(reply, sequence));
  EXPECT_EQ(sequence, 9u);
}

TEST(CliReplyReader, AnEmptyBodyIsAWellFormedReply) {
  Reply reply;
  EXPECT_EQ(readBytes(replyHeader().bytes(), reply).error, ReplyError::None);
  EXPECT_TRUE(reply.records.empty());
  uint32_t sequence = 5;
  EXPECT_FALSE(replySequence(reply, sequence));
}

TEST(CliReplyReader, RejectsMissingOrForeignHeaders) {
  Reply reply;
  std::vector<uint8_t> shortHeader(20, 'T');
  EXPECT_EQ(readBytes(shortHeader, reply).error, ReplyError::BadHeader);
  RecordBytes wrongTag = replyHeader();
  wrongTag.text(0, "TOT ");
  EXPECT_EQ(readBytes(wrongTag.bytes(), reply).error, ReplyError::BadHeader);
  ReadOutcome version = readBytes(replyHeader(4, "20010101").bytes(), reply);
  EXPECT_EQ(version.error, ReplyError::BadHeader);
  EXPECT_NE(version.detail.find("\"20010101\""), std::string::npos) << version.detail;
}

TEST(CliReplyReader, FindsRecordsCutShortAndTagsItDoesNotKnow) {
  Reply reply;
  std::vector<uint8_t> cut = concat({replyHeader(), totalsRecord(1)});
  cut.resize(cut.size() - 1);
  ReadOutcome inRecord = readBytes(cut, reply);
  EXPECT_EQ(inRecord.error, ReplyError::Malformed);
  EXPECT_NE(inRecord.detail.find("\"TOT \" record of 100 bytes at byte 32"), std::string::npos) << inRecord.detail;

  std::vector<uint8_t> strayBytes = concat({replyHeader(), totalsRecord(1)});
  strayBytes.insert(strayBytes.end(), {'S', 'T'});
  ReadOutcome inTag = readBytes(strayBytes, reply);
  EXPECT_EQ(inTag.error, ReplyError::Malformed);
  EXPECT_NE(inTag.detail.find("byte 132"), std::string::npos) << inTag.detail;

  RecordBytes unknown(12);
  unknown.text(0, "XYZ\x01");
  ReadOutcome foreign = readBytes(concat({replyHeader(), unknown}), reply);
  EXPECT_EQ(foreign.error, ReplyError::Malformed);
  EXPECT_NE(foreign.detail.find("unknown record tag \"XYZ.\""), std::string::npos) << foreign.detail;
}

TEST(CliReplyReader, BroadcastHeadersMustCountTheirEntries) {
  Reply reply;
  EXPECT_EQ(readBytes(concat({replyHeader(), broadcastHeader(2), broadcastEntry(), broadcastEntry()}), reply).error,
            ReplyError::None);
  EXPECT_EQ(readBytes(concat({replyHeader(), broadcastHeader(0)}), reply).error, ReplyError::None);
  ReadOutcome missing = readBytes(concat({replyHeader(), broadcastHeader(3), broadcastEntry()}), reply);
  EXPECT_EQ(missing.error, ReplyError::Malformed);
  EXPECT_NE(missing.detail.find("announces 3"), std::string::npos) << missing.detail;
  EXPECT_EQ(readBytes(concat({replyHeader(), broadcastEntry()}), reply).error, ReplyError::Malformed);
}

TEST(CliReplyReader, ASnapshotBodyEndsTheRecords) {
  RecordBytes snapshot(40);
  snapshot.text(0, "VSN ").u32(4, 99);  // items follow, not records
  Reply reply;
  ASSERT_EQ(readBytes(concat({replyHeader(), snapshot}), reply).error, ReplyError::None);
  ASSERT_EQ(reply.records.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<SnapshotBody>(reply.records[0]));
}

}  // namespace
}  // namespace veltris::cli
