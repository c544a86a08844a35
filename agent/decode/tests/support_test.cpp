// The bounded frame view, fixed texts, the port name table, the record
// layout, and decoding of frames shorter than their headers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <random>

#include "agent/decode/fixed_text.h"
#include "common/frame_view.h"
#include "agent/decode/tests/test_frames.h"
#include "tests/support/console_capture.h"

namespace veltris::agent::decode::test {
namespace {

TEST(FrameView, ReadsPastTheEndAreZero) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  FrameView view(bytes, sizeof bytes);
  EXPECT_EQ(view.be16(0), 0x1234);
  EXPECT_EQ(view.be32(1), 0x3456789Au);
  EXPECT_EQ(view.le16(0), 0x3412);
  EXPECT_EQ(view.le32(1), 0x9A785634u);
  EXPECT_EQ(view.be16(4), 0x9A00) << "the second byte is past the end";
  EXPECT_EQ(view.be32(3), 0x789A0000u);
  EXPECT_EQ(view.u8(5), 0);
  EXPECT_EQ(view.u8(SIZE_MAX), 0);
  EXPECT_EQ(view.be32(SIZE_MAX - 1), 0u);
  EXPECT_EQ(view.sub(3).u8(0), 0x78);
  EXPECT_EQ(view.sub(3).size(), 2u);
  EXPECT_EQ(view.sub(5).size(), 0u);
  EXPECT_EQ(view.sub(500).be32(0), 0u);
}

TEST(FrameView, NeverMoreThanTheStoredBytes) {
  std::vector<uint8_t> big(300, 0xEE);
  FrameView view(big.data(), big.size());
  EXPECT_EQ(view.size(), 256u);
  EXPECT_EQ(view.u8(255), 0xEE);
  EXPECT_EQ(view.u8(256), 0) << "byte 256 is not stored";
  EXPECT_EQ(FrameView(nullptr, 10).size(), 0u);
}

TEST(FrameView, TextStopsAtNulMaxOrEnd) {
  const uint8_t bytes[] = {'a', 'b', 0, 'c', 'd', 'e'};
  FrameView view(bytes, sizeof bytes);
  EXPECT_EQ(view.text(0, 10), "ab");
  EXPECT_EQ(view.text(3, 10), "cde");
  EXPECT_EQ(view.text(3, 2), "cd");
  EXPECT_EQ(view.text(6, 2), "");
  EXPECT_TRUE(view.equals(3, "cde"));
  EXPECT_FALSE(view.equals(3, "cdef"));
  uint8_t out[4];
  view.copy(4, 4, out);
  EXPECT_EQ(out[0], 'd');
  EXPECT_EQ(out[2], 0);
}

TEST(FixedText, FormatsLikeThePrintfFormats) {
  FixedText<64> t;
  t.dec(0).add(' ').dec(4294967295u).add(' ').hex(0xA, 2).add(' ').hex(0x5DD, 4).add(' ').hex(0xC000006D, 8);
  EXPECT_EQ(t.view(), "0 4294967295 0A 05DD C000006D");
  FixedText<64> left;
  left.decLeft(7, 5).add('|').decLeft(123456, 5).add('|');
  EXPECT_EQ(left.view(), "7    |123456|");
  FixedText<64> hex;
  hex.hex(0x1234, 2).add(' ').hex(0, 1).add(' ').hex(0xF, 1);
  EXPECT_EQ(hex.view(), "1234 0 F");
}

TEST(FixedText, DropsWhatDoesNotFit) {
  FixedText<8> t;
  t.add("abcdef").dec(12345).add('x');
  EXPECT_EQ(t.view(), "abcdef12");
  t.truncate(3);
  EXPECT_EQ(t.view(), "abc");
  FixedText<4> padded;
  padded.decLeft(1, 10);
  EXPECT_EQ(padded.view(), "1   ");
}

TEST(PortNames, TableAnswersAsTheServicesDatabase) {
  const PortNames& names = PortNames::system();
  int compared = 0;
  for (int port : {7, 21, 22, 23, 25, 53, 110, 137, 138, 139, 161, 443, 514, 3306, 5432, 6000, 40000}) {
    for (const char* proto : {"tcp", "udp"}) {
      servent* entry = getservbyport(htons(static_cast<uint16_t>(port)), proto);
      const char* ours = names.name(static_cast<uint16_t>(port), proto[0] == 't' ? Transport::Tcp : Transport::Udp);
      if (entry != nullptr) {
        ASSERT_NE(ours, nullptr) << port << "/" << proto;
        EXPECT_STREQ(ours, entry->s_name) << port << "/" << proto;
        ++compared;
      } else {
        EXPECT_EQ(ours, nullptr) << port << "/" << proto;
      }
    }
  }
  std::printf("compared %d port names with getservbyport\n", compared);
}

TEST(PortNames, WebPortFallbackAndFirstEntryWins) {
  const PortNames::Entry entries[] = {{21, Transport::Tcp, "ftp"}, {21, Transport::Tcp, "ftp2"},
                                      {80, Transport::Udp, "web-udp"}};
  PortNames names{std::span<const PortNames::Entry>(entries)};
  EXPECT_STREQ(names.name(21, Transport::Tcp), "ftp");
  EXPECT_EQ(names.name(21, Transport::Udp), nullptr);
  EXPECT_STREQ(names.name(80, Transport::Tcp), "www-http");
  EXPECT_STREQ(names.name(80, Transport::Udp), "web-udp");
  EXPECT_EQ(names.name(65535, Transport::Tcp), nullptr);
}

TEST(DetailRecordLayout, PreparedFields) {
  DetailRecord record;
  std::memset(&record, 0x55, sizeof record);
  prepareDecodedFields(record);
  EXPECT_EQ(std::string(record.destination, 28), std::string(28, ' '));
  EXPECT_EQ(std::string(record.description, 100), std::string(100, ' '));
  EXPECT_EQ(std::string(record.protocol, 100), std::string(100, '\0'));
  EXPECT_EQ(record.direction[0], 0x55) << "other fields untouched";
  EXPECT_EQ(record.errorText[0], 0x55);
}

TEST(DetailRecordLayout, IntegersAreLittleEndian) {
  DetailRecord record{};
  record.adapter = 0x01020304;
  record.mediaType = 1;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  EXPECT_EQ(bytes[4], 0x04);
  EXPECT_EQ(bytes[7], 0x01);
  EXPECT_EQ(bytes[360], 0x01);
}

TEST(DecodeContextFor, CopiesTheAdapterUnderItsLock) {
  auto nic = std::make_unique<agent::NicArea>();
  nic->mediaType = capture::kMedium8025;
  const uint8_t station[6] = {0x10, 0x00, 0x5A, 0x01, 0x02, 0x03};
  std::memcpy(nic->station, station, 6);
  nic->addresses.wins[0] = inet_addr("10.0.0.3");
  agent::AddressLists copy;
  DecodeContext context = decodeContextFor(*nic, copy);
  nic->addresses.wins[0] = 0;  // later changes do not reach the copy
  EXPECT_EQ(context.mediaType, capture::kMedium8025);
  EXPECT_EQ(std::memcmp(context.ownAddress, station, 6), 0);
  ASSERT_EQ(context.addresses, &copy);
  EXPECT_STREQ(roleLabelFor(*context.addresses, inet_addr("10.0.0.3")), "WINS");
  EXPECT_EQ(context.portNames, nullptr) << "the system's services database";
}

TEST(ShortFrames, DecodeFromWhatIsStored) {
  // Only 16 bytes stored: the IP header reads as zeros past them.
  Frame f = ethernet("00-60-08-AB-CD-EF", 0x0800);
  f.bytes({0x45, 0x00});
  std::vector<uint8_t> stored = f.data();
  DetailRecord record{};
  prepareDecodedFields(record);
  DecodeContext context;
  context.portNames = &testPortNames();
  describeFrame(context, stored, record);
  EXPECT_STREQ(record.destination, "0.0.0.0");
  EXPECT_STREQ(record.description, "Protocol=x'00'");
  EXPECT_STREQ(record.protocol, "IP");

  DetailRecord empty{};
  prepareDecodedFields(empty);
  describeFrame(context, {}, empty);
  EXPECT_STREQ(empty.destination, "000000000000");
  EXPECT_STREQ(empty.description, "LLC 00/00 I-Frame N(R)=0 N(S)=0");
  EXPECT_STREQ(empty.protocol, "LLC");
}

// Every field stays inside its width and every text ends where its field
// allows, whatever the bytes.
TEST(RandomFrames, TextsStayInsideTheirFields) {
  std::mt19937 random(12345);
  const uint16_t types[] = {0x0800, 0x0806, 0x8137, 0x05DC, 0x0050, 0x9000};
  veltris::agent::testing::ConsoleCapture captured;  // reserved Token Ring frame types print a warning
  for (int round = 0; round < 20000; ++round) {
    uint8_t frame[256];
    for (uint8_t& b : frame) b = static_cast<uint8_t>(random());
    uint16_t type = types[round % 6];
    frame[12] = static_cast<uint8_t>(type >> 8);
    frame[13] = static_cast<uint8_t>(type);
    if (round % 3 == 0) frame[23] = (round % 2 == 0) ? 6 : 17;  // TCP or UDP
    if (round % 5 == 0) frame[14] = 0x45;
    DetailRecord record;
    std::memset(&record, 0x7E, sizeof record);
    prepareDecodedFields(record);
    DecodeContext context;
    context.mediaType = round % 2;
    context.portNames = &testPortNames();
    describeFrame(context, frame, record);
    ASSERT_LT(strnlen(record.destination, 28), 28u);
    ASSERT_LT(strnlen(record.protocol, 100), 100u);
    ASSERT_EQ(record.errorText[0], 0x7E) << "nothing written past the protocol";
    ASSERT_EQ(record.hostName[31], 0x7E) << "nothing written before the direction marker";
  }
  EXPECT_NE(captured.take().find("WARNING: Unexpected Frame Type"), std::string::npos);
}

}  // namespace
}  // namespace veltris::agent::decode::test
