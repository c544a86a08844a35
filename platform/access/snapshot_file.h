#pragma once
// Reading snapshot files ("*.VSN") on the client side: the items, checked
// against the file's size before anything is trusted, and the capture images
// of the dump items with their frames.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltris::snapshot {

enum class LoadResult {
  Ok,
  Unreadable,    // the file cannot be opened or read
  NotASnapshot,  // no "VSN " signature, an item shorter than its name, no "OPEN " reply
  CutShort,      // an item runs past the end, or the end marker is missing
};

struct Item {
  std::array<char, 16> name{};  // as stored, zero-padded
  std::span<const uint8_t> data;

  std::string nameText() const;  // up to the first zero byte
  // The adapter number n of a "DUMP_n" item, 0 for a reply item.
  int dumpAdapter() const;
};

class SnapshotFile {
 public:
  LoadResult load(const std::string& path);
  LoadResult parse(std::vector<uint8_t> bytes);

  const std::vector<Item>& items() const { return items_; }
  // The item stored under the first 16 bytes of `request` (zero-padded).
  const Item* find(std::string_view request) const;
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<Item> items_;
};

// A snapshot larger than this is not read.
constexpr size_t kMaxSnapshotBytes = size_t{1} << 30;

struct CaptureFrame {
  uint32_t milliseconds = 0;  // since the first frame
  uint16_t frameLength = 0;   // on the wire, low 16 bits
  std::span<const uint8_t> data;  // the stored bytes, within the image
};

struct CaptureImage {
  std::vector<uint8_t> bytes;  // the image, inverted back
  uint16_t medium = 0;         // 1 = 802.3, 2 = 802.5
  uint16_t start[8] = {};      // year, month, 2, day, hour, minute, second, milliseconds
  std::vector<CaptureFrame> frames;
};

// Inverts a dump item's data and reads the image. False with `problem` set
// when it is not an "RTSS" image, or a frame lies outside it, overlaps or
// repeats another frame or the table, or stores more than 256 bytes or more
// than its wire length; the frames read before the damage stay in `image`.
bool readCaptureImage(std::span<const uint8_t> dumpData, CaptureImage& image, std::string& problem);

// Text for a load result, for messages.
const char* loadResultText(LoadResult result);

}  // namespace veltris::snapshot
