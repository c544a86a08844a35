#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/capture/device.h"
#include "platform/capture/link_framing.h"
#include "tests/support/pcap_writer.h"

namespace veltris::capture {
namespace {

using namespace std::chrono_literals;
using testing::ethernetFrame;
using testing::Mac;
using testing::TestFrame;

const Mac kStationA = {0x02, 0, 0, 0, 0, 0x0A};
const Mac kStationB = {0x02, 0, 0, 0, 0, 0x0B};
const Mac kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

void setFilter(Device& device, uint32_t filter) {
  uint8_t bytes[4] = {static_cast<uint8_t>(filter), static_cast<uint8_t>(filter >> 8), 0, 0};
  ASSERT_TRUE(device.set(oid::kGenCurrentPacketFilter, bytes, 4));
}

class FileReplay : public ::testing::Test {
 protected:
  std::unique_ptr<Device> open(const std::string& name) {
    std::string error;
    auto device = openDevice(name, error);
    EXPECT_NE(device, nullptr) << error;
    if (device != nullptr) setFilter(*device, 0x8B);
    return device;
  }
  std::string openError(const std::string& name) {
    std::string error;
    EXPECT_EQ(openDevice(name, error), nullptr);
    return error;
  }
  std::vector<TestFrame> sizedFrames() {
    std::vector<TestFrame> frames;
    for (size_t length : {60, 256, 257, 400, 1514})
      frames.push_back({ethernetFrame(kStationB, kStationA, 0x0800, length, static_cast<uint8_t>(length))});
    frames.push_back({ethernetFrame(kBroadcast, kStationA, 0x0806, 100), 1514});  // cut when captured
    return frames;
  }
  testing::TempDir dir;
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead frame;
};

TEST_F(FileReplay, FramesAreStoredTo256BytesWithTheirFullWireLength) {
  testing::writeFile(dir / "sizes.pcap", testing::pcapFile(testing::kLinkEthernet, sizedFrames()));
  auto device = open((dir / "sizes.pcap").string());
  ASSERT_NE(device, nullptr);
  const uint32_t expectedStored[] = {60, 256, 256, 256, 256, 100};
  const uint32_t expectedWire[] = {60, 256, 257, 400, 1514, 1514};
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(device->read(buffer, frame, 100ms), ReadResult::Frame) << i;
    EXPECT_EQ(frame.stored, expectedStored[i]) << i;
    EXPECT_EQ(frame.wireLength, expectedWire[i]) << i;
  }
  EXPECT_EQ(buffer[0], 0xFF);
  EXPECT_EQ(device->read(buffer, frame, 100ms), ReadResult::End);
  EXPECT_EQ(device->read(buffer, frame, 100ms), ReadResult::End);
}

TEST_F(FileReplay, PcapngFilesReplayLikePcapFiles) {
  testing::writeFile(dir / "sizes.pcapng", testing::pcapngFile(testing::kLinkEthernet, sizedFrames()));
  auto device = open((dir / "sizes.pcapng").string());
  ASSERT_NE(device, nullptr);
  int frames = 0;
  uint32_t lastWire = 0;
  while (device->read(buffer, frame, 100ms) == ReadResult::Frame) {
    ++frames;
    lastWire = frame.wireLength;
    EXPECT_LE(frame.stored, kStoredFrameBytes);
  }
  EXPECT_EQ(frames, 6);
  EXPECT_EQ(lastWire, 1514u);
}

TEST_F(FileReplay, NothingIsDeliveredWhileTheFilterIsZero) {
  testing::writeFile(dir / "t.pcap", testing::pcapFile(testing::kLinkEthernet, sizedFrames()));
  std::string error;
  auto device = openDevice((dir / "t.pcap").string(), error);
  ASSERT_NE(device, nullptr) << error;
  EXPECT_EQ(device->read(buffer, frame, 5ms), ReadResult::Timeout);
  setFilter(*device, 0x8B);
  ASSERT_EQ(device->read(buffer, frame, 5ms), ReadResult::Frame);
  EXPECT_EQ(frame.wireLength, 60u) << "the file waited at its first frame";
}

TEST_F(FileReplay, StationIsTheMostFrequentSourceOfTheFirstThousandFrames) {
  std::vector<TestFrame> frames;
  for (int i = 0; i < 1000; ++i) frames.push_back({ethernetFrame(kBroadcast, i % 5 < 3 ? kStationA : kStationB, 0x0800, 60)});
  for (int i = 0; i < 3000; ++i) frames.push_back({ethernetFrame(kBroadcast, kStationB, 0x0800, 60)});
  testing::writeFile(dir / "many.pcap", testing::pcapFile(testing::kLinkEthernet, frames));
  auto device = open((dir / "many.pcap").string());
  ASSERT_NE(device, nullptr);
  uint8_t station[6] = {};
  ASSERT_TRUE(device->query(oid::k8023CurrentAddress, station, 6));
  EXPECT_TRUE(std::equal(kStationA.begin(), kStationA.end(), station));
  EXPECT_NE(device->describe().find("02:00:00:00:00:0a"), std::string::npos) << device->describe();
  EXPECT_NE(device->describe().find("most frequent"), std::string::npos);
  int count = 0;
  while (device->read(buffer, frame, 100ms) == ReadResult::Frame) ++count;
  EXPECT_EQ(count, 4000) << "the survey does not use up frames";
}

TEST_F(FileReplay, StationGivenAfterTheAtSignWins) {
  testing::writeFile(dir / "t.pcap", testing::pcapFile(testing::kLinkEthernet, sizedFrames()));
  auto device = open((dir / "t.pcap").string() + "@02:00:00:00:00:05");
  ASSERT_NE(device, nullptr);
  uint8_t station[6] = {};
  ASSERT_TRUE(device->query(oid::k8023CurrentAddress, station, 6));
  EXPECT_EQ(station[5], 0x05);
  EXPECT_NE(device->describe().find("as given"), std::string::npos) << device->describe();
}

TEST_F(FileReplay, AnEthernetFileAnswersTheStartUpOids) {
  testing::writeFile(dir / "t.pcap", testing::pcapFile(testing::kLinkEthernet, sizedFrames()));
  auto device = open((dir / "t.pcap").string());
  ASSERT_NE(device, nullptr);
  uint32_t value = 99;
  ASSERT_TRUE(device->query(oid::kGenMediaInUse, &value, 4));
  EXPECT_EQ(value, 0u);
  uint8_t address[6];
  EXPECT_FALSE(device->query(oid::kWanPermanentAddress, address, 6));
  uint8_t version[2] = {};
  ASSERT_TRUE(device->query(oid::kGenDriverVersion, version, 2));
  EXPECT_EQ(version[1], 4);
  ASSERT_TRUE(device->query(oid::kGenVendorDriverVersion, version, 2));
  EXPECT_GE(version[1], 1) << "libpcap's major version";
  ASSERT_TRUE(device->query(oid::kGenMacOptions, &value, 4));
  EXPECT_EQ(value & 0x08, 0x08u);
  EXPECT_FALSE(device->query(oid::kGenLinkSpeed, &value, 4));
  EXPECT_FALSE(device->query(oid::kGenXmitError, &value, 4));
  EXPECT_FALSE(device->query(oid::k8025CurrentRingStatus, &value, 4));
  EXPECT_EQ(device->kernelDrops(), 0u);
}

TEST_F(FileReplay, CookedFileIsAWanAdapterWithMarkedFrames) {
  std::vector<TestFrame> frames;
  const auto ip = testing::ipv4Packet({10, 1, 1, 1}, {10, 1, 1, 2}, 500);
  for (uint8_t packetType : {4, 0}) {
    std::vector<uint8_t> bytes = {0, packetType, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0, 0x08, 0x00};
    bytes.insert(bytes.end(), ip.begin(), ip.end());
    frames.push_back({bytes});
  }
  testing::writeFile(dir / "ppp.pcap", testing::pcapFile(testing::kLinkLinuxSll, frames));
  auto device = open((dir / "ppp.pcap").string());
  ASSERT_NE(device, nullptr);
  uint8_t address[6] = {1, 1, 1, 1, 1, 1};
  ASSERT_TRUE(device->query(oid::kWanPermanentAddress, address, 6));
  EXPECT_EQ(address[0], 0);
  ASSERT_TRUE(device->query(oid::k8023CurrentAddress, address, 6));
  ASSERT_EQ(device->read(buffer, frame, 100ms), ReadResult::Frame);
  EXPECT_TRUE(std::equal(kSendMarker.begin(), kSendMarker.end(), buffer + 6));
  EXPECT_EQ(frame.stored, kStoredFrameBytes);
  EXPECT_EQ(frame.wireLength, 14u + 500u);
  ASSERT_EQ(device->read(buffer, frame, 100ms), ReadResult::Frame);
  EXPECT_TRUE(std::equal(kRecvMarker.begin(), kRecvMarker.end(), buffer + 6));
  EXPECT_EQ(device->read(buffer, frame, 100ms), ReadResult::End);
}

TEST_F(FileReplay, RawIpFileTakesTheMostFrequentSourceAsThisStation) {
  std::vector<TestFrame> frames;
  for (int i = 0; i < 6; ++i) {
    const bool local = i % 3 != 2;
    frames.push_back({local ? testing::ipv4Packet({192, 168, 9, 9}, {1, 1, 1, 1}, 80)
                            : testing::ipv4Packet({1, 1, 1, 1}, {192, 168, 9, 9}, 80)});
  }
  testing::writeFile(dir / "raw.pcap", testing::pcapFile(testing::kLinkRaw, frames));
  auto device = open((dir / "raw.pcap").string());
  ASSERT_NE(device, nullptr);
  EXPECT_NE(device->describe().find("192.168.9.9"), std::string::npos) << device->describe();
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(device->read(buffer, frame, 100ms), ReadResult::Frame);
    const auto& marker = i % 3 != 2 ? kSendMarker : kRecvMarker;
    EXPECT_TRUE(std::equal(marker.begin(), marker.end(), buffer + 6)) << i;
    EXPECT_EQ(buffer[12], 0x08);
  }
}

TEST_F(FileReplay, GarbageMissingAndUnsupportedFilesAreClearErrors) {
  testing::writeFile(dir / "garbage.pcap", std::vector<uint8_t>(200, 0x42));
  EXPECT_NE(openError((dir / "garbage.pcap").string()).find("garbage.pcap"), std::string::npos);
  testing::writeFile(dir / "short.pcap", {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4});
  EXPECT_FALSE(openError((dir / "short.pcap").string()).empty());
  EXPECT_NE(openError((dir / "missing.pcap").string()).find("missing.pcap"), std::string::npos);
  testing::writeFile(dir / "radio.pcap", testing::pcapFile(127, {}));
  EXPECT_NE(openError((dir / "radio.pcap").string()).find("not supported"), std::string::npos);
  EXPECT_NE(openError((dir / "radio.pcap").string() + "@02:00").find("station address"), std::string::npos);
}

TEST_F(FileReplay, FileCutInTheMiddleOfAFrameDeliversWhatItHoldsThenGone) {
  std::vector<uint8_t> bytes = testing::pcapFile(testing::kLinkEthernet, sizedFrames());
  bytes.resize(bytes.size() - 30);  // the last frame loses its tail
  testing::writeFile(dir / "cut.pcap", bytes);
  auto device = open((dir / "cut.pcap").string());
  ASSERT_NE(device, nullptr);
  int frames = 0;
  ReadResult result;
  while ((result = device->read(buffer, frame, 100ms)) == ReadResult::Frame) ++frames;
  EXPECT_EQ(frames, 5);
  EXPECT_EQ(result, ReadResult::Gone);
  EXPECT_NE(device->error().find("after 5 frames"), std::string::npos) << device->error();
  EXPECT_EQ(device->read(buffer, frame, 100ms), ReadResult::Gone);
}

TEST_F(FileReplay, EmptyFileEndsAtOnce) {
  testing::writeFile(dir / "empty.pcap", testing::pcapFile(testing::kLinkEthernet, {}));
  auto device = open((dir / "empty.pcap").string());
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->read(buffer, frame, 100ms), ReadResult::End);
  EXPECT_NE(device->describe().find("no frames"), std::string::npos);
}

}  // namespace
}  // namespace veltris::capture

namespace veltris::capture {
namespace {

const Mac kOtherC = {0x02, 0x44, 0, 0, 0, 0x01};
const Mac kOtherD = {0x02, 0x44, 0, 0, 0, 0x02};
const Mac kGroup = {0x01, 0x00, 0x5E, 0, 0, 0x01};

// Which frames a replay delivers under a filter: the station is A (given).
std::vector<uint8_t> deliveredLastBytes(const std::filesystem::path& file, uint32_t filter) {
  std::string error;
  auto device = openDevice(file.string() + "@02:00:00:00:00:0a", error);
  EXPECT_NE(device, nullptr) << error;
  if (device == nullptr) return {};
  uint8_t bytes[4] = {static_cast<uint8_t>(filter), static_cast<uint8_t>(filter >> 8), 0, 0};
  EXPECT_TRUE(device->set(oid::kGenCurrentPacketFilter, bytes, 4));
  std::vector<uint8_t> seen;
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead frame;
  while (device->read(buffer, frame, 100ms) == ReadResult::Frame) seen.push_back(buffer[13]);
  return seen;
}

// The Ethernet type's low byte numbers each frame.
TEST(FileReplayFilter, WithoutThePromiscuousBitFramesBetweenOtherStationsAreSkipped) {
  testing::TempDir dir;
  const std::vector<TestFrame> frames = {
      {ethernetFrame(kStationB, kStationA, 0x8801, 60)},  // sent by the station
      {ethernetFrame(kStationA, kStationB, 0x8802, 60)},  // to it
      {ethernetFrame(kOtherD, kOtherC, 0x8803, 60)},      // between others
      {ethernetFrame(kBroadcast, kOtherC, 0x8804, 60)},
      {ethernetFrame(kGroup, kOtherD, 0x8805, 60)},
      {ethernetFrame(kOtherC, kOtherD, 0x8806, 60)},
  };
  testing::writeFile(dir / "t.pcap", testing::pcapFile(testing::kLinkEthernet, frames));
  EXPECT_EQ(deliveredLastBytes(dir / "t.pcap", 0x8B), (std::vector<uint8_t>{1, 2, 4, 5}));
  EXPECT_EQ(deliveredLastBytes(dir / "t.pcap", 0x20), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(FileReplayTime, FramesCarryTheirTimeStampsAndTheFirstIsKnownBeforehand) {
  testing::TempDir dir;
  std::vector<TestFrame> frames = {{ethernetFrame(kStationB, kStationA, 0x0800, 60), 0, 944000000},
                                   {ethernetFrame(kStationB, kStationA, 0x0800, 60), 0, 944000400}};
  testing::writeFile(dir / "t.pcapng", testing::pcapFile(testing::kLinkEthernet, frames));
  uint32_t first = 0;
  ASSERT_TRUE(firstFrameTime((dir / "t.pcapng").string() + "@02:00:00:00:00:0a", first));
  EXPECT_EQ(first, 944000000u);
  EXPECT_FALSE(firstFrameTime("eth0", first));
  testing::writeFile(dir / "empty.pcap", testing::pcapFile(testing::kLinkEthernet, {}));
  EXPECT_FALSE(firstFrameTime((dir / "empty.pcap").string(), first));
  ASSERT_EQ(::mkfifo((dir / "fed.pcap").c_str(), 0600), 0);
  EXPECT_FALSE(firstFrameTime((dir / "fed.pcap").string(), first)) << "a pipe is not read ahead (nor waited on)";

  std::string error;
  auto device = openDevice((dir / "t.pcapng").string(), error);
  ASSERT_NE(device, nullptr) << error;
  EXPECT_TRUE(device->replaysFile());
  uint8_t filter[4] = {0x8B, 0, 0, 0};
  ASSERT_TRUE(device->set(oid::kGenCurrentPacketFilter, filter, 4));
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead frame;
  ASSERT_EQ(device->read(buffer, frame, 100ms), ReadResult::Frame);
  EXPECT_TRUE(frame.stamped);
  EXPECT_EQ(frame.seconds, 944000000u);
  ASSERT_EQ(device->read(buffer, frame, 100ms), ReadResult::Frame);
  EXPECT_EQ(frame.seconds, 944000400u);
}

// Access control, frame control, destination, source (routing bit set: a route
// field of 2 bytes follows), then 802.2 SNAP carrying IP.
std::vector<uint8_t> tokenRingFrame(const Mac& destination, const Mac& source, bool routed) {
  std::vector<uint8_t> frame = {0x10, 0x40};
  frame.insert(frame.end(), destination.begin(), destination.end());
  frame.insert(frame.end(), source.begin(), source.end());
  if (routed) {
    frame[8] |= 0x80;
    frame.insert(frame.end(), {0x02, 0x00});
  }
  frame.insert(frame.end(), {0xAA, 0xAA, 0x03, 0, 0, 0, 0x08, 0x00});
  const std::vector<uint8_t> ip = testing::ipv4Packet({10, 0, 0, 1}, {10, 0, 0, 2}, 40);
  frame.insert(frame.end(), ip.begin(), ip.end());
  return frame;
}

TEST(FileReplayTokenRing, AnIeee8025FileIsATokenRingAdapter) {
  testing::TempDir dir;
  const Mac station = {0x10, 0, 0x5A, 0, 0, 0x01};
  const Mac peer = {0x10, 0, 0x5A, 0, 0, 0x02};
  const Mac functional = {0xC0, 0, 0, 0, 0, 0x80};
  const std::vector<TestFrame> frames = {
      {tokenRingFrame(peer, station, true)}, {tokenRingFrame(station, peer, false)},
      {tokenRingFrame(peer, station, false)}, {tokenRingFrame(functional, station, false)},
      {tokenRingFrame({0x10, 0, 0x5A, 0, 0, 0x03}, peer, false)},  // between others
  };
  testing::writeFile(dir / "ring.pcap", testing::pcapFile(testing::kLinkTokenRing, frames));
  std::string error;
  auto device = openDevice((dir / "ring.pcap").string(), error);
  ASSERT_NE(device, nullptr) << error;
  uint32_t media = 0;
  ASSERT_TRUE(device->query(oid::kGenMediaInUse, &media, 4));
  EXPECT_EQ(media, 1u);
  uint8_t address[6] = {};
  EXPECT_FALSE(device->query(oid::k8023CurrentAddress, address, 6));
  EXPECT_FALSE(device->query(oid::kWanPermanentAddress, address, 6));
  ASSERT_TRUE(device->query(oid::k8025CurrentAddress, address, 6));
  EXPECT_TRUE(std::equal(station.begin(), station.end(), address)) << "the routing bit is not part of the address";
  EXPECT_NE(device->describe().find("Token Ring"), std::string::npos) << device->describe();
  uint8_t filter[4] = {0x89, 0x40, 0, 0};  // 0x4089
  ASSERT_TRUE(device->set(oid::kGenCurrentPacketFilter, filter, 4));
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead frame;
  int count = 0;
  while (device->read(buffer, frame, 100ms) == ReadResult::Frame) {
    if (++count == 1) {
      EXPECT_EQ(buffer[1], 0x40) << "stored from the access control byte on";
      EXPECT_EQ(buffer[8], 0x90);
      EXPECT_EQ(frame.stored, frame.wireLength);
    }
  }
  EXPECT_EQ(count, 4);
}

}  // namespace
}  // namespace veltris::capture
