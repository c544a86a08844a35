#pragma once
// SETUP's flow: start checks, the advanced-tools continuation or the
// components dialog, then the help book, the agent and the advanced tools.
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <functional>

#include "setup/file_lists.h"

namespace veltris::service {
class ServiceManager;
}

namespace veltris::setup {

class ComponentsDialog;
class InstallSettingsDialog;
class ProgressDialog;

struct SetupEnvironment {
  QString programFolder;  // the folder of SETUP's program: the setup folder
  service::ServiceManager* manager = nullptr;
  // A pause that keeps the windows painted (tests pass one that does not wait).
  std::function<void(int milliseconds)> wait;
  // Starts a program without waiting for it (the text viewer, SetupCL).
  std::function<bool(const QString& program, const QStringList& arguments, const QString& folder)> startDetached;
  // Shows a dialog modally and answers its result (tests fill it in instead).
  std::function<int(ComponentsDialog&)> runComponents;
  std::function<int(InstallSettingsDialog&)> runSettings;
  // True when this user may install into the root: root, or a private root of its own.
  std::function<bool(const QString& root)> mayInstall;
  // True when systemd manages services here.
  std::function<bool()> hasSystemd;
};

// The desktop's environment: real waits, processes and dialogs.
SetupEnvironment desktopEnvironment(service::ServiceManager& manager);

class Installer {
  Q_DECLARE_TR_FUNCTIONS(Installer)

 public:
  explicit Installer(SetupEnvironment env) : env_(std::move(env)) {}

  // The whole of one SETUP run; answers the exit status.
  int run();

  const SetupFolders& folders() const { return folders_; }

 private:
  void startChecks();
  bool readInstallAdvanced();
  void chooseComponents();
  void installAgent();
  void installSteps(ProgressDialog& progress);
  void stopOldAgent(ProgressDialog& progress);
  void networkComponent(ProgressDialog& progress);
  void addComponent(ProgressDialog& progress);
  void removeComponent();
  void placeTaskbarFiles(ProgressDialog& progress, bool fromTemp);
  void registerService(ProgressDialog& progress);
  void allowHistoryFolder();
  void startAgent(ProgressDialog& progress);
  void installAdvancedTools(QWidget* owner);
  void mark(ProgressDialog& progress, int step, int milliseconds);

  SetupEnvironment env_;
  SetupFolders folders_;
  bool agentSupported_ = true;
};

}  // namespace veltris::setup
