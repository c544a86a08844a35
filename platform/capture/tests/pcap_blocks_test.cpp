// Classic pcap files read record by record from their bytes, checked against
// libpcap's reading of the same files: both byte orders, nanosecond stamps,
// damaged endings, and the files left to libpcap.
#include "platform/capture/pcap_blocks.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <string>
#include <vector>

#include "platform/capture/device.h"
#include "tests/support/pcap_writer.h"

namespace veltris::capture {
namespace {

using namespace testing;

struct Seen {
  std::vector<uint8_t> bytes;
  uint32_t wireLength, seconds;
  bool operator==(const Seen&) const = default;
};

// Records as libpcap reads them, and whether it ended cleanly.
std::vector<Seen> readWithLibpcap(const std::string& path, bool& clean) {
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(path.c_str(), error);
  EXPECT_NE(p, nullptr) << error;
  std::vector<Seen> out;
  pcap_pkthdr* h;
  const u_char* b;
  int status;
  while ((status = pcap_next_ex(p, &h, &b)) == 1)
    out.push_back({{b, b + h->caplen}, h->len, static_cast<uint32_t>(h->ts.tv_sec)});
  clean = status == PCAP_ERROR_BREAK;
  pcap_close(p);
  return out;
}

std::vector<Seen> readWithBlocks(const std::string& path, bool& clean, std::string* error = nullptr) {
  PcapBlockReader reader;
  EXPECT_TRUE(reader.open(path));
  std::vector<Seen> out;
  PcapBlockReader::Record r;
  PcapBlockReader::Next status;
  while ((status = reader.next(r)) == PcapBlockReader::Next::Frame)
    out.push_back({{r.bytes, r.bytes + r.captured}, r.wireLength, r.seconds});
  clean = status == PcapBlockReader::Next::End;
  if (error != nullptr) *error = reader.error();
  return out;
}

std::vector<TestFrame> someFrames(int count) {
  std::vector<TestFrame> frames;
  const Mac a = {2, 0, 0, 0, 0, 1}, b = {2, 0, 0, 0, 0, 2};
  for (int i = 0; i < count; ++i) {
    size_t length = 14 + (i * 97) % 1500;
    frames.push_back({ethernetFrame(i % 2 ? a : b, i % 2 ? b : a, 0x0800, length, static_cast<uint8_t>(i)),
                      static_cast<uint32_t>(length + i % 3), i == 0 ? 1'600'000'000u : 0u});
  }
  return frames;
}

// The file with every header field in the other byte order.
std::vector<uint8_t> swapped(std::vector<uint8_t> file) {
  auto swap32 = [&](size_t off) { std::swap(file[off], file[off + 3]), std::swap(file[off + 1], file[off + 2]); };
  auto swap16 = [&](size_t off) { std::swap(file[off], file[off + 1]); };
  swap32(0), swap16(4), swap16(6), swap32(8), swap32(12), swap32(16), swap32(20);
  for (size_t off = 24; off + 16 <= file.size();) {
    uint32_t captured = file[off + 8] | file[off + 9] << 8 | file[off + 10] << 16 | uint32_t{file[off + 11]} << 24;
    for (size_t f = 0; f < 16; f += 4) swap32(off + f);
    off += 16 + captured;
  }
  return file;
}

// 3000 records span several blocks.
TEST(PcapBlocks, SameRecordsAsLibpcap) {
  TempDir dir;
  std::vector<uint8_t> plain = pcapFile(kLinkEthernet, someFrames(3000));
  std::vector<uint8_t> nano = plain;
  nano[0] = 0x4D, nano[1] = 0x3C;  // a1b23c4d: nanosecond stamps
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {{"plain.pcap", plain}, {"swapped.pcap", swapped(plain)}, {"nano.pcap", nano},
               {"empty.pcap", pcapFile(kLinkEthernet, {})}};
  for (const Case& c : cases) {
    writeFile(dir / c.name, c.bytes);
    bool libpcapClean = false, blocksClean = false;
    std::vector<Seen> expected = readWithLibpcap((dir / c.name).string(), libpcapClean);
    EXPECT_EQ(readWithBlocks((dir / c.name).string(), blocksClean), expected) << c.name;
    EXPECT_TRUE(libpcapClean && blocksClean) << c.name;
  }
}

TEST(PcapBlocks, DamagedEndingsStopWhereLibpcapStops) {
  TempDir dir;
  std::vector<uint8_t> file = pcapFile(kLinkEthernet, someFrames(20));
  const size_t cuts[] = {file.size() - 1, file.size() - 100, file.size() - 1500 - 10};
  for (size_t cut : cuts) {
    std::vector<uint8_t> damaged(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    writeFile(dir / "cut.pcap", damaged);
    bool libpcapClean = true, blocksClean = true;
    std::vector<Seen> expected = readWithLibpcap((dir / "cut.pcap").string(), libpcapClean);
    std::string error;
    EXPECT_EQ(readWithBlocks((dir / "cut.pcap").string(), blocksClean, &error), expected) << cut;
    EXPECT_FALSE(libpcapClean);
    EXPECT_FALSE(blocksClean);
    EXPECT_NE(error.find("truncated dump file"), std::string::npos) << error;
  }
  // A record claiming more than any capture holds.
  std::vector<uint8_t> huge = file;
  huge[24 + 10] = 0x10;  // captured length of the first record beyond 1 MB
  writeFile(dir / "huge.pcap", huge);
  bool clean = true;
  std::string error;
  EXPECT_TRUE(readWithBlocks((dir / "huge.pcap").string(), clean, &error).empty());
  EXPECT_FALSE(clean);
  EXPECT_NE(error.find("invalid packet capture length"), std::string::npos) << error;
}

TEST(PcapBlocks, OtherFilesAreLeftToLibpcap) {
  TempDir dir;
  writeFile(dir / "frames.pcapng", pcapngFile(1, someFrames(3)));
  writeFile(dir / "short.pcap", {0xD4, 0xC3, 0xB2, 0xA1});
  PcapBlockReader reader;
  EXPECT_FALSE(reader.open((dir / "frames.pcapng").string()));
  EXPECT_FALSE(reader.open((dir / "short.pcap").string()));
  EXPECT_FALSE(reader.open((dir / "missing.pcap").string()));
  EXPECT_FALSE(reader.open("/dev/null"));
}

}  // namespace
}  // namespace veltris::capture
