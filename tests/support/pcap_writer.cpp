#include "tests/support/pcap_writer.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "common/byte_order.h"
#include "tests/support/frame_builder.h"

namespace veltris::capture::testing {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 2);
  storeLe16(out.data() + out.size() - 2, static_cast<uint16_t>(v));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 4);
  storeLe32(out.data() + out.size() - 4, v);
}
void pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}
uint32_t wireOf(const TestFrame& frame) {
  return frame.wireLength != 0 ? frame.wireLength : static_cast<uint32_t>(frame.bytes.size());
}

}  // namespace

std::vector<uint8_t> ethernetFrame(const Mac& destination, const Mac& source, uint16_t type, size_t length,
                                   uint8_t fill) {
  return agent::testing::FrameBuilder().mac(destination).mac(source).be16(type).fill(
      std::max<size_t>(length, 14) - 14, fill).build();
}

std::vector<uint8_t> ipv4Packet(const std::array<uint8_t, 4>& source, const std::array<uint8_t, 4>& destination,
                                size_t length) {
  const size_t size = std::max<size_t>(length, 20);
  return agent::testing::FrameBuilder()
      .u8(0x45)
      .u8(0)
      .be16(static_cast<uint16_t>(size))
      .be32(0x5A5A5A5A)  // identification, flags and fragment offset
      .u8(64)
      .u8(17)
      .be16(0x5A5A)  // checksum
      .ip(source)
      .ip(destination)
      .fill(size - 20, 0x5A)
      .build();
}

std::vector<uint8_t> pcapFile(uint32_t linkType, const std::vector<TestFrame>& frames, uint32_t snapLength) {
  std::vector<uint8_t> out;
  put32(out, 0xA1B2C3D4);
  put16(out, 2);
  put16(out, 4);
  put32(out, 0);
  put32(out, 0);
  put32(out, snapLength);
  put32(out, linkType);
  uint32_t second = 1000000000;
  for (const TestFrame& frame : frames) {
    if (frame.seconds != 0) second = frame.seconds;
    put32(out, second++);
    put32(out, 0);
    put32(out, static_cast<uint32_t>(frame.bytes.size()));
    put32(out, wireOf(frame));
    out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
  }
  return out;
}

std::vector<uint8_t> pcapngFile(uint16_t linkType, const std::vector<TestFrame>& frames) {
  std::vector<uint8_t> out;
  // Section header block.
  put32(out, 0x0A0D0D0A);
  put32(out, 28);
  put32(out, 0x1A2B3C4D);
  put16(out, 1);
  put16(out, 0);
  put32(out, 0xFFFFFFFF);
  put32(out, 0xFFFFFFFF);
  put32(out, 28);
  // Interface description block.
  put32(out, 1);
  put32(out, 20);
  put16(out, linkType);
  put16(out, 0);
  put32(out, 0);
  put32(out, 20);
  for (const TestFrame& frame : frames) {
    const size_t start = out.size();
    put32(out, 6);  // enhanced packet block
    put32(out, 0);  // length, filled in below
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, static_cast<uint32_t>(frame.bytes.size()));
    put32(out, wireOf(frame));
    out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
    pad4(out);
    const uint32_t length = static_cast<uint32_t>(out.size() - start + 4);
    put32(out, length);
    for (int i = 0; i < 4; ++i) out[start + 4 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  return out;
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "veltris-capture-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace veltris::capture::testing
