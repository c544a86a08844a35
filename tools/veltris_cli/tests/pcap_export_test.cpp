// The pcap files written from capture images: header, link type by medium,
// time stamps from the image's start and each frame's milliseconds.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <sstream>

#include "tools/veltris_cli/pcap_export.h"

namespace veltris::cli {
namespace {

uint32_t le32(const std::string& b, size_t at) {
  return uint32_t{static_cast<uint8_t>(b.at(at))} | uint32_t{static_cast<uint8_t>(b.at(at + 1))} << 8 |
         uint32_t{static_cast<uint8_t>(b.at(at + 2))} << 16 | uint32_t{static_cast<uint8_t>(b.at(at + 3))} << 24;
}

TEST(PcapExport, LinkTypeByMediumTimesAndLengthsPerFrame) {
  const char* previous = getenv("TZ");
  const std::string saved = previous ? previous : "";
  setenv("TZ", "UTC", 1);
  tzset();
  const std::vector<uint8_t> bytes(300, 0x5A);
  struct Case {
    uint16_t medium;
    uint32_t linkType;
  };
  for (const Case& c : {Case{1, snapshot::kLinkTypeEthernet}, Case{2, snapshot::kLinkTypeIeee8025}, Case{7, snapshot::kLinkTypeEthernet}}) {
    snapshot::CaptureImage image;
    image.medium = c.medium;
    const uint16_t start[8] = {1999, 4, 2, 15, 12, 0, 5, 0};
    std::copy(start, start + 8, image.start);
    image.frames.push_back({0, 1514, std::span<const uint8_t>(bytes.data(), 256)});
    image.frames.push_back({2500, 20, std::span<const uint8_t>(bytes.data(), 60)});  // a cut wire length
    std::ostringstream written;
    ASSERT_TRUE(snapshot::writePcap(image, written));
    const std::string pcap = written.str();
    ASSERT_EQ(pcap.size(), 24u + 16 + 256 + 16 + 60);
    EXPECT_EQ(le32(pcap, 0), 0xA1B2C3D4u);
    EXPECT_EQ(le32(pcap, 16), 256u);
    EXPECT_EQ(le32(pcap, 20), c.linkType) << c.medium;
    const uint32_t t0 = 924177605;  // 1999-04-15 12:00:05 UTC
    EXPECT_EQ(le32(pcap, 24), t0);
    EXPECT_EQ(le32(pcap, 28), 0u);
    EXPECT_EQ(le32(pcap, 32), 256u);
    EXPECT_EQ(le32(pcap, 36), 1514u);
    const size_t second = 24 + 16 + 256;
    EXPECT_EQ(le32(pcap, second), t0 + 2);
    EXPECT_EQ(le32(pcap, second + 4), 500000u);
    EXPECT_EQ(le32(pcap, second + 8), 60u);
    EXPECT_EQ(le32(pcap, second + 12), 60u);
  }
  if (previous) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace veltris::cli
