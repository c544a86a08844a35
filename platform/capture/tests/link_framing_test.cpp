#include "platform/capture/link_framing.h"

#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <vector>

#include "tests/support/pcap_writer.h"

namespace veltris::capture {
namespace {

using testing::ipv4Packet;

std::vector<uint8_t> withHeader(std::vector<uint8_t> header, const std::vector<uint8_t>& payload) {
  header.insert(header.end(), payload.begin(), payload.end());
  return header;
}

std::vector<uint8_t> sllHeader(uint16_t packetType, uint16_t protocol) {
  return {0, static_cast<uint8_t>(packetType), 0xFF, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          static_cast<uint8_t>(protocol >> 8), static_cast<uint8_t>(protocol)};
}

struct Stored {
  uint8_t bytes[kStoredFrameBytes] = {};
  FrameRead frame;
  bool from(const std::array<uint8_t, 6>& marker) const { return std::equal(marker.begin(), marker.end(), bytes + 6); }
  bool to(const std::array<uint8_t, 6>& marker) const { return std::equal(marker.begin(), marker.end(), bytes); }
  uint16_t type() const { return static_cast<uint16_t>(bytes[12] << 8 | bytes[13]); }
};

Stored store(int dlt, const std::vector<uint8_t>& captured, uint32_t wireLength = 0, const LocalAddress& local = {}) {
  Stored out;
  storeWanFrame(dlt, local, captured.data(), static_cast<uint32_t>(captured.size()),
                wireLength != 0 ? wireLength : static_cast<uint32_t>(captured.size()), out.bytes, out.frame);
  return out;
}

TEST(WanFraming, CookedOutgoingFrameComesFromTheSendMarker) {
  const auto ip = ipv4Packet({10, 0, 0, 1}, {10, 0, 0, 2}, 60);
  const Stored out = store(DLT_LINUX_SLL, withHeader(sllHeader(4, 0x0800), ip));
  EXPECT_TRUE(out.from(kSendMarker));
  EXPECT_TRUE(out.to(kRecvMarker));
  EXPECT_EQ(out.type(), 0x0800);
  EXPECT_EQ(out.frame.stored, 14u + 60u);
  EXPECT_EQ(out.frame.wireLength, 14u + 60u);
  EXPECT_EQ(out.bytes[14], 0x45);
  EXPECT_EQ(out.bytes[14 + 12], 10);
}

TEST(WanFraming, CookedIncomingFramesOfEveryPacketTypeComeFromTheRecvMarker) {
  const auto ip = ipv4Packet({10, 0, 0, 2}, {10, 0, 0, 1}, 40);
  for (uint16_t packetType : {0, 1, 2, 3}) {
    const Stored out = store(DLT_LINUX_SLL, withHeader(sllHeader(packetType, 0x0800), ip));
    EXPECT_TRUE(out.from(kRecvMarker)) << packetType;
    EXPECT_TRUE(out.to(kSendMarker)) << packetType;
  }
}

TEST(WanFraming, CookedV2HeaderGivesDirectionAndProtocol) {
  std::vector<uint8_t> header(20, 0);
  header[0] = 0x86;
  header[1] = 0xDD;
  header[10] = 4;  // outgoing
  const Stored out = store(DLT_LINUX_SLL2, withHeader(header, std::vector<uint8_t>(48, 0x60)));
  EXPECT_TRUE(out.from(kSendMarker));
  EXPECT_EQ(out.type(), 0x86DD);
  EXPECT_EQ(out.frame.stored, 14u + 48u);
}

TEST(WanFraming, LongPayloadIsStoredTo256BytesAndTheWireLengthKept) {
  const auto ip = ipv4Packet({10, 0, 0, 1}, {10, 0, 0, 2}, 1400);
  const std::vector<uint8_t> captured = withHeader(sllHeader(0, 0x0800), ip);
  const Stored out = store(DLT_LINUX_SLL, std::vector<uint8_t>(captured.begin(), captured.begin() + 300), 16 + 1400);
  EXPECT_EQ(out.frame.stored, kStoredFrameBytes);
  EXPECT_EQ(out.frame.wireLength, 14u + 1400u);
  EXPECT_EQ(out.bytes[kStoredFrameBytes - 1], 0x5A);
}

TEST(WanFraming, RawIpDirectionFollowsTheLocalAddress) {
  LocalAddress local;
  local.bytes[0] = 192, local.bytes[1] = 168, local.bytes[2] = 7, local.bytes[3] = 1;
  local.length = 4;
  const Stored sent = store(DLT_RAW, ipv4Packet({192, 168, 7, 1}, {8, 8, 8, 8}, 40), 0, local);
  const Stored received = store(DLT_RAW, ipv4Packet({8, 8, 8, 8}, {192, 168, 7, 1}, 40), 0, local);
  EXPECT_TRUE(sent.from(kSendMarker));
  EXPECT_TRUE(received.from(kRecvMarker));
  EXPECT_EQ(sent.type(), 0x0800);
  EXPECT_EQ(local.text(), "192.168.7.1");
  const Stored unknown = store(DLT_RAW, ipv4Packet({192, 168, 7, 1}, {8, 8, 8, 8}, 40));
  EXPECT_TRUE(unknown.from(kRecvMarker)) << "without a local address every frame counts as received";
}

TEST(WanFraming, PppHeadersFullAndCompressed) {
  const auto ip = ipv4Packet({10, 0, 0, 1}, {10, 0, 0, 2}, 30);
  const Stored full = store(DLT_PPP, withHeader({0xFF, 0x03, 0x00, 0x21}, ip));
  EXPECT_EQ(full.type(), 0x0800);
  EXPECT_EQ(full.frame.stored, 14u + 30u);
  EXPECT_EQ(full.bytes[14], 0x45);
  const Stored compressed = store(DLT_PPP, withHeader({0x21}, ip));
  EXPECT_EQ(compressed.type(), 0x0800);
  EXPECT_EQ(compressed.bytes[14], 0x45);
  const Stored lcp = store(DLT_PPP, withHeader({0xFF, 0x03, 0xC0, 0x21}, std::vector<uint8_t>(10, 1)));
  EXPECT_EQ(lcp.type(), 0xC021) << "other PPP protocols keep their number";
  const Stored sent = store(DLT_PPP_WITH_DIR, withHeader({0x01, 0xFF, 0x03, 0x00, 0x57}, std::vector<uint8_t>(40, 0x60)));
  EXPECT_TRUE(sent.from(kSendMarker));
  EXPECT_EQ(sent.type(), 0x86DD);
}

TEST(WanFraming, BsdLoopbackFamilyInEitherByteOrder) {
  const auto ip = ipv4Packet({10, 0, 0, 1}, {10, 0, 0, 2}, 20);
  EXPECT_EQ(store(DLT_NULL, withHeader({2, 0, 0, 0}, ip)).type(), 0x0800);
  EXPECT_EQ(store(DLT_NULL, withHeader({0, 0, 0, 2}, ip)).type(), 0x0800);
  EXPECT_EQ(store(DLT_LOOP, withHeader({0, 0, 0, 30}, ip)).type(), 0x86DD);
}

TEST(WanFraming, FrameShorterThanItsLinkHeaderGivesAnEmptyFrame) {
  const Stored out = store(DLT_LINUX_SLL, {0, 4, 0, 1, 0});
  EXPECT_EQ(out.frame.stored, 14u);
  EXPECT_EQ(out.frame.wireLength, 14u);
  EXPECT_EQ(out.type(), 0);
}

TEST(WanFraming, ImpossibleWireLengthsSaturate) {
  const Stored out = store(DLT_RAW, {0x45}, 0xFFFFFFFF);
  EXPECT_EQ(out.frame.stored, 15u);
  EXPECT_EQ(out.frame.wireLength, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace veltris::capture
