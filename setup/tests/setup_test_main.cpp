// SETUP's tests: the flow's plumbing, the file groups, the install-time settings dialog and the
// install flows, offscreen, each class over its own temporary world.
#include <QApplication>
#include <QTest>

#include "setup/tests/file_lists_test.h"
#include "setup/tests/settings_dialog_test.h"
#include "setup/tests/setup_flow_test.h"
#include "setup/tests/step_runner_test.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  using namespace veltris::setup::testing;
  StepRunnerTest runner;
  FileListsTest files;
  SettingsDialogTest settings;
  SetupFlowTest flows;
  int failed = 0;
  for (QObject* test : std::initializer_list<QObject*>{&runner, &files, &settings, &flows})
    failed += QTest::qExec(test, argc, argv);
  return failed;
}
