// Station name table, DNS name cache and harvest, role texts.
#include "agent/core/names.h"

#include <gtest/gtest.h>

#include <array>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/frame_builder.h"

namespace veltris::agent {
namespace {

using namespace testing;

std::string stationText(int n) {
  char s[17];
  std::snprintf(s, sizeof s, "0200000%05X", n);
  return s;
}

class StationNames : public ::testing::Test {
 protected:
  std::unique_ptr<NicArea> nic = std::make_unique<NicArea>();
  static constexpr uint32_t kNow = 1'000'000'000;

  std::string lookup(const std::string& station, const char* protoAddr = "NetBEUI") {
    char out[33];
    std::memset(out, 'x', sizeof out);
    lookupStationName(*nic, station.c_str(), protoAddr, out, sizeof out);
    return std::string(out, strnlen(out, sizeof out));
  }
  void fill(uint32_t time) {
    for (int i = 0; i < kStationNameCount; ++i)
      updateStationName(*nic, stationText(i).c_str(), "NetBEUI", ("NAME" + std::to_string(i)).c_str(), time);
  }
};

TEST_F(StationNames, UpdateAndLookup) {
  updateStationName(*nic, "020000000001", "NetBEUI", "ALPHA", kNow);
  updateStationName(*nic, "020000000001", "IP 10.0.0.1", "BETA", kNow);
  EXPECT_EQ(lookup("020000000001"), "ALPHA");
  EXPECT_EQ(lookup("020000000001", "IP 10.0.0.1"), "BETA");
  EXPECT_EQ(lookup("020000000002"), "");

  updateStationName(*nic, "020000000001", "NetBEUI", "GAMMA", kNow + 1);
  EXPECT_EQ(lookup("020000000001"), "GAMMA");
  EXPECT_EQ(nic->stationNames[2].time, 0u);
}

TEST_F(StationNames, NameIsCutAtThirtyTwoAndCopyAtSize) {
  updateStationName(*nic, "020000000001", "NetBEUI", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", kNow);
  EXPECT_EQ(lookup("020000000001"), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
  char small[4];
  lookupStationName(*nic, "020000000001", "NetBEUI", small, sizeof small);
  EXPECT_EQ(std::string(small, 4), "ABCD");
  char missing[8];
  std::memset(missing, 'x', sizeof missing);
  lookupStationName(*nic, "02", "NetBEUI", missing, sizeof missing);
  for (char c : missing) EXPECT_EQ(c, 0);
}

TEST_F(StationNames, FullTableWithinOneSecondStillTakesTheUpdate) {
  fill(kNow);
  updateStationName(*nic, "02AAAAAAAAAA", "NetBEUI", "NEWCOMER", kNow);
  EXPECT_EQ(lookup("02AAAAAAAAAA"), "NEWCOMER");
  int gone = 0;
  for (int i = 0; i < kStationNameCount; ++i) gone += lookup(stationText(i)).empty();
  EXPECT_EQ(gone, 1);
}

TEST_F(StationNames, ReplacesTheOldestEntryBeforeNow) {
  fill(kNow);
  nic->stationNames[57].time = kNow - 10;
  nic->stationNames[100].time = kNow - 5;
  updateStationName(*nic, "02AAAAAAAAAA", "NetBEUI", "NEWCOMER", kNow);
  EXPECT_STREQ(nic->stationNames[57].station, "02AAAAAAAAAA");
  EXPECT_STREQ(nic->stationNames[100].name, "NAME100");
}

class DnsCache : public ::testing::Test {
 protected:
  std::unique_ptr<NicArea> nic = std::make_unique<NicArea>();

  void harvest(const Bytes& message) { harvestDnsReply(*nic, FrameView(message.data(), message.size())); }
  std::string lookup(const Ip4& address) {
    char out[33];
    lookupDnsName(*nic, address.data(), out, sizeof out);
    return std::string(out, strnlen(out, sizeof out));
  }
};

TEST_F(DnsCache, AnswerThroughPointerToQuestion) {
  harvest(dnsReplyA(7, "host.example.org", {192, 0, 2, 1}));
  EXPECT_EQ(nic->dnsCount, 1u);
  EXPECT_EQ(lookup({192, 0, 2, 1}), "host.example.org");
  EXPECT_EQ(lookup({192, 0, 2, 2}), "");
}

TEST_F(DnsCache, AaaaAnswersNameIpv6AddressesApart) {
  const std::array<uint8_t, 16> server = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80};
  harvest(dnsReplyAaaa(3, "www.example.org", server));
  harvest(dnsReplyA(4, "v4.example.org", {192, 0, 2, 1}));
  EXPECT_EQ(nic->ipv6DnsCount, 1u);
  EXPECT_EQ(nic->dnsCount, 1u);
  char out[33];
  lookupIpv6DnsName(*nic, server.data(), out, sizeof out);
  EXPECT_STREQ(out, "www.example.org");
  // An IPv4 address equal to the IPv6 address's first bytes is not named by it.
  EXPECT_EQ(lookup({0x20, 0x01, 0x0d, 0xb8}), "");
  std::array<uint8_t, 16> other = server;
  other[15] = 0x81;
  lookupIpv6DnsName(*nic, other.data(), out, sizeof out);
  EXPECT_STREQ(out, "");

  // A AAAA record whose 16 bytes run past the examined 214 bytes is not taken.
  std::string longName(180, 'x');
  for (size_t i = 60; i < longName.size(); i += 61) longName[i] = '.';
  harvest(dnsReplyAaaa(5, longName, other));
  EXPECT_EQ(nic->ipv6DnsCount, 1u);
}

TEST_F(DnsCache, LongNameKeepsLeadingLabelsWithinThirtyTwo) {
  const char* name = "abcdefghij.klmnopqrst.uvwxyzabcd.efghijk";  // 40 characters
  ASSERT_EQ(std::strlen(name), 40u);
  harvest(dnsReplyA(7, name, {192, 0, 2, 9}));
  EXPECT_EQ(lookup({192, 0, 2, 9}), "abcdefghij.klmnopqrst.uvwxyzabcd");
}

TEST_F(DnsCache, AnswerNameAsLabelsAndSkippedRecords) {
  Bytes m = FrameBuilder()
                .be16(1).be16(0x8180).be16(1).be16(2).be16(0).be16(0)
                .bytes(dnsName("a.example")).be16(1).be16(1)
                .be16(0xC00C).be16(5).be16(1).be32(60).be16(3).u8(1).u8('b').u8(0)  // CNAME, skipped
                .bytes(dnsName("b.example")).be16(1).be16(1).be32(60).be16(4).u8(10).u8(1).u8(2).u8(3)
                .build();
  harvest(m);
  EXPECT_EQ(nic->dnsCount, 1u);
  EXPECT_EQ(lookup({10, 1, 2, 3}), "b.example");
}

TEST_F(DnsCache, RotatesOverTwentySlots) {
  for (int i = 0; i < 21; ++i) harvest(dnsReplyA(1, "n" + std::to_string(i) + ".lan", {10, 0, 0, static_cast<uint8_t>(i)}));
  EXPECT_EQ(nic->dnsCount, 21u);
  EXPECT_EQ(lookup({10, 0, 0, 20}), "n20.lan");
  EXPECT_EQ(lookup({10, 0, 0, 0}), "");
  EXPECT_EQ(lookup({10, 0, 0, 1}), "n1.lan");
}

TEST_F(DnsCache, HostileMessagesStayInBounds) {
  // Answer counts far beyond the message, a question that points at itself,
  // answers pointing outside the examined bytes: the walk ends at byte 214.
  FrameBuilder b;
  b.be16(1).be16(0x8180).be16(1).be16(0xFFFF).be16(0).be16(0).be16(0xC00C).be16(1).be16(1);
  for (int i = 0; i < 20; ++i) b.be16(0xFFFF).be16(1).be16(1).be32(0).be16(4).u8(1).u8(2).u8(3).u8(4);
  harvest(b.build());
  EXPECT_EQ(nic->dnsCount, 12u);  // the answers whose data lies within 214 bytes
  for (const DnsName& e : nic->dnsCache) EXPECT_EQ(e.name[0], 0);  // pointed-at names are empty

  // A label length that runs past the end, in a message cut short by the capture.
  nic->dnsCount = 0;
  harvest(FrameBuilder().be16(1).be16(0x8180).be16(1).be16(1).be16(0).be16(0).u8(0xBF).text("xyz").build());
  EXPECT_EQ(nic->dnsCount, 0u);

  // Question counts that outrun the message.
  Bytes zeros(300, 0);
  zeros[2] = 0x80;
  zeros[4] = zeros[5] = zeros[6] = zeros[7] = 0xFF;
  harvest(zeros);
  EXPECT_EQ(nic->dnsCount, 0u);
}

// A reply whose one answer starts at `answerAt` (question name padded to get there).
Bytes replyWithAnswerAt(size_t answerAt) {
  size_t nameBytes = answerAt - 12 - 4;  // labels of 63 and the rest, then the zero label
  std::string name;
  size_t left = nameBytes - 1;
  while (left > 0) {
    size_t label = std::min<size_t>(63, left - 1);
    if (!name.empty()) name += '.';
    name += std::string(label, 'q');
    left -= label + 1;
  }
  Bytes m = FrameBuilder().be16(1).be16(0x8180).be16(1).be16(1).be16(0).be16(0).bytes(dnsName(name)).be16(1).be16(1).build();
  EXPECT_EQ(m.size(), answerAt);
  Bytes answer = FrameBuilder().be16(0xC00C).be16(1).be16(1).be32(0).be16(4).u8(9).u8(9).u8(9).u8(9).build();
  m.insert(m.end(), answer.begin(), answer.end());
  return m;
}

TEST_F(DnsCache, AnswerDataMustLieWithinExaminedBytes) {
  harvest(replyWithAnswerAt(200));  // data at 212..215
  EXPECT_EQ(nic->dnsCount, 0u);
  harvest(replyWithAnswerAt(198));  // data at 210..213
  EXPECT_EQ(nic->dnsCount, 1u);
  EXPECT_EQ(nic->dnsCache[0].address[3], 9);
  EXPECT_EQ(nic->dnsCache[0].name[0], 0);  // a first label of 63 characters does not fit in 32
}

TEST(RoleText, ListsInOrderUpToTheirEnd) {
  AddressLists lists;
  auto put = [](uint32_t* list, int slot, Ip4 a) { std::memcpy(&list[slot], a.data(), 4); };
  put(lists.own, 0, {192, 168, 1, 10});
  put(lists.gateways, 0, {192, 168, 1, 1});
  put(lists.gateways, 1, {192, 168, 1, 10});
  put(lists.dns, 0, {192, 168, 1, 2});
  put(lists.wins, 0, {192, 168, 1, 3});
  put(lists.wins, 2, {192, 168, 1, 4});  // after the list's end
  auto role = [&](Ip4 a) { return std::string(roleText(lists, a.data())); };
  EXPECT_EQ(role({192, 168, 1, 10}), "Self");
  EXPECT_EQ(role({192, 168, 1, 1}), "GW");
  EXPECT_EQ(role({192, 168, 1, 2}), "DNS");
  EXPECT_EQ(role({192, 168, 1, 3}), "WINS");
  EXPECT_EQ(role({192, 168, 1, 4}), "");
  EXPECT_EQ(role({0, 0, 0, 0}), "");
}

}  // namespace
}  // namespace veltris::agent
