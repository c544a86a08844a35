// Walks the golden folder: every capture file's frames decoded as the detail
// replies decode them, against the expected lines beside the file.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "agent/decode/tests/test_frames.h"

namespace veltris::agent::decode::test {
namespace {

namespace fs = std::filesystem;

constexpr int kLinkEthernet = 1;
constexpr int kLinkTokenRing = 6;

// The fields of one decoded frame, as a line of the expected file.
std::string decodedLine(const std::vector<uint8_t>& bytes, const DecodeContext& context) {
  DetailRecord record{};
  prepareDecodedFields(record);
  uint8_t slot[kStoredFrameBytes] = {};
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), sizeof slot), slot);
  describeFrame(context, slot, record);
  std::string line = fieldText(record.destination, sizeof record.destination) + '\t' +
                     fieldText(record.description, sizeof record.description) + '\t' +
                     fieldText(record.protocol, sizeof record.protocol);
  if (record.station[0] != '\0') {
    line += '\t' + fieldText(record.station, sizeof record.station) + '\t' +
            fieldText(record.protoAddr, sizeof record.protoAddr) + '\t' +
            std::string(record.direction, sizeof record.direction);
  }
  return line;
}

std::vector<std::string> decodedLines(const fs::path& capture) {
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* file = pcap_open_offline(capture.c_str(), error);
  if (file == nullptr) {
    ADD_FAILURE() << capture << ": " << error;
    return {};
  }
  DecodeContext context;
  context.portNames = &testPortNames();
  if (pcap_datalink(file) == kLinkTokenRing) {
    context = tokenRingContext();
    context.portNames = &testPortNames();
  } else {
    EXPECT_EQ(pcap_datalink(file), kLinkEthernet) << capture;
  }
  std::vector<std::string> lines;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  while (pcap_next_ex(file, &header, &data) == 1)
    lines.push_back(decodedLine(std::vector<uint8_t>(data, data + header->caplen), context));
  pcap_close(file);
  return lines;
}

std::vector<std::string> expectedLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Golden, EveryCaptureDecodesToItsExpectedLines) {
  size_t files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(GOLDEN_DIR)) {
    if (entry.path().extension() != ".pcap") continue;
    ++files;
    fs::path expectedPath = fs::path(entry.path()).replace_extension(".txt");
    ASSERT_TRUE(fs::exists(expectedPath)) << "no expected lines for " << entry.path();
    std::vector<std::string> expected = expectedLines(expectedPath);
    std::vector<std::string> decoded = decodedLines(entry.path());
    EXPECT_EQ(decoded.size(), expected.size()) << entry.path();
    for (size_t i = 0; i < std::min(decoded.size(), expected.size()); ++i)
      EXPECT_EQ(decoded[i], expected[i]) << entry.path().filename().string() << " frame " << i + 1;
  }
  EXPECT_GE(files, 5u);
}

}  // namespace
}  // namespace veltris::agent::decode::test
