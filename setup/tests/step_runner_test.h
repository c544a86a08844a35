#pragma once
// The flow's plumbing: an exit anywhere in a step ends the flow once, and
// nothing started before the end runs after it.
#include <QObject>

namespace veltris::setup::testing {

class StepRunnerTest : public QObject {
  Q_OBJECT

 private slots:
  void exitEndsTheFlowOnce_data();
  void exitEndsTheFlowOnce();
  void resultsArriveOnTheWindowThreadInOrder();
};

}  // namespace veltris::setup::testing
