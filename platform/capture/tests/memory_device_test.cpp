#include "platform/capture/memory_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace veltris::capture {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kEthernetFilter = 0x8B;

bool setFilter(Device& device, uint32_t filter) {
  uint8_t bytes[4] = {static_cast<uint8_t>(filter), static_cast<uint8_t>(filter >> 8), static_cast<uint8_t>(filter >> 16),
                      static_cast<uint8_t>(filter >> 24)};
  return device.set(oid::kGenCurrentPacketFilter, bytes, 4);
}

TEST(MemoryDeviceOids, AnswersMediaStationAndWanFromTheConfiguration) {
  MemoryDeviceConfig config;
  config.station = {0x02, 0, 0, 0, 0, 0x05};
  MemoryDevice device(config);
  uint32_t media = 99;
  ASSERT_TRUE(device.query(oid::kGenMediaInUse, &media, 4));
  EXPECT_EQ(media, 0u);
  uint8_t address[6] = {};
  ASSERT_TRUE(device.query(oid::k8023CurrentAddress, address, 6));
  EXPECT_EQ(address[0], 0x02);
  EXPECT_EQ(address[5], 0x05);
  EXPECT_FALSE(device.query(oid::k8025CurrentAddress, address, 6));
  EXPECT_FALSE(device.query(oid::kWanPermanentAddress, address, 6));
  EXPECT_FALSE(device.query(oid::kGenLinkSpeed, &media, 4));
}

TEST(MemoryDeviceOids, TokenRingAndWanAdapters) {
  MemoryDeviceConfig ring;
  ring.mediaType = 1;
  ring.station = {0x10, 0, 0x5A, 1, 2, 3};
  MemoryDevice tokenRing(ring);
  uint8_t address[6] = {};
  EXPECT_FALSE(tokenRing.query(oid::k8023CurrentAddress, address, 6));
  ASSERT_TRUE(tokenRing.query(oid::k8025CurrentAddress, address, 6));
  EXPECT_EQ(address[2], 0x5A);

  MemoryDeviceConfig wanConfig;
  wanConfig.wan = true;
  wanConfig.station = {1, 2, 3, 4, 5, 6};
  MemoryDevice wan(wanConfig);
  uint8_t permanent[6] = {9, 9, 9, 9, 9, 9};
  ASSERT_TRUE(wan.query(oid::kWanPermanentAddress, permanent, 6));
  EXPECT_EQ(permanent[0], 0);
  EXPECT_EQ(permanent[5], 0);
}

TEST(MemoryDeviceOids, TableAnswersOverrideAndRemovalFails) {
  MemoryDevice device;
  device.setNumber(oid::kGenLinkSpeed, 100000);
  device.setAnswer(oid::kGenDriverVersion, {0x00, 0x04});
  uint32_t speed = 0;
  ASSERT_TRUE(device.query(oid::kGenLinkSpeed, &speed, 4));
  EXPECT_EQ(speed, 100000u);
  uint8_t version[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(device.query(oid::kGenDriverVersion, version, 4));
  EXPECT_EQ(version[1], 4);
  EXPECT_EQ(version[2], 0) << "bytes past the answer are zeroed";
  device.removeAnswer(oid::kGenMediaInUse);
  uint32_t media = 0;
  EXPECT_FALSE(device.query(oid::kGenMediaInUse, &media, 4));
  device.setNumber(oid::kGenMediaInUse, 7);
  ASSERT_TRUE(device.query(oid::kGenMediaInUse, &media, 4));
  EXPECT_EQ(media, 7u);
}

TEST(MemoryDeviceFilter, OnlyThePacketFilterCanBeSetAndRefusalsFail) {
  MemoryDevice device;
  uint32_t value = 1;
  EXPECT_FALSE(device.set(oid::kGenLinkSpeed, &value, 4));
  EXPECT_FALSE(device.set(oid::kGenCurrentPacketFilter, &value, 2));
  device.refuseFilter(filter::kPromiscuous);
  EXPECT_FALSE(setFilter(device, filter::kPromiscuous));
  EXPECT_TRUE(setFilter(device, 0));
  EXPECT_TRUE(setFilter(device, kEthernetFilter));
  EXPECT_EQ(device.packetFilter(), kEthernetFilter);
  EXPECT_EQ(device.filterHistory(), (std::vector<uint32_t>{0, kEthernetFilter}));
}

TEST(MemoryDeviceRead, FramesWaitWhileTheFilterIsZeroAndAreStoredTo256Bytes) {
  MemoryDevice device;
  device.push(std::vector<uint8_t>(1514, 0x77));
  device.push(std::vector<uint8_t>(100, 0x11), 1500);
  uint8_t buffer[kStoredFrameBytes + 4] = {};
  buffer[kStoredFrameBytes] = 0xCC;  // guard byte past the read area
  FrameRead read;
  EXPECT_EQ(device.read(buffer, read, 10ms), ReadResult::Timeout);
  EXPECT_EQ(device.queued(), 2u);
  ASSERT_TRUE(setFilter(device, kEthernetFilter));
  ASSERT_EQ(device.read(buffer, read, 10ms), ReadResult::Frame);
  EXPECT_EQ(read.stored, kStoredFrameBytes);
  EXPECT_EQ(read.wireLength, 1514u);
  EXPECT_EQ(buffer[kStoredFrameBytes - 1], 0x77);
  EXPECT_EQ(buffer[kStoredFrameBytes], 0xCC);
  ASSERT_EQ(device.read(buffer, read, 10ms), ReadResult::Frame);
  EXPECT_EQ(read.stored, 100u);
  EXPECT_EQ(read.wireLength, 1500u);
}

TEST(MemoryDeviceRead, FinishEndsAfterTheQueueDrainsAndStaysEnded) {
  MemoryDevice device;
  setFilter(device, kEthernetFilter);
  const uint8_t frame[20] = {};
  device.push(frame);
  device.finish();
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead read;
  EXPECT_EQ(device.read(buffer, read, 10ms), ReadResult::Frame);
  EXPECT_EQ(device.read(buffer, read, 10ms), ReadResult::End);
  EXPECT_EQ(device.read(buffer, read, 10ms), ReadResult::End);
}

TEST(MemoryDeviceRead, VanishIsGoneAtOnceWithItsReason) {
  MemoryDevice device;
  setFilter(device, kEthernetFilter);
  const uint8_t frame[20] = {};
  device.push(frame);
  device.vanish("cable cut");
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead read;
  EXPECT_EQ(device.read(buffer, read, 10ms), ReadResult::Gone);
  EXPECT_EQ(device.error(), "cable cut");
}

TEST(MemoryDeviceRead, AWaitingReaderWakesForAFramePushedByAnotherThread) {
  MemoryDevice device;
  setFilter(device, kEthernetFilter);
  std::atomic<bool> started{false};
  std::thread pusher([&] {
    while (!started.load()) std::this_thread::yield();
    const uint8_t frame[64] = {0xAB};
    device.push(frame);
  });
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead read;
  started = true;
  const ReadResult result = device.read(buffer, read, std::chrono::milliseconds(30000));
  pusher.join();
  EXPECT_EQ(result, ReadResult::Frame);
  EXPECT_EQ(buffer[0], 0xAB);
}

TEST(MemoryDeviceRead, ConcurrentPushesArriveCompleteAndInOrder) {
  MemoryDevice device;
  setFilter(device, kEthernetFilter);
  constexpr int kFrames = 5000;
  std::thread pusher([&] {
    for (int i = 0; i < kFrames; ++i) {
      uint8_t frame[64] = {};
      std::memcpy(frame, &i, sizeof i);
      device.push(frame);
    }
    device.finish();
  });
  int expected = 0;
  uint8_t buffer[kStoredFrameBytes] = {};
  FrameRead read;
  for (;;) {
    const ReadResult result = device.read(buffer, read, std::chrono::milliseconds(30000));
    if (result != ReadResult::Frame) {
      EXPECT_EQ(result, ReadResult::End);
      break;
    }
    int number = -1;
    std::memcpy(&number, buffer, sizeof number);
    ASSERT_EQ(number, expected);
    ++expected;
  }
  pusher.join();
  EXPECT_EQ(expected, kFrames);
}

}  // namespace
}  // namespace veltris::capture
