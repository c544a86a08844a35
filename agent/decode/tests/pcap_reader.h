#pragma once
// Reads the frames of a classic pcap file (either byte order, Ethernet).
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace veltris::agent::decode::test {

inline std::vector<std::vector<uint8_t>> readPcap(const std::string& path) {
  std::vector<std::vector<uint8_t>> frames;
  std::ifstream in(path, std::ios::binary);
  uint8_t header[24];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return frames;
  bool swapped = header[0] == 0xA1 && header[1] == 0xB2;
  auto word = [swapped](const uint8_t* p) {
    return swapped ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                   : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  };
  uint8_t record[16];
  while (in.read(reinterpret_cast<char*>(record), sizeof record)) {
    uint32_t stored = word(record + 8);
    if (stored > 262144) break;
    std::vector<uint8_t> frame(stored);
    if (!in.read(reinterpret_cast<char*>(frame.data()), stored)) break;
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace veltris::agent::decode::test
