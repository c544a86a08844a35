#pragma once
// Snapshot files ("*.VSN"): the signature "VSN ", items of a 4-byte length
// (16 + data length), a 16-byte name and the data, and a zero length at the
// end. Reply items hold a whole reply ("TASK" header first) under the first 16
// bytes of their request text; dump items ("DUMP_n", adapter n from 1) hold a
// capture image with every byte inverted.
//
// The capture image, before inversion: a 128-byte "RTSS" header, the frame
// records back to back, the frame table (the image offset of each record) and
// eight zero bytes.
#include <cstddef>
#include <cstdint>

#include "common/le.h"

namespace veltris {

constexpr char kSnapshotSignature[4] = {'V', 'S', 'N', ' '};
constexpr size_t kSnapshotItemNameSize = 16;
constexpr size_t kSnapshotItemHeaderSize = 4 + kSnapshotItemNameSize;
constexpr char kDumpItemPrefix[] = "DUMP_";

constexpr char kCaptureImageTag[4] = {'R', 'T', 'S', 'S'};
constexpr uint16_t kCaptureMedium8023 = 1;
constexpr uint16_t kCaptureMedium8025 = 2;
constexpr uint16_t kCaptureDayOfWeekWord = 2;  // always 2, whatever the day
constexpr size_t kCaptureTrailerSize = 8;
constexpr uint32_t kCaptureStoredMax = 256;

struct SnapshotItemHeader {
  LeU32 length;  // 16 + data length; 0 ends the file
  char name[kSnapshotItemNameSize];
};
static_assert(sizeof(SnapshotItemHeader) == kSnapshotItemHeaderSize);
static_assert(offsetof(SnapshotItemHeader, name) == 4);

struct CaptureImageHeader {
  char tag[4];  // "RTSS"
  uint8_t versionMinor;  // 1
  uint8_t versionMajor;  // 1
  LeU16 medium;          // 1 = 802.3, 2 = 802.5
  LeU16 startTime[8];    // year, month, 2, day, hour, minute, second, 0: local time of the first frame
  LeU32 frameTableOffset;
  LeU32 frameTableLength;  // 4 x frames
  uint8_t unused[96];
};
static_assert(sizeof(CaptureImageHeader) == 128);
static_assert(offsetof(CaptureImageHeader, medium) == 6);
static_assert(offsetof(CaptureImageHeader, startTime) == 8);
static_assert(offsetof(CaptureImageHeader, frameTableOffset) == 24);
static_assert(offsetof(CaptureImageHeader, frameTableLength) == 28);
static_assert(offsetof(CaptureImageHeader, unused) == 32);

// In front of each frame's stored bytes.
struct CaptureFrameHeader {
  LeU32 milliseconds;  // since the first frame
  LeU16 frameLength;   // on the wire, low 16 bits
  LeU16 storedLength;  // the frame length when under 256, else 256
};
static_assert(sizeof(CaptureFrameHeader) == 8);
static_assert(offsetof(CaptureFrameHeader, frameLength) == 4);
static_assert(offsetof(CaptureFrameHeader, storedLength) == 6);

}  // namespace veltris
