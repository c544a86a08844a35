// SETUP: installs VELTRIS from its distribution folder into the system root
// (VELTRIS_ROOT, default "/"): the help book, the agent with its service, and
// on request the advanced support tools.
#include <QApplication>

#include "common/program_options.h"
#include "platform/service/service_manager.h"
#include "setup/installer.h"
#include "setup/pictures.h"

namespace {

constexpr char kUsage[] =
    "Usage: SETUP\n"
    "Installs VELTRIS from the folder SETUP lies in: the help book, the monitoring agent\n"
    "(TapsorSv, TapsorCC, its capture capabilities and the TapsorSv service) and, on\n"
    "request, the advanced support tools (SetupCL: console, tray, access library).\n"
    "Needs root (it offers to restart itself through pkexec) unless VELTRIS_ROOT names\n"
    "a folder of this user's own.\n\n"
    "Environment: VELTRIS_ROOT  the system root to install into (default /)\n"
    "             TMPDIR        the temporary folder\n";

}  // namespace

int main(int argc, char** argv) {
  if (veltris::answerHelpOrVersion(argc, argv, kUsage, "SETUP (VELTRIS) " VELTRIS_VERSION)) return 0;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VELTRIS Setup"));
  QApplication::setWindowIcon(veltris::setup::applicationIcon());
  // The flow hides one window before it shows the next: only its end ends SETUP.
  QApplication::setQuitOnLastWindowClosed(false);
  veltris::service::SystemdManager manager;
  veltris::setup::Installer installer(veltris::setup::desktopEnvironment(manager));
  QObject::connect(&installer, &veltris::setup::Installer::finished, &app,
                   [](int status) { QCoreApplication::exit(status); });
  installer.start();
  return QApplication::exec();
}
