#pragma once
// Pieces shared by the detail record and broadcast list builders.
#include <cstddef>
#include <cstdint>

#include "agent/core/state.h"

namespace veltris::agent {

constexpr size_t kClockTextSize = 9;  // "hh:mm:ss" and a terminator

// Role label and host name of a frame's source side, as replies show them.
struct SourceNames {
  char roleLabel[8] = {};
  char hostName[32] = {};
};

// The names from the source partner while `partnerRef` (index + 1) still
// names a partner with this station and protocol text (the table may have been
// emptied and refilled since the frame); otherwise no role label and the host
// name from the adapter's station name table. Takes the adapter's table lock.
SourceNames sourceNamesFor(const NicArea& nic, uint32_t partnerRef, const char (&station)[kStationTextSize],
                           const char (&protoAddr)[kProtoAddrTextSize]);

// Copies the text in `source` (a field of `sourceWidth` bytes, ended by a NUL
// or by its width) into `field`: at most `width` characters, the rest zero.
void copyTextBytes(char* field, size_t width, const char* source, size_t sourceWidth);

// `time` (seconds since 1970) as local "hh:mm:ss" with a terminator.
void formatLocalClock(int64_t time, char* out);

// Local clock texts for the times of a short window. When both ends of the
// window have the same UTC offset, times inside it are converted with that
// offset, without a call into the time zone database each time.
class WindowClock {
 public:
  WindowClock(int64_t start, int64_t end);
  void format(int64_t time, char* out) const;

 private:
  int64_t start_;
  int64_t end_;
  int64_t offset_ = 0;
  bool fixedOffset_ = false;
};

}  // namespace veltris::agent
