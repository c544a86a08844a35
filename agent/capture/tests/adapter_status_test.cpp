#include "agent/capture/adapter_status.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/capture/memory_device.h"

namespace veltris::agent {
namespace {

namespace oid = capture::oid;

const uint8_t kStation[6] = {0x00, 0xA0, 0xC9, 0x12, 0x34, 0x5F};

// The text of a record field; fails the test when it is not terminated within its width.
std::string field(const uint8_t* record, size_t offset, size_t width) {
  const char* text = reinterpret_cast<const char*>(record + offset);
  const size_t length = strnlen(text, width);
  EXPECT_LT(length, width) << "field at " << offset << " is not terminated";
  for (size_t i = length; i < width; ++i) EXPECT_EQ(record[offset + i], 0) << "byte " << offset + i;
  return std::string(text, length);
}

class AdapterStatus : public ::testing::Test {
 protected:
  AdapterStatus() {
    device.setAnswer(oid::kGenDriverVersion, {0x00, 0x04});
    device.setAnswer(oid::kGenVendorDriverVersion, {0x03, 0x07});
    device.setNumber(oid::kGenMacOptions, 0x0F);
    device.setNumber(oid::kGenHardwareStatus, 0);
    device.setNumber(oid::kGenMediaConnectStatus, 0);
    device.setNumber(oid::kGenLinkSpeed, 100000);
    device.setNumber(oid::kGenXmitError, 4000000000u);
    device.setNumber(oid::kGenRcvError, 0);
    device.setNumber(oid::kGenRcvNoBuffer, 0xFFFFFFFF);
    for (uint32_t i = 0; i < 10; ++i) device.setNumber(k8023[i], 100 + i);
    for (uint32_t i = 0; i < 9; ++i) device.setNumber(k8025[i], 200 + i);
  }
  void build(uint32_t index = 0) {
    const AdapterIdentity identity{name.c_str(), title.c_str(), driverText.c_str(), kStation, mediaType, wan, open ? &device : nullptr};
    std::memset(record, 0xEE, sizeof record);
    buildAdapterStatus(identity, index, record);
  }
  std::string text(size_t offset, size_t width) { return field(record, offset, width); }
  std::string counter(int i) { return text(256 + 16 * i, 16); }  // 0..22 in table order

  static constexpr uint32_t k8023[10] = {
      oid::k8023RcvErrorAlignment, oid::k8023XmitOneCollision, oid::k8023XmitMoreCollisions,
      oid::k8023XmitDeferred, oid::k8023XmitMaxCollisions, oid::k8023RcvOverrun, oid::k8023XmitUnderrun,
      oid::k8023XmitHeartbeatFailure, oid::k8023XmitTimesCrsLost, oid::k8023XmitLateCollisions};
  static constexpr uint32_t k8025[9] = {oid::k8025LineErrors,      oid::k8025LostFrames,         oid::k8025BurstErrors,
                                        oid::k8025AcErrors,        oid::k8025AbortDelimiters,    oid::k8025FrameCopiedErrors,
                                        oid::k8025FrequencyErrors, oid::k8025TokenErrors,        oid::k8025InternalErrors};
  capture::MemoryDevice device;
  std::string name = "E100B1", title = "Fast Ethernet Adapter", driverText = "e100b.sys    15-Apr-1999";
  int32_t mediaType = 0;
  bool wan = false, open = true;
  uint8_t record[kAdapterStatusSize];
};

TEST_F(AdapterStatus, EthernetRecordFieldByField) {
  build(2);
  EXPECT_EQ(std::memcmp(record, "OID ", 4), 0);
  EXPECT_EQ(record[4], 3);
  EXPECT_EQ(record[5] | record[6] | record[7], 0);
  EXPECT_EQ(text(8, 32), "E100B1");
  EXPECT_EQ(text(40, 16), "Open");
  EXPECT_EQ(text(56, 16), "NDIS");
  EXPECT_EQ(text(72, 64), "Fast Ethernet Adapter, NDIS 4.0");
  EXPECT_EQ(text(136, 32), "e100b.sys    15-Apr-1999 7.3");
  EXPECT_EQ(text(168, 16), "00A0C912345F");
  EXPECT_EQ(text(184, 20), "Ready");
  EXPECT_EQ(text(204, 20), "Connected");
  EXPECT_EQ(text(224, 16), "Ethernet");
  EXPECT_EQ(text(240, 16), "10 Mbps");
  EXPECT_EQ(counter(0), "4000000000") << "counters are unsigned";
  EXPECT_EQ(counter(1), "0");
  EXPECT_EQ(counter(2), "") << "0xFFFFFFFF means no value";
  EXPECT_EQ(counter(3), "") << "a failed query leaves the field empty";
  for (int i = 0; i < 10; ++i) EXPECT_EQ(counter(4 + i), std::to_string(100 + i)) << i;
  for (int i = 0; i < 9; ++i) EXPECT_EQ(counter(14 + i), "") << "no 802.5 counters on Ethernet";
  EXPECT_EQ(text(624, 100), "");
  EXPECT_EQ(text(724, 20), "");
}

TEST_F(AdapterStatus, LinkSpeedTexts) {
  const std::pair<uint32_t, const char*> cases[] = {
      {100000, "10 Mbps"}, {640, "64 Kbps"}, {5, "500 bps"},       {0, ""},          {10000, "1 Mbps"},
      {9999, "999 Kbps"},  {10, "1 Kbps"},   {9, "900 bps"},       {99999, "9 Mbps"}, {4000000000u, "400000 Mbps"},
  };
  for (const auto& [speed, expected] : cases) {
    device.setNumber(oid::kGenLinkSpeed, speed);
    build();
    EXPECT_EQ(text(240, 16), expected) << speed;
  }
  device.removeAnswer(oid::kGenLinkSpeed);
  build();
  EXPECT_EQ(text(240, 16), "");
}

TEST_F(AdapterStatus, StateTextsAndUnknownCodes) {
  const std::pair<uint32_t, const char*> hardware[] = {
      {1, "Initializing"}, {2, "Reset"}, {3, "Closing"}, {4, "NotReady"}, {5, "UNKNOWN x00000005"},
      {0xDEADBEEF, "UNKNOWN xDEADBEEF"}};
  for (const auto& [code, expected] : hardware) {
    device.setNumber(oid::kGenHardwareStatus, code);
    build();
    EXPECT_EQ(text(184, 20), expected);
  }
  device.setNumber(oid::kGenMediaConnectStatus, 1);
  build();
  EXPECT_EQ(text(204, 20), "Initializing");
  device.setNumber(oid::kGenMediaConnectStatus, 2);
  build();
  EXPECT_EQ(text(204, 20), "UNKNOWN x00000002");
  device.removeAnswer(oid::kGenHardwareStatus);
  device.removeAnswer(oid::kGenMediaConnectStatus);
  build();
  EXPECT_EQ(text(184, 20), "");
  EXPECT_EQ(text(204, 20), "");
}

TEST_F(AdapterStatus, LoopbackAndVersionsFollowTheirQueries) {
  device.setNumber(oid::kGenMacOptions, 0x07);
  build();
  EXPECT_EQ(text(56, 16), "HARDWARE");
  device.removeAnswer(oid::kGenMacOptions);
  device.removeAnswer(oid::kGenDriverVersion);
  device.removeAnswer(oid::kGenVendorDriverVersion);
  build();
  EXPECT_EQ(text(56, 16), "");
  EXPECT_EQ(text(72, 64), "Fast Ethernet Adapter");
  EXPECT_EQ(text(136, 32), "e100b.sys    15-Apr-1999");
  device.setAnswer(oid::kGenDriverVersion, {0x1F, 0x03});
  build();
  EXPECT_EQ(text(72, 64), "Fast Ethernet Adapter, NDIS 3.31");
}

TEST_F(AdapterStatus, TokenRingRecordWithRingStatusAndState) {
  mediaType = 1;
  device.setNumber(oid::k8025CurrentRingStatus, 0x00002040);
  device.setNumber(oid::k8025CurrentRingState, 1);
  build();
  EXPECT_EQ(text(224, 16), "Token Ring");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(counter(4 + i), "") << "no 802.3 counters on Token Ring";
  for (int i = 0; i < 9; ++i) EXPECT_EQ(counter(14 + i), std::to_string(200 + i)) << i;
  EXPECT_EQ(text(624, 100), "Soft Error, Ring Recovery");
  EXPECT_EQ(text(724, 20), "Open");
}

TEST_F(AdapterStatus, RingStatusPhrases) {
  mediaType = 1;
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "Okay"},
      {0x8000, "Signal Loss"},
      {0x0001, "UNKNOWN x00000001"},
      {0x10041, "Ring Recovery"},
      {0x4100, "Hard Error, Counter Overflow"},
      {0x0C80, "Lobe Wire Fault, Auto Removal, Single Station"},
      {0x1200, "Transmit Beacon, Remove Received"},
  };
  for (const auto& [status, expected] : cases) {
    device.setNumber(oid::k8025CurrentRingStatus, status);
    build();
    EXPECT_EQ(text(624, 100), expected) << std::hex << status;
  }
  device.setNumber(oid::k8025CurrentRingStatus, 0xFFC0);
  build();
  const std::string all =
      "Signal Loss, Hard Error, Soft Error, Transmit Beacon, Lobe Wire Fault, Auto Removal, Remove Received, "
      "Counter Overflow, Single Station, Ring Recovery";
  EXPECT_EQ(text(624, 100), all.substr(0, 99)) << "cut to the field";
  const std::pair<uint32_t, const char*> states[] = {{2, "Closed"}, {3, "Opening"}, {4, "Closing"}, {5, "Open Failure"},
                                                     {6, "Ring Failure"}, {0, "UNKNOWN x00000000"}};
  for (const auto& [state, expected] : states) {
    device.setNumber(oid::k8025CurrentRingState, state);
    build();
    EXPECT_EQ(text(724, 20), expected);
  }
  device.removeAnswer(oid::k8025CurrentRingStatus);
  build();
  EXPECT_EQ(text(624, 100), "");
}

TEST_F(AdapterStatus, ClosedAdapterKeepsItsIdentityOnly) {
  open = false;
  build(1);
  EXPECT_EQ(record[4], 2);
  EXPECT_EQ(text(8, 32), "E100B1");
  EXPECT_EQ(text(40, 16), "CLOSED");
  EXPECT_EQ(text(72, 64), "Fast Ethernet Adapter");
  EXPECT_EQ(text(136, 32), "e100b.sys    15-Apr-1999");
  EXPECT_EQ(text(56, 16), "");
  for (size_t i = 168; i < kAdapterStatusSize; ++i) ASSERT_EQ(record[i], 0) << "byte " << i;
}

TEST_F(AdapterStatus, WanRecordHasNo8023Counters) {
  wan = true;
  build();
  EXPECT_EQ(text(224, 16), "WAN 802.3");
  EXPECT_EQ(counter(0), "4000000000") << "the generic counters are there";
  for (int i = 4; i < 23; ++i) EXPECT_EQ(counter(i), "") << i;
  EXPECT_EQ(text(624, 100), "");
}

TEST_F(AdapterStatus, TextsAreCutAtTheirFieldWidth) {
  name = std::string(40, 'N');
  title = std::string(58, 'T');
  driverText = std::string(30, 'D');
  build();
  EXPECT_EQ(text(8, 32), std::string(31, 'N'));
  EXPECT_EQ(text(72, 64), std::string(58, 'T') + ", NDI");
  EXPECT_EQ(text(136, 32), std::string(30, 'D') + " ");
  title = std::string(70, 'T');
  build();
  EXPECT_EQ(text(72, 64), std::string(63, 'T'));
  device.removeAnswer(oid::kGenDriverVersion);
  build();
  EXPECT_EQ(text(72, 64), std::string(63, 'T'));
}

TEST_F(AdapterStatus, TitleFieldReadIsBoundedToItsWidth) {
  // A NIC area field of exactly 64 characters with no terminator after it.
  char unterminated[80];
  std::memset(unterminated, 'X', sizeof unterminated);
  unterminated[64] = '!';
  const AdapterIdentity identity{"A", unterminated, "", kStation, 0, false, nullptr};
  buildAdapterStatus(identity, 0, record);
  EXPECT_EQ(text(72, 64), std::string(63, 'X'));
}

}  // namespace
}  // namespace veltris::agent
