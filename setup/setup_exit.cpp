#include "setup/setup_exit.h"

#include <cstdio>

#include "desktop/messages.h"

namespace veltris::setup {

void failAndExit(QWidget* owner, const QString& text) {
  std::fprintf(stderr, "SETUP: %s\n", qPrintable(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" "))));
  desktop::ask(owner, desktop::MessageIcon::Stop, SetupText::tr("VELTRIS Setup Error"), text);
  throw SetupExit{1};
}

}  // namespace veltris::setup
