#pragma once
// What SETUP's flow takes from the desktop: the service manager, programs it
// starts, how its dialogs are shown, and the checks of this system. Tests fill
// in their own.
#include <QString>
#include <QStringList>
#include <functional>

namespace veltris::service {
class ServiceManager;
}

namespace veltris::setup {

class ComponentsDialog;
class InstallSettingsDialog;

struct SetupEnvironment {
  QString programFolder;  // the folder of SETUP's program: the setup folder
  service::ServiceManager* manager = nullptr;
  // Multiplies every pause of the install steps (tests pass 0).
  double pace = 1.0;
  // Starts a program without waiting for it (the text viewer, SetupCL, pkexec).
  std::function<bool(const QString& program, const QStringList& arguments, const QString& folder)> startDetached;
  // Shows a dialog; the flow goes on when it finishes (tests fill it in instead).
  std::function<void(ComponentsDialog&)> showComponents;
  std::function<void(InstallSettingsDialog&)> showSettings;
  // True when this user may install into the root: root, or a private root of its own.
  std::function<bool(const QString& root)> mayInstall;
  // True when systemd manages services here (asked on a worker: it runs systemctl).
  std::function<bool()> hasSystemd;
};

// The desktop's environment: real pauses, processes and modal dialogs.
SetupEnvironment desktopEnvironment(service::ServiceManager& manager);

}  // namespace veltris::setup
