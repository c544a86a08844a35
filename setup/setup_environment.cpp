#include "setup/setup_environment.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include "platform/service/systemctl.h"
#include "setup/dialogs.h"
#include "setup/settings_dialog.h"

namespace veltris::setup {
namespace {

void showModal(QDialog& dialog) {
  dialog.setModal(true);
  dialog.show();
}

}  // namespace

SetupEnvironment desktopEnvironment(service::ServiceManager& manager) {
  SetupEnvironment env;
  env.programFolder = QCoreApplication::applicationDirPath();
  env.manager = &manager;
  env.startDetached = [](const QString& program, const QStringList& arguments, const QString& folder) {
    return QProcess::startDetached(program, arguments, folder);
  };
  env.showComponents = [](ComponentsDialog& dialog) { showModal(dialog); };
  env.showSettings = [](InstallSettingsDialog& dialog) { showModal(dialog); };
  env.mayInstall = [](const QString& root) {
    if (::geteuid() == 0) return true;
    return QDir::cleanPath(root) != "/" && ::access(QFile::encodeName(root).constData(), W_OK) == 0;
  };
  env.hasSystemd = [] { return service::runSystemctl({"--version"}).exitCode == 0; };
  return env;
}

}  // namespace veltris::setup
