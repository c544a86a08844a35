#include "platform/capture/tests/pcap_writer.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace veltris::capture::testing {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
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
  std::vector<uint8_t> frame(std::max<size_t>(length, 14), fill);
  std::copy(destination.begin(), destination.end(), frame.begin());
  std::copy(source.begin(), source.end(), frame.begin() + 6);
  frame[12] = static_cast<uint8_t>(type >> 8);
  frame[13] = static_cast<uint8_t>(type);
  return frame;
}

std::vector<uint8_t> ipv4Packet(const std::array<uint8_t, 4>& source, const std::array<uint8_t, 4>& destination,
                                size_t length) {
  std::vector<uint8_t> packet(std::max<size_t>(length, 20), 0x5A);
  packet[0] = 0x45;
  packet[1] = 0;
  packet[2] = static_cast<uint8_t>(packet.size() >> 8);
  packet[3] = static_cast<uint8_t>(packet.size());
  packet[8] = 64;
  packet[9] = 17;
  std::copy(source.begin(), source.end(), packet.begin() + 12);
  std::copy(destination.begin(), destination.end(), packet.begin() + 16);
  return packet;
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
