#pragma once
// Capture files written byte by byte for the tests and the benchmark.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltris::capture::testing {

using Mac = std::array<uint8_t, 6>;

struct TestFrame {
  std::vector<uint8_t> bytes;  // as captured
  uint32_t wireLength = 0;     // 0: bytes.size()
  uint32_t seconds = 0;        // time stamp; 0: one second after the previous frame
};

// Link type numbers as they stand in capture files.
constexpr uint32_t kLinkEthernet = 1, kLinkTokenRing = 6, kLinkRaw = 101, kLinkLinuxSll = 113, kLinkPppWithDir = 204;

// An Ethernet frame of `length` bytes: header, then `fill` bytes.
std::vector<uint8_t> ethernetFrame(const Mac& destination, const Mac& source, uint16_t type, size_t length,
                                   uint8_t fill = 0xA5);
// A minimal IPv4 header of `length` bytes in total, protocol UDP.
std::vector<uint8_t> ipv4Packet(const std::array<uint8_t, 4>& source, const std::array<uint8_t, 4>& destination,
                                size_t length);

std::vector<uint8_t> pcapFile(uint32_t linkType, const std::vector<TestFrame>& frames, uint32_t snapLength = 65535);
std::vector<uint8_t> pcapngFile(uint16_t linkType, const std::vector<TestFrame>& frames);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A fresh directory removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace veltris::capture::testing
