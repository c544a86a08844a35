// veltris-tray: the VELTRIS taskbar indicator of this PC's agent, per user.
#include <cstdio>
#include <string>

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include "common/program_options.h"
#include "common/version.h"
#include "tray/agent_link.h"
#include "tray/pictures.h"
#include "tray/settings_store.h"
#include "tray/tray_controller.h"

namespace {

constexpr char kUsage[] =
    "Usage: veltris-tray [--help] [--version]\n"
    "Shows the traffic state of this PC's VELTRIS agent in the system tray, second by second,\n"
    "with QuickLook, the agent settings and a launcher for the console (VELTRIS).\n"
    "The desktop starts it at login; the access key comes from the agent's registry file\n"
    "when you may read it, otherwise veltris-tray asks for the agent's password. A password\n"
    "the agent refuses is not sent again: choose \"Enter Password...\" from the icon's menu.\n";

}  // namespace

int main(int argc, char** argv) {
  if (veltris::answerHelpOrVersion(argc, argv, kUsage, (std::string("veltris-tray ") + veltris::kProgramVersion).c_str())) return 0;
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("veltris-tray"));
  app.setQuitOnLastWindowClosed(false);
  app.setWindowIcon(veltris::tray::applicationIcon());

  veltris::tray::TrayController tray(veltris::tray::systemHooks());
  veltris::tray::HelperSettingsStore store(veltris::tray::settingsHelperPath());
  tray.setSettingsStore(&store);

  QTimer::singleShot(0, &tray, [&tray] { tray.loadKey(true); });  // the icon first, then any question
  return app.exec();
}
