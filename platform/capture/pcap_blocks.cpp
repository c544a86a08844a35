#include "platform/capture/pcap_blocks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltris::capture {
namespace {

constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicNano = 0xA1B23C4D;

uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

PcapBlockReader::~PcapBlockReader() {
  if (fd_ >= 0) ::close(fd_);
}

uint32_t PcapBlockReader::field(const uint8_t* p) const {
  uint32_t v = load32(p);
  return swapped_ ? __builtin_bswap32(v) : v;
}

bool PcapBlockReader::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  uint8_t header[kFileHeader];
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::pread(fd, header, sizeof header, 0) != sizeof header) {
    ::close(fd);
    return false;
  }
  uint32_t magic = load32(header);
  if (magic == kMagicMicro || magic == kMagicNano) {
    swapped_ = false;
  } else if (__builtin_bswap32(magic) == kMagicMicro || __builtin_bswap32(magic) == kMagicNano) {
    swapped_ = true;
  } else {
    ::close(fd);
    return false;  // pcapng or something else: libpcap knows
  }
  if (::lseek(fd, static_cast<off_t>(kFileHeader), SEEK_SET) < 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  block_.resize(kBlock);
  size_ = 0;
  pos_ = 0;
  return true;
}

bool PcapBlockReader::need(size_t bytes) {
  if (size_ - pos_ >= bytes) return true;
  if (eof_) return false;
  // Keep the unread tail, then fill the block behind it.
  size_t tail = size_ - pos_;
  if (bytes > block_.size()) block_.resize(bytes);
  std::memmove(block_.data(), block_.data() + pos_, tail);
  pos_ = 0;
  size_ = tail;
  while (size_ < block_.size()) {
    ssize_t n = ::read(fd_, block_.data() + size_, block_.size() - size_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      eof_ = true;
      break;
    }
    size_ += static_cast<size_t>(n);
  }
  return size_ - pos_ >= bytes;
}

PcapBlockReader::Next PcapBlockReader::next(Record& record) {
  if (!need(kRecordHeader)) {
    if (size_ == pos_) return Next::End;
    error_ = "truncated dump file; tried to read " + std::to_string(kRecordHeader) + " header bytes, only got " +
             std::to_string(size_ - pos_);
    return Next::Damaged;
  }
  const uint8_t* h = block_.data() + pos_;
  uint32_t captured = field(h + 8);
  if (captured > kMaxCaptured) {
    error_ = "invalid packet capture length " + std::to_string(captured) + ", bigger than the maximum of " +
             std::to_string(kMaxCaptured);
    return Next::Damaged;
  }
  if (!need(kRecordHeader + captured)) {
    error_ = "truncated dump file; tried to read " + std::to_string(captured) + " captured bytes, only got " +
             std::to_string(size_ - pos_ - kRecordHeader);
    return Next::Damaged;
  }
  h = block_.data() + pos_;
  record.seconds = field(h);
  record.captured = captured;
  record.wireLength = field(h + 12);
  record.bytes = h + kRecordHeader;
  pos_ += kRecordHeader + captured;
  return Next::Frame;
}

}  // namespace veltris::capture
