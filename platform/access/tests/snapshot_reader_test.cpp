// Snapshot files read back: what loads and what does not, the replies a
// snapshot gives to each request word, and capture images from dump items.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/access/snapshot_agent.h"
#include "platform/access/snapshot_pcap.h"

namespace veltris::snapshot {
namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void putText(Bytes& b, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) b.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}
uint32_t get32(const Bytes& b, size_t at) {
  return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 | uint32_t{b.at(at + 3)} << 24;
}
std::string textOf(const Bytes& b, size_t at, size_t width) { return std::string(b.begin() + at, b.begin() + at + width); }

Bytes header(const std::string& time) {
  Bytes b;
  putText(b, "TASK19990415", 12);
  putText(b, "19990415", 8);
  putText(b, time, 8);
  put32(b, 4);
  return b;
}
Bytes totals(uint32_t sequence) {
  Bytes b;
  putText(b, "TOT ", 4);
  put32(b, sequence);
  putText(b, "", 92);
  return b;
}
Bytes record(const char* tag, uint32_t sequence, size_t size) {  // DETL and STAT: the number at offset 8
  Bytes b;
  putText(b, tag, 4);
  put32(b, 1);
  put32(b, sequence);
  putText(b, "", size - 12);
  return b;
}
Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct SnapshotBuilder {
  SnapshotBuilder() { putText(bytes, "VSN ", 4); }
  Bytes bytes;
  SnapshotBuilder& item(const std::string& name, const Bytes& data) {
    put32(bytes, static_cast<uint32_t>(16 + data.size()));
    putText(bytes, name, 16);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
  Bytes end() {
    Bytes b = bytes;
    put32(b, 0);
    return b;
  }
};

// A capture image of two frames, inverted as a dump item holds it.
Bytes dumpOf(uint16_t medium) {
  Bytes image;
  putText(image, "RTSS\1\1", 6);
  put16(image, medium);
  for (uint16_t w : {1999, 4, 2, 15, 12, 0, 5, 0}) put16(image, w);
  put32(image, 128 + 8 + 60 + 8 + 256);
  put32(image, 8);
  image.resize(128, 0);
  put32(image, 0), put16(image, 60), put16(image, 60), image.resize(image.size() + 60, 0xAB);
  put32(image, 2000), put16(image, 1514), put16(image, 256), image.resize(image.size() + 256, 0xCD);
  put32(image, 128), put32(image, 128 + 8 + 60);
  image.resize(image.size() + 8, 0);
  for (uint8_t& b : image) b = static_cast<uint8_t>(~b);
  return image;
}

Bytes sampleSnapshot() {
  return SnapshotBuilder()
      .item("OPEN ", join({header("12:00:05"), totals(900)}))
      .item("TPT 19990415", join({header("12:00:05"), record("TPT ", 5, 40)}))
      .item("TPS 19990415", join({header("12:00:05"), record("STAT", 0, 124), record("STAT", 0, 124)}))
      .item("BCASTERS LOW", join({header("12:00:05"), {'L'}}))
      .item("BCASTERS HIGH", join({header("12:00:05"), {'H'}}))
      .item("BCASTSENT LOW", join({header("12:00:05"), {'l'}}))
      .item("BCASTSENT HIGH", join({header("12:00:05"), {'h'}}))
      .item("ERRORS 0", join({header("12:00:06"), totals(901), record("DETL", 10, 364)}))
      .item("DETAILS 0", join({header("12:00:06"), totals(901), record("DETL", 899, 364), record("DETL", 700, 364),
                               record("DETL", 900, 364)}))
      .item("OID", join({header("12:00:06"), {'O'}}))
      .item("CMD CONFIG", join({header("12:00:06"), {'C'}}))
      .item("CMD IPCONFIG -al", join({header("12:00:07"), {'I'}}))
      .item("DUMP_1", dumpOf(1))
      .end();
}

std::vector<uint32_t> sequencesIn(const Bytes& reply, size_t from, size_t size) {
  std::vector<uint32_t> out;
  for (size_t at = from; at + size <= reply.size(); at += size) out.push_back(get32(reply, at + 8));
  return out;
}

TEST(SnapshotLoad, OnlyWholeSnapshotsWithAnOpenReplyLoad) {
  const Bytes good = sampleSnapshot();
  Bytes noMarker = good;
  noMarker.resize(noMarker.size() - 4);
  Bytes cutItem = good;
  cutItem.resize(200);
  Bytes lengthTooSmall = {'V', 'S', 'N', ' '};
  put32(lengthTooSmall, 15);
  lengthTooSmall.resize(40, 0);
  Bytes hugeLength = {'V', 'S', 'N', ' ', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
  const Bytes shortOpen = SnapshotBuilder().item("OPEN ", {'T', 'A', 'S', 'K'}).end();
  const Bytes noOpen = SnapshotBuilder().item("OID", header("12:00:00")).end();
  // An "OPEN " item whose length (12) is under its name, followed by a reply header:
  // taken as an item it would span 2^64 - 4 bytes.
  Bytes openUnderName = {'V', 'S', 'N', ' '};
  put32(openUnderName, 12);
  putText(openUnderName, "OPEN ", 16);
  openUnderName = join({openUnderName, header("12:00:00"), totals(1)});
  put32(openUnderName, 0);
  Bytes withTrailingJunk = good;
  withTrailingJunk.push_back('x');

  struct Case {
    const char* what;
    Bytes bytes;
    LoadResult expected;
  };
  const std::vector<Case> cases = {
      {"empty", {}, LoadResult::NotASnapshot},
      {"other signature", {'V', 'S', 'N', '!', 0, 0, 0, 0}, LoadResult::NotASnapshot},
      {"signature alone", {'V', 'S', 'N', ' '}, LoadResult::CutShort},
      {"no end marker", noMarker, LoadResult::CutShort},
      {"item cut", cutItem, LoadResult::CutShort},
      {"length under the name", lengthTooSmall, LoadResult::NotASnapshot},
      {"OPEN item with a length under its name", openUnderName, LoadResult::NotASnapshot},
      {"length past the end", hugeLength, LoadResult::CutShort},
      {"OPEN reply without a header", shortOpen, LoadResult::NotASnapshot},
      {"no OPEN reply", noOpen, LoadResult::NotASnapshot},
      {"whole", good, LoadResult::Ok},
      {"bytes behind the end marker", withTrailingJunk, LoadResult::Ok},
  };
  for (const Case& c : cases) {
    SnapshotFile file;
    EXPECT_EQ(file.parse(c.bytes), c.expected) << c.what;
  }

  SnapshotFile file;
  EXPECT_EQ(file.load("/nonexistent/x.VSN"), LoadResult::Unreadable);
  EXPECT_EQ(file.load("/tmp"), LoadResult::Unreadable);
  const std::string path = "/tmp/snapshot_reader_test_" + std::to_string(::getpid()) + ".VSN";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(good.data()), static_cast<long>(good.size()));
  EXPECT_EQ(file.load(path), LoadResult::Ok);
  std::filesystem::remove(path);
  EXPECT_EQ(file.items().size(), 13u);
  EXPECT_EQ(file.items()[12].dumpAdapter(), 1);
  EXPECT_EQ(file.items()[0].dumpAdapter(), 0);
}

class SnapshotAnswers : public ::testing::Test {
 protected:
  SnapshotAnswers() : agent_(loaded()) {}

  static SnapshotFile loaded() {
    SnapshotFile file;
    EXPECT_EQ(file.parse(sampleSnapshot()), LoadResult::Ok);
    return file;
  }

  int32_t ask(const std::string& text) {
    uint8_t request[256] = {};
    std::memcpy(request, text.data(), text.size());
    return agent_.answer(request, reply);
  }

  SnapshotAgent agent_;
  Bytes reply;
};

TEST_F(SnapshotAnswers, StoredRepliesForTheWordsTheSnapshotHolds) {
  struct Case {
    std::string request;
    uint8_t lastByte;
  };
  for (const Case& c : std::vector<Case>{{"BCASTERS LOW", 'L'},
                                         {"BCASTERS HIGH", 'H'},
                                         {"BCASTERS", 'H'},
                                         {"BCASTSENT LOW", 'l'},
                                         {"BCASTSENT HIGH", 'h'},
                                         {"BCASTSENT", 'h'},
                                         {"OID", 'O'},
                                         {"CMD CONFIG", 'C'},
                                         {"CMD config", 'C'},
                                         {"CMD IPCONFIG -all", 'I'}}) {
    ASSERT_EQ(ask(c.request), 0) << c.request;
    EXPECT_EQ(reply.size(), 33u) << c.request;
    EXPECT_EQ(reply.back(), c.lastByte) << c.request;
  }
  ASSERT_EQ(ask("OPEN anything"), 0);
  EXPECT_EQ(reply.size(), 132u);
  EXPECT_EQ(ask("CMD NETSTAT -n"), kNoStoredReply);
  EXPECT_EQ(ask("CMD VELTRISV STOP"), kNoStoredReply);
  EXPECT_EQ(ask("CFG "), kNoStoredReply);
}

TEST_F(SnapshotAnswers, BuiltRepliesAsTheAgentWouldHaveGivenThem) {
  ASSERT_EQ(ask("TOTAL"), 0);
  EXPECT_EQ(textOf(reply, 20, 8), "12:00:05");
  EXPECT_EQ(reply.size(), 132u);
  EXPECT_EQ(get32(reply, 36), 900u);

  ASSERT_EQ(ask("UNKNOWN WORD"), 0);
  EXPECT_EQ(reply.size(), 132u);

  ASSERT_EQ(ask("STATS_PRO 0"), 0);
  EXPECT_EQ(reply.size(), 132u + 2 * 124);
  EXPECT_EQ(textOf(reply, 132, 4), "STAT");
  ASSERT_EQ(ask("STATS_PRO  899"), 0);
  EXPECT_EQ(reply.size(), 132u + 2 * 124);
  ASSERT_EQ(ask("STATS_PRO  900"), 0);
  EXPECT_EQ(reply.size(), 132u);

  ASSERT_EQ(ask("DETAILS 0"), 0);
  EXPECT_EQ(textOf(reply, 20, 8), "12:00:06");
  EXPECT_EQ(sequencesIn(reply, 132, 364), (std::vector<uint32_t>{899, 700, 900}));
  ASSERT_EQ(ask("DETAILS 800"), 0);
  EXPECT_EQ(sequencesIn(reply, 132, 364), (std::vector<uint32_t>{899, 900}));
  ASSERT_EQ(ask("DETAILS -1"), 0);
  EXPECT_EQ(reply.size(), 132u);
  ASSERT_EQ(ask("ERRORS 9"), 0);
  EXPECT_EQ(sequencesIn(reply, 132, 364), (std::vector<uint32_t>{10}));

  ASSERT_EQ(ask("HISTORY_LIST"), 0);
  EXPECT_EQ(reply.size(), 144u);
  EXPECT_EQ(textOf(reply, 132, 12), "HIST19990415");

  ASSERT_EQ(ask("TPT 19990415"), 0);
  EXPECT_EQ(reply.size(), 72u);
  ASSERT_EQ(ask("TPS 19990415 900"), 0);  // the console's history poll adds a number
  EXPECT_EQ(reply.size(), 32u + 2 * 124);
  for (const char* otherDay : {"TPT 19990414", "TPS 19990414", "TPS 1999"}) {
    ASSERT_EQ(ask(otherDay), 0);
    EXPECT_EQ(reply.size(), 32u) << otherDay;
  }

  ASSERT_EQ(ask("SNAPSHOT"), 0);
  const Bytes file = sampleSnapshot();
  ASSERT_EQ(reply.size(), 32u + file.size());
  EXPECT_TRUE(std::equal(file.begin(), file.end(), reply.begin() + 32));
  ASSERT_EQ(ask("SNAPSHOT /tmp/x.VSN"), 0);
  EXPECT_EQ(reply.size(), 132u);
}

TEST(CaptureImages, FramesOfADumpAndDamageFound) {
  const Bytes dump = dumpOf(2);
  CaptureImage image;
  std::string problem;
  ASSERT_TRUE(readCaptureImage(dump, image, problem)) << problem;
  EXPECT_EQ(image.medium, 2);
  EXPECT_EQ(image.start[0], 1999);
  EXPECT_EQ(image.start[6], 5);
  ASSERT_EQ(image.frames.size(), 2u);
  EXPECT_EQ(image.frames[0].frameLength, 60);
  EXPECT_EQ(image.frames[0].data.size(), 60u);
  EXPECT_EQ(image.frames[0].data[0], 0xAB);
  EXPECT_EQ(image.frames[1].milliseconds, 2000u);
  EXPECT_EQ(image.frames[1].frameLength, 1514);
  EXPECT_EQ(image.frames[1].data.size(), 256u);

  struct Damage {
    const char* what;
    size_t offset;  // in the image, before inversion
    uint8_t value;
    const char* problem;
  };
  const size_t table = 128 + 8 + 60 + 8 + 256;
  for (const Damage& d : std::vector<Damage>{
           {"tag", 0, 'X', "not a capture image (no RTSS header)"},
           {"table offset", 27, 0x7F, "the frame table lies outside the image"},
           {"table length", 28, 9, "the frame table lies outside the image"},
           {"frame offset", table + 4 + 3, 0x10, "frame 2 lies outside the image"},
           {"stored length", 128 + 8 + 60 + 6, 0xFF, "frame 2 runs past the image"},
       }) {
    Bytes damaged = dump;
    damaged.at(d.offset) = static_cast<uint8_t>(~d.value);
    EXPECT_FALSE(readCaptureImage(damaged, image, problem)) << d.what;
    EXPECT_EQ(problem, d.problem) << d.what;
  }
  EXPECT_FALSE(readCaptureImage(Bytes(100, 0), image, problem));
}

// An image (inverted as stored) of frame records given as (wire, stored, bytes
// present) and a table of the given record indexes; -1 in the table points at
// the table itself, -2 into the bytes of the first record.
Bytes imageOf(const std::vector<std::array<uint32_t, 3>>& records, const std::vector<int>& table) {
  Bytes image;
  putText(image, "RTSS\1\1", 6);
  put16(image, 1);
  for (uint16_t w : {1999, 4, 2, 15, 12, 0, 5, 0}) put16(image, w);
  image.resize(128, 0);
  std::vector<uint32_t> offsets;
  for (const auto& [wire, stored, present] : records) {
    offsets.push_back(static_cast<uint32_t>(image.size()));
    put32(image, 0), put16(image, static_cast<uint16_t>(wire)), put16(image, static_cast<uint16_t>(stored));
    image.resize(image.size() + present, 0x42);
  }
  const auto tableOffset = static_cast<uint32_t>(image.size());
  for (int index : table)
    put32(image, index == -1 ? tableOffset : index == -2 ? offsets.at(0) + 8 : offsets.at(static_cast<size_t>(index)));
  image.resize(image.size() + 8, 0);
  std::memcpy(image.data() + 24, &tableOffset, 4);
  const auto tableLength = static_cast<uint32_t>(4 * table.size());
  std::memcpy(image.data() + 28, &tableLength, 4);
  for (uint8_t& b : image) b = static_cast<uint8_t>(~b);
  return image;
}

TEST(CaptureImages, FramesThatRepeatOverlapOrStoreTooMuchAreDamage) {
  struct Case {
    const char* what;
    std::vector<std::array<uint32_t, 3>> records;
    std::vector<int> table;
    const char* problem;  // nullptr: whole
    size_t framesRead;
  };
  const std::vector<Case> cases = {
      {"in order", {{60, 60, 60}, {1514, 256, 256}}, {0, 1}, nullptr, 2},
      {"one record for every entry", {{1514, 256, 256}}, {0, 0, 0, 0}, "frame 2 overlaps or repeats an earlier frame", 1},
      {"entries backwards", {{60, 60, 60}, {60, 60, 60}}, {1, 0}, "frame 2 overlaps or repeats an earlier frame", 1},
      {"record inside the one before", {{1514, 256, 256}}, {0, -2}, "frame 2 overlaps or repeats an earlier frame", 1},
      {"stored above 256", {{65535, 65535, 65535}}, {0}, "frame 1 stores 65535 bytes (at most 256)", 0},
      {"stored above the wire length", {{20, 60, 60}}, {0}, "frame 1 stores 60 bytes (at most 20)", 0},
      {"record on the table", {{60, 0, 0}}, {0, -1}, "frame 2 overlaps the frame table", 1},
  };
  for (const Case& c : cases) {
    CaptureImage image;
    std::string problem;
    const bool whole = readCaptureImage(imageOf(c.records, c.table), image, problem);
    EXPECT_EQ(whole, c.problem == nullptr) << c.what;
    if (c.problem != nullptr) {
      EXPECT_EQ(problem, c.problem) << c.what;
    }
    EXPECT_EQ(image.frames.size(), c.framesRead) << c.what;
  }
}

// A dump of 105 KB whose 26,000 table entries all name one 256-byte frame
// gives one frame, so its pcap stays within a frame's worth of bytes.
TEST(CaptureImages, ATableBombGivesUpOneFrameAndABoundedPcap) {
  const Bytes bomb = imageOf({{1514, 256, 256}}, std::vector<int>(26000, 0));
  ASSERT_GT(bomb.size(), 100000u);
  CaptureImage image;
  std::string problem;
  EXPECT_FALSE(readCaptureImage(bomb, image, problem));
  ASSERT_EQ(image.frames.size(), 1u);
  std::ostringstream pcap;
  ASSERT_TRUE(writePcap(image, pcap));
  EXPECT_EQ(pcap.str().size(), pcapSizeLimit(1));
}

}  // namespace
}  // namespace veltris::snapshot
