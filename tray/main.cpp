// veltris-tray: the VELTRIS taskbar indicator of this PC's agent, per user.
#include <cstdio>
#include <string>

#include <QApplication>
#include <QInputDialog>
#include <QSystemTrayIcon>

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
    "when you may read it, otherwise veltris-tray asks for the agent's password once.\n";

}  // namespace

int main(int argc, char** argv) {
  if (veltris::answerHelpOrVersion(argc, argv, kUsage, (std::string("veltris-tray ") + veltris::kProgramVersion).c_str())) return 0;
  QApplication app(argc, argv);
  app.setApplicationName("veltris-tray");
  app.setQuitOnLastWindowClosed(false);
  app.setWindowIcon(veltris::tray::applicationIcon());

  veltris::tray::TrayController tray(veltris::tray::systemHooks());
  veltris::tray::HelperSettingsStore store(veltris::tray::settingsHelperPath());
  tray.setSettingsStore(&store);

  veltris::tray::StoredKey stored = veltris::tray::readStoredKey();
  if (stored.outcome == veltris::tray::StoredKey::Found) {
    tray.setKey(stored.key);
  } else if (stored.outcome == veltris::tray::StoredKey::NotPermitted) {
    bool ok = false;
    QString password = QInputDialog::getText(nullptr, "VELTRIS", "Password of the VELTRIS Agent on this PC:",
                                             QLineEdit::Password, {}, &ok);
    if (ok) tray.setKey(password.left(16).toStdString());
  } else {
    std::fprintf(stderr, "veltris-tray: %s\n", stored.reason.toLocal8Bit().constData());
  }
  return app.exec();
}
