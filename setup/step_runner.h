#pragma once
// How SETUP's flow moves on: each step is started from the event loop when the
// previous one's result arrives (a timer, a dialog that finished, a worker's
// result). Blocking work runs on a worker (QtConcurrent) and its result comes
// back by a queued callback, so the UI thread never waits. "exit" anywhere in a
// step (SetupExit) ends the flow with its status; later results are dropped.
#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <functional>
#include <utility>

#include "setup/setup_exit.h"

namespace veltris::setup {

class StepRunner : public QObject {
  Q_OBJECT

 public:
  using Step = std::function<void()>;

  // pace multiplies every pause (tests run with 0).
  explicit StepRunner(double pace, QObject* parent = nullptr) : QObject(parent), pace_(pace) {}

  // Runs `step` now. A SetupExit it throws ends the flow; steps started from
  // within a step share the outermost guard.
  void run(const Step& step);
  // Runs `step` from the event loop after `milliseconds` (times the pace).
  void runAfter(int milliseconds, Step step);
  // Runs `then(result)` on this thread once `future` has finished. Returns the
  // watcher so a caller may follow the worker's progress.
  template <typename T, typename Then>
  QFutureWatcher<T>* whenDone(QFuture<T> future, Then then);

  // The flow's end: finished(status) once; nothing runs after it.
  void end(int status);
  bool ended() const { return ended_; }

 signals:
  void finished(int status);

 private:
  double pace_;
  int depth_ = 0;
  bool ended_ = false;
};

template <typename T, typename Then>
QFutureWatcher<T>* StepRunner::whenDone(QFuture<T> future, Then then) {
  auto* watcher = new QFutureWatcher<T>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, then = std::move(then)] {
    watcher->deleteLater();
    T result = watcher->result();
    run([&] { then(std::move(result)); });
  });
  watcher->setFuture(std::move(future));  // after connect: a finished future still reports
  return watcher;
}

}  // namespace veltris::setup
