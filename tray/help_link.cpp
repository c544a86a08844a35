#include "tray/help_link.h"

#include <QCoreApplication>

#include "desktop/messages.h"
#include "help/help_window.h"

namespace veltris::tray {

void openHelp(int context, QWidget* parent) { veltris::help::showTopic(context, parent); }

void openHelpIndex(QWidget* parent) {
  if (!veltris::help::showIndex(parent))
    desktop::ask(parent, desktop::MessageIcon::Exclamation, QStringLiteral("VELTRIS"),
                 QCoreApplication::translate("veltris::tray::TrayController",
                                             "The VELTRIS help book cannot be read; reinstall VELTRIS to restore it."));
}

}  // namespace veltris::tray
