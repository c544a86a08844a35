#include "setup/step_runner.h"

#include <QTimer>
#include <cmath>

namespace veltris::setup {

void StepRunner::run(const Step& step) {
  if (ended_) return;
  if (depth_ > 0) {  // inside another step: its guard catches the exit
    step();
    return;
  }
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(++d) {}
    ~Depth() { --depth; }
  } guard(depth_);
  try {
    step();
  } catch (const SetupExit& exit) {
    end(exit.status);
  }
}

void StepRunner::runAfter(int milliseconds, Step step) {
  const int pause = static_cast<int>(std::lround(milliseconds * pace_));
  QTimer::singleShot(pause, this, [this, step = std::move(step)] { run(step); });
}

void StepRunner::end(int status) {
  if (ended_) return;
  ended_ = true;
  emit finished(status);
}

}  // namespace veltris::setup
