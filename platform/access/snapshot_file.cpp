#include "platform/access/snapshot_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/snapshot_format.h"

namespace veltris::snapshot {
namespace {

constexpr char kOpenItem[] = "OPEN ";
constexpr uint8_t kReplyTag[4] = {'T', 'A', 'S', 'K'};
constexpr size_t kReplyHeaderSize = 32;

uint32_t le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool readWhole(int fd, std::vector<uint8_t>& bytes) {
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxSnapshotBytes) {
    return false;
  }
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);  // a file that shrank meanwhile reads as cut short
  return true;
}

}  // namespace

std::string Item::nameText() const { return std::string(name.data(), ::strnlen(name.data(), name.size())); }

int Item::dumpAdapter() const {
  const size_t prefix = sizeof kDumpItemPrefix - 1;
  if (std::memcmp(name.data(), kDumpItemPrefix, prefix) != 0) return 0;
  int number = 0;
  size_t i = prefix;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && number < 1000; ++i) number = number * 10 + (name[i] - '0');
  if (i == prefix || (i < name.size() && name[i] != '\0')) return 0;
  return number;
}

LoadResult SnapshotFile::load(const std::string& path) {
  // O_NONBLOCK: a FIFO or device given as the file must not stall the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return LoadResult::Unreadable;
  std::vector<uint8_t> bytes;
  const bool read = readWhole(fd, bytes);
  ::close(fd);
  if (!read) return LoadResult::Unreadable;
  return parse(std::move(bytes));
}

LoadResult SnapshotFile::parse(std::vector<uint8_t> bytes) {
  bytes_ = std::move(bytes);
  items_.clear();
  const size_t size = bytes_.size();
  if (size < 4 || std::memcmp(bytes_.data(), kSnapshotSignature, 4) != 0) return LoadResult::NotASnapshot;
  size_t at = 4;
  for (;;) {
    if (size - at < 4) return LoadResult::CutShort;
    const uint32_t length = le32(bytes_.data() + at);
    at += 4;
    if (length == 0) break;
    if (length < kSnapshotItemNameSize) return LoadResult::NotASnapshot;
    if (length > size - at) return LoadResult::CutShort;
    Item item;
    std::memcpy(item.name.data(), bytes_.data() + at, kSnapshotItemNameSize);
    item.data = std::span<const uint8_t>(bytes_.data() + at + kSnapshotItemNameSize, length - kSnapshotItemNameSize);
    items_.push_back(item);
    at += length;
  }
  const Item* open = find(kOpenItem);
  if (open == nullptr || open->data.size() < kReplyHeaderSize || std::memcmp(open->data.data(), kReplyTag, 4) != 0) {
    return LoadResult::NotASnapshot;
  }
  return LoadResult::Ok;
}

const Item* SnapshotFile::find(std::string_view request) const {
  std::array<char, 16> name{};
  std::memcpy(name.data(), request.data(), std::min(request.size(), name.size()));
  for (const Item& item : items_) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

bool readCaptureImage(std::span<const uint8_t> dumpData, CaptureImage& image, std::string& problem) {
  image = CaptureImage{};
  image.bytes.assign(dumpData.begin(), dumpData.end());
  for (uint8_t& byte : image.bytes) byte = static_cast<uint8_t>(~byte);
  const std::vector<uint8_t>& b = image.bytes;
  const size_t size = b.size();
  if (size < sizeof(CaptureImageHeader) || std::memcmp(b.data(), kCaptureImageTag, 4) != 0) {
    problem = "not a capture image (no RTSS header)";
    return false;
  }
  image.medium = le16(b.data() + offsetof(CaptureImageHeader, medium));
  for (int i = 0; i < 8; ++i) image.start[i] = le16(b.data() + offsetof(CaptureImageHeader, startTime) + 2 * i);
  const uint32_t tableOffset = le32(b.data() + offsetof(CaptureImageHeader, frameTableOffset));
  const uint32_t tableLength = le32(b.data() + offsetof(CaptureImageHeader, frameTableLength));
  if (tableOffset > size || tableLength > size - tableOffset || tableLength % 4 != 0) {
    problem = "the frame table lies outside the image";
    return false;
  }
  // Frame records lie back to back in table order, each after the one before,
  // outside the table: no record is read twice, so nothing expands.
  size_t previousEnd = sizeof(CaptureImageHeader);
  for (uint32_t entry = 0; entry < tableLength; entry += 4) {
    const std::string frameName = "frame " + std::to_string(entry / 4 + 1);
    const uint32_t offset = le32(b.data() + tableOffset + entry);
    if (offset < sizeof(CaptureImageHeader) || offset > size || size - offset < sizeof(CaptureFrameHeader)) {
      problem = frameName + " lies outside the image";
      return false;
    }
    if (offset < previousEnd) {
      problem = frameName + " overlaps or repeats an earlier frame";
      return false;
    }
    const uint8_t* record = b.data() + offset;
    const uint16_t stored = le16(record + offsetof(CaptureFrameHeader, storedLength));
    const uint16_t wire = le16(record + offsetof(CaptureFrameHeader, frameLength));
    if (stored > size - offset - sizeof(CaptureFrameHeader)) {
      problem = frameName + " runs past the image";
      return false;
    }
    if (stored > kCaptureStoredMax || stored > wire) {
      problem = frameName + " stores " + std::to_string(stored) + " bytes (at most " +
                std::to_string(std::min<uint32_t>(wire, kCaptureStoredMax)) + ")";
      return false;
    }
    const size_t end = offset + sizeof(CaptureFrameHeader) + stored;
    if (offset < size_t{tableOffset} + tableLength && end > tableOffset) {
      problem = frameName + " overlaps the frame table";
      return false;
    }
    previousEnd = end;
    CaptureFrame frame;
    frame.milliseconds = le32(record);
    frame.frameLength = wire;
    frame.data = std::span<const uint8_t>(record + sizeof(CaptureFrameHeader), stored);
    image.frames.push_back(frame);
  }
  return true;
}

const char* loadResultText(LoadResult result) {
  switch (result) {
    case LoadResult::Ok:
      return "a snapshot";
    case LoadResult::Unreadable:
      return "the file cannot be read";
    case LoadResult::NotASnapshot:
      return "the file is not a VELTRIS snapshot";
    case LoadResult::CutShort:
      return "the snapshot is cut short";
  }
  return "unknown";
}

}  // namespace veltris::snapshot
