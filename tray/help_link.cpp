#include "tray/help_link.h"

#include <QMessageBox>

#include "help/help_window.h"

namespace veltris::tray {

void openHelp(int context, QWidget* parent) { veltris::help::showTopic(context, parent); }

void openHelpIndex(QWidget* parent) {
  if (!veltris::help::showIndex(parent))
    QMessageBox::warning(parent, "VELTRIS", "The VELTRIS help book cannot be read; reinstall VELTRIS to restore it.");
}

}  // namespace veltris::tray
