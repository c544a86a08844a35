#include "console/widgets/poll_pacer.h"

#include <QElapsedTimer>
#include <memory>
#include <algorithm>
#include <cmath>

namespace veltris::console {

PollPacer::PollPacer() {
  clock_ = [timer = std::make_shared<QElapsedTimer>()]() {
    if (!timer->isValid()) timer->start();
    return timer->elapsed();
  };
}

void PollPacer::restart(int intervalMs) {
  intervalMs_ = std::max(1, intervalMs);
  haveBaseline_ = false;
}

void PollPacer::baselineTaken() {
  baselineAt_ = clock_();
  haveBaseline_ = true;
}

int PollPacer::readingTaken() {
  const qint64 now = clock_();
  const bool hadBaseline = haveBaseline_;
  const qint64 elapsed = now - baselineAt_;
  baselineAt_ = now;
  haveBaseline_ = true;
  if (!hadBaseline) return 0;
  // Timer jitter of less than half an interval still counts as one.
  const double intervals = std::round(static_cast<double>(elapsed) / intervalMs_);
  return static_cast<int>(std::clamp(intervals, 1.0, 1e6));
}

}  // namespace veltris::console
