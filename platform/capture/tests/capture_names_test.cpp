#include "platform/capture/capture_names.h"

#include <gtest/gtest.h>

#include "tests/support/pcap_writer.h"

namespace veltris::capture {
namespace {

TEST(CaptureNames, FileNamesAndInterfaceNames) {
  EXPECT_TRUE(isCaptureFileName("/tmp/trace"));
  EXPECT_TRUE(isCaptureFileName("trace.pcap"));
  EXPECT_TRUE(isCaptureFileName("TRACE.PCAPNG"));
  EXPECT_TRUE(isCaptureFileName("old.cap@02:00:00:00:00:05"));
  EXPECT_TRUE(isCaptureFileName("dir/trace@02:00:00:00:00:05"));
  EXPECT_FALSE(isCaptureFileName("eth0"));
  EXPECT_FALSE(isCaptureFileName("wlp3s0"));
  EXPECT_FALSE(isCaptureFileName(""));
}

TEST(CaptureNames, AnExistingFileWithoutSuffixIsAFile) {
  testing::TempDir dir;
  testing::writeFile(dir / "capture", {1, 2, 3});
  const auto relative = std::filesystem::relative(dir / "capture");
  EXPECT_TRUE(isCaptureFileName((dir / "capture").string()));
  EXPECT_TRUE(isCaptureFileName(relative.string()));
}

TEST(CaptureNames, StationSuffixIsParsed) {
  CaptureFileName name;
  std::string error;
  ASSERT_TRUE(parseCaptureFileName("/x/trace.pcap@02:00:00:0A:bc:05", name, error));
  EXPECT_EQ(name.path, "/x/trace.pcap");
  EXPECT_TRUE(name.hasStation);
  EXPECT_EQ(name.station, (std::array<uint8_t, 6>{2, 0, 0, 0x0A, 0xBC, 5}));
  ASSERT_TRUE(parseCaptureFileName("/x/trace.pcap", name, error));
  EXPECT_FALSE(name.hasStation);
  ASSERT_TRUE(parseCaptureFileName("a.pcap@02-00-00-00-00-07", name, error));
  EXPECT_EQ(name.station[5], 7);
}

TEST(CaptureNames, MalformedStationSuffixIsAClearError) {
  CaptureFileName name;
  std::string error;
  EXPECT_FALSE(parseCaptureFileName("/x/trace.pcap@02:00:00", name, error));
  EXPECT_NE(error.find("station address"), std::string::npos) << error;
  EXPECT_FALSE(parseCaptureFileName("/x/trace.pcap@zz:00:00:00:00:00", name, error));
  EXPECT_FALSE(parseCaptureFileName("/x/trace.pcap@02:00:00-00:00:00", name, error));
}

}  // namespace
}  // namespace veltris::capture
