#include <gtest/gtest.h>

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
