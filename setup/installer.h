#pragma once
// SETUP's flow: start checks, the advanced-tools continuation or the
// components dialog, then the help book, the agent and the advanced tools.
// Each step starts when the previous one's result arrives; start() returns at
// once and finished(status) tells the end.
#include <QObject>
#include <QPointer>

#include "setup/file_lists.h"
#include "setup/setup_environment.h"
#include "setup/step_runner.h"

namespace veltris::setup {

class AgentInstall;
class ComponentsDialog;

class Installer : public QObject {
  Q_OBJECT

 public:
  explicit Installer(SetupEnvironment env, QObject* parent = nullptr);
  ~Installer() override;

  // Starts the run from the event loop.
  void start();

  const SetupFolders& folders() const { return folders_; }

 signals:
  // The progress dialog showed step `step` (ProgressDialog::Step) in bold.
  void stepMarked(int step);
  // The run is over: SETUP's exit status.
  void finished(int status);

 private:
  void startChecks();
  void systemChecked(bool hasSystemd);
  void restartThroughPkexec();
  bool readInstallAdvanced();
  void chooseComponents();
  void componentsChosen(int result);
  void installAgent();
  void agentInstalled();
  void afterAgent();
  void installAdvancedTools(QWidget* owner);
  void closeWindows();

  SetupEnvironment env_;
  SetupFolders folders_;
  StepRunner steps_;
  bool agentSupported_ = true;
  bool advancedChosen_ = false;
  QPointer<ComponentsDialog> components_;
  QPointer<AgentInstall> agent_;
};

}  // namespace veltris::setup
