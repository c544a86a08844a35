#include "setup/tests/step_runner_test.h"

#include <QSignalSpy>
#include <QTest>
#include <QScopeGuard>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>

#include "setup/step_runner.h"

namespace veltris::setup::testing {

// Where the exit is thrown; in every case the code after it never runs, and
// neither do the timer and the worker's result that were pending.
void StepRunnerTest::exitEndsTheFlowOnce_data() {
  QTest::addColumn<QString>("where");
  QTest::addColumn<int>("status");
  QTest::newRow("in the step") << "step" << 1;
  QTest::newRow("in a step started from a step") << "nested" << 1;
  QTest::newRow("in a timer's step") << "timer" << 0;
  QTest::newRow("in a worker's result") << "worker" << 2;
}

void StepRunnerTest::exitEndsTheFlowOnce() {
  QFETCH(QString, where);
  QFETCH(int, status);
  StepRunner steps(1);
  QSignalSpy finished(&steps, &StepRunner::finished);
  bool after = false, pendingRan = false;
  std::atomic<bool> release{false};
  const auto releaseOnReturn = qScopeGuard([&] {
    release = true;
    QThreadPool::globalInstance()->waitForDone();
  });
  steps.runAfter(200, [&] { pendingRan = true; });
  steps.whenDone(QtConcurrent::run([&] {
    while (!release) QThread::msleep(1);
    return 0;
  }), [&](int) { pendingRan = true; });
  const StepRunner::Step exit = [status] { throw SetupExit{status}; };
  if (where == "step") {
    steps.run([&] {
      exit();
      after = true;
    });
  } else if (where == "nested") {
    steps.run([&] {
      steps.run(exit);
      after = true;
    });
  } else if (where == "timer") {
    steps.runAfter(0, [&] {
      exit();
      after = true;
    });
  } else {
    steps.whenDone(QtConcurrent::run([] { return 7; }), [&](int) {
      exit();
      after = true;
    });
  }
  QTRY_COMPARE(finished.count(), 1);
  QCOMPARE(finished.at(0).at(0).toInt(), status);
  QVERIFY(steps.ended());
  release = true;
  QTest::qWait(400);  // past the pending timer
  QVERIFY(!after);
  QVERIFY2(!pendingRan, "nothing runs after the end");
  steps.end(5);
  QCOMPARE(finished.count(), 1);
}

void StepRunnerTest::resultsArriveOnTheWindowThreadInOrder() {
  StepRunner steps(0);
  QStringList seen;
  QThread* const window = QThread::currentThread();
  steps.whenDone(QtConcurrent::run([window] { return QThread::currentThread() != window; }), [&](bool offThread) {
    QVERIFY(offThread);
    QCOMPARE(QThread::currentThread(), window);
    seen << "worker";
    steps.runAfter(0, [&] { seen << "timer"; });
  });
  QVERIFY2(seen.isEmpty(), "a result comes back through the event loop");
  QTRY_COMPARE(seen, (QStringList{"worker", "timer"}));
}

}  // namespace veltris::setup::testing
