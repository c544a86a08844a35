#pragma once
// PollPacer: how many poll intervals one totals difference covers. A poll that
// comes late (a busy connection skipped ticks) spans several intervals, and a
// graph bar is a per-interval rate, so the difference is spread over them. The
// first reading after a change of time base is only a baseline.
#include <QtGlobal>
#include <functional>

namespace veltris::console {

class PollPacer {
 public:
  using Clock = std::function<qint64()>;  // milliseconds, monotonic

  PollPacer();

  // A new time base: the next reading is a baseline and draws nothing.
  void restart(int intervalMs);
  // The totals just read are the baseline of the next difference.
  void baselineTaken();
  // A reading has arrived: the intervals since the previous one (at least 1),
  // or 0 when there was no baseline.
  int readingTaken();

  int intervalMs() const { return intervalMs_; }
  void setClock(Clock clock) { clock_ = std::move(clock); }

 private:
  Clock clock_;
  int intervalMs_ = 1000;
  bool haveBaseline_ = false;
  qint64 baselineAt_ = 0;
};

}  // namespace veltris::console
