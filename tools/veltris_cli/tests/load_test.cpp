// The load helpers: latency percentiles, and the paced feed of a capture file
// through a named pipe, read the way the agent's replay device reads it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "tools/veltris_cli/load/capture_feed.h"
#include "tools/veltris_cli/load/poll_clients.h"
#include "tools/veltris_cli/tests/record_bytes.h"

namespace veltris::cli {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(CliLatencyPercentile, RanksOfSortedLatencies) {
  EXPECT_EQ(latencyPercentile({}, 0.5), 0u);
  EXPECT_EQ(latencyPercentile({42}, 0.99), 42u);
  std::vector<uint32_t> hundred;
  for (uint32_t i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_EQ(latencyPercentile(hundred, 0.5), 50u);
  EXPECT_EQ(latencyPercentile(hundred, 0.99), 99u);
  EXPECT_EQ(latencyPercentile(hundred, 1.0), 100u);
  EXPECT_EQ(latencyPercentile(hundred, 0.0), 1u);
}

class CliCaptureFeed : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/veltris-feed-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    trace_ = dir_ / "trace.pcap";
    pipe_ = dir_ / "feed.pcap";
    ASSERT_EQ(::mkfifo(pipe_.c_str(), 0600), 0);
    testing::RecordBytes header(24);
    header.u32(0, 0xa1b2c3d4).u32(4, 0x00040002).u32(16, 65535).u32(20, 1);
    std::vector<testing::RecordBytes> file = {header};
    for (uint32_t i = 0; i < 3; ++i) {
      testing::RecordBytes frame(16 + 60, static_cast<uint8_t>(0xA0 + i));
      frame.u32(0, 944000000 + i).u32(4, 0).u32(8, 60).u32(12, 60);
      file.push_back(frame);
    }
    std::vector<uint8_t> bytes = testing::concat(file);
    std::ofstream(trace_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  void TearDown() override { fs::remove_all(dir_); }

  FeedPlan plan(std::chrono::milliseconds duration) const {
    return FeedPlan{pipe_.string(), trace_.string(), 1000, duration, 2s};
  }

  fs::path dir_, trace_, pipe_;
};

// Reads `size` bytes, or to the end when size is 0.
std::vector<uint8_t> readFrom(int fd, size_t size) {
  std::vector<uint8_t> bytes;
  uint8_t buffer[4096];
  while (size == 0 || bytes.size() < size) {
    ssize_t n = ::read(fd, buffer, size == 0 ? sizeof buffer : std::min(sizeof buffer, size - bytes.size()));
    if (n <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

TEST_F(CliCaptureFeed, EachOpenGetsAHeaderThenFramesFlowUntilTheEnd) {
  auto feeding = std::async(std::launch::async, [&] { return feedCapture(plan(300ms)); });
  int check = ::open(pipe_.c_str(), O_RDONLY);
  ASSERT_GE(check, 0);
  std::vector<uint8_t> checked = readFrom(check, 24);
  ::close(check);
  int reader = ::open(pipe_.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  std::vector<uint8_t> stream = readFrom(reader, 0);  // the end comes when the feed is over
  ::close(reader);
  FeedResult result = feeding.get();
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_GE(result.frames, 200u);  // 1000 frames/s for 0.3 s, looping over three frames
  EXPECT_LE(result.frames, 300u);
  ASSERT_EQ(checked.size(), 24u);
  EXPECT_EQ(checked[0], 0xd4);
  ASSERT_EQ(stream.size(), 24 + result.frames * 76);
  EXPECT_TRUE(std::equal(checked.begin(), checked.end(), stream.begin()));
  for (uint64_t i = 0; i < result.frames; ++i) {
    ASSERT_EQ(stream[24 + i * 76 + 16], 0xA0 + i % 3) << "frame " << i;
  }
}

TEST_F(CliCaptureFeed, ReportsWhatStopsIt) {
  FeedPlan unread = plan(100ms);
  unread.readerTimeout = 200ms;
  FeedResult never = feedCapture(unread);
  EXPECT_FALSE(never.ok);
  EXPECT_NE(never.error.find("never opened"), std::string::npos) << never.error;

  FeedPlan missing = plan(100ms);
  missing.tracePath = (dir_ / "none.pcap").string();
  EXPECT_NE(feedCapture(missing).error.find("cannot open"), std::string::npos);

  std::ofstream(dir_ / "text.pcap") << "not a capture file at all";
  FeedPlan text = plan(100ms);
  text.tracePath = (dir_ / "text.pcap").string();
  EXPECT_NE(feedCapture(text).error.find("is not a pcap file"), std::string::npos);
}

}  // namespace
}  // namespace veltris::cli
