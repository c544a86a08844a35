#include "tray/help_link.h"

#if VELTRIS_HAVE_HELP
#include "help/help_window.h"
#else
#include <QMessageBox>
#endif

namespace veltris::tray {

void openHelp(int context, QWidget* parent) {
#if VELTRIS_HAVE_HELP
  veltris::help::showTopic(context, parent);
#else
  QMessageBox::information(parent, "VELTRIS Help",
                           QString("This build of VELTRIS has no help book (topic %1).").arg(context));
#endif
}

}  // namespace veltris::tray
