#pragma once
// The agent install behind the progress dialog: five steps, each started when
// the previous one's result arrives. Files, the service manager and the unit
// are handled on workers; the dialogs and message boxes stay on the UI thread.
#include <QCoreApplication>
#include <QFuture>
#include <QObject>
#include <QPointer>

#include "setup/dialogs.h"
#include "setup/file_lists.h"
#include "setup/setup_environment.h"
#include "setup/step_runner.h"

namespace veltris::setup {

class InstallSettingsDialog;

class AgentInstall : public QObject {
  Q_OBJECT

 public:
  AgentInstall(const SetupEnvironment& env, const SetupFolders& folders, StepRunner& steps, QObject* parent = nullptr);
  ~AgentInstall() override;

  // Shows the progress dialog and starts the steps; `done` runs once the
  // dialog has closed after the last one.
  void start(StepRunner::Step done);

 signals:
  // A step's label was made bold.
  void stepMarked(int step);

 private:
  void mark(ProgressDialog::Step step, int milliseconds, StepRunner::Step next);
  void copyToTemp();
  void stopOldAgent();
  void placeFiles(int placement);
  void networkComponent();
  void askSettings();
  void settingsClosed();
  void allowHistoryFolder();
  void startAgent();
  void closeWhenStarted();

  const SetupEnvironment& env_;
  const SetupFolders& folders_;
  StepRunner& steps_;
  StepRunner::Step done_;
  bool fromTemp_ = false;
  QPointer<ProgressDialog> progress_;
  QPointer<InstallSettingsDialog> settings_;
  QFuture<long> starting_;  // the service start, on a worker of its own
  bool startRequested_ = false;
};

}  // namespace veltris::setup
