#pragma once
// Reply bytes written field by field at their offsets, independently of the
// record structs, for the reader and printer tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace veltris::cli::testing {

class RecordBytes {
 public:
  explicit RecordBytes(size_t size, uint8_t fill = 0) : bytes_(size, fill) {}

  RecordBytes& text(size_t offset, const std::string& value) {
    std::memcpy(bytes_.data() + offset, value.data(), value.size());
    return *this;
  }
  RecordBytes& u32(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return *this;
  }
  RecordBytes& f32(size_t offset, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return u32(offset, bits);
  }
  // Blank-padded text field, as the agent writes "STAT" texts.
  RecordBytes& padded(size_t offset, size_t width, const std::string& value) {
    std::memset(bytes_.data() + offset, ' ', width);
    return text(offset, value);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

inline RecordBytes replyHeader(uint32_t trafficState = 4, const std::string& version = "19990415") {
  RecordBytes header(32);
  header.text(0, "TASK").text(4, version).text(12, "19990415").text(20, "13:45:07").u32(28, trafficState);
  return header;
}

inline RecordBytes totalsRecord(uint32_t sequence) {
  RecordBytes r(100);
  r.text(0, "TOT ").u32(4, sequence).f32(8, 2114.0f).u32(12, 4).u32(16, 1).u32(20, 1);
  r.f32(24, 290.0f).u32(28, 3).u32(32, 2).u32(36, 0).u32(40, 1).u32(44, 7);
  r.text(48, "WORKSTATION7").text(80, "IP=10.0.0.1");
  return r;
}

inline std::vector<uint8_t> concat(const std::vector<RecordBytes>& records) {
  std::vector<uint8_t> out;
  for (const RecordBytes& r : records) out.insert(out.end(), r.bytes().begin(), r.bytes().end());
  return out;
}

}  // namespace veltris::cli::testing
