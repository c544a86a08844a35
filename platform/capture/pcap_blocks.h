#pragma once
// Frames of a classic pcap file read straight from the file's bytes: the file
// is read in large blocks into one buffer, and each record is found by its
// header, without a library call per frame. (Reading beat mapping the file
// here: a mapped file pays a page fault per few pages.) pcapng files and pipes
// are left to libpcap.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veltris::capture {

class PcapBlockReader {
 public:
  PcapBlockReader() = default;
  ~PcapBlockReader();
  PcapBlockReader(const PcapBlockReader&) = delete;
  PcapBlockReader& operator=(const PcapBlockReader&) = delete;

  // False (and nothing open) unless `path` is a regular classic pcap file.
  bool open(const std::string& path);
  bool isOpen() const { return fd_ >= 0; }

  struct Record {
    const uint8_t* bytes = nullptr;
    uint32_t captured = 0;
    uint32_t wireLength = 0;
    uint32_t seconds = 0;
  };
  enum class Next { Frame, End, Damaged };
  // The next record; its bytes stay valid until the next call. On Damaged, error() says why.
  Next next(Record& record);
  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kBlock = 1 << 18;  // bytes read at a time: stays in the second-level cache
  static constexpr size_t kFileHeader = 24;
  static constexpr size_t kRecordHeader = 16;
  static constexpr uint32_t kMaxCaptured = 262144;  // libpcap's limit for a record

  bool need(size_t bytes);  // at least `bytes` from pos_ in the buffer, unless the file ends
  uint32_t field(const uint8_t* p) const;

  int fd_ = -1;
  bool swapped_ = false;
  std::vector<uint8_t> block_;
  size_t size_ = 0;  // bytes in the buffer
  size_t pos_ = 0;
  bool eof_ = false;
  std::string error_;
};

}  // namespace veltris::capture
