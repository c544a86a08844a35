// VELTRIS: the monitoring console.  VELTRIS [COMPUTER]
#include <QApplication>
#include <QIcon>
#include <cstdio>

#include <string>

#include "common/program_options.h"
#include "common/version.h"
#include "console/core/desktop_layer.h"
#include "desktop/library_access.h"
#include "console/core/single_instance.h"
#include "console/tabs/console_tabs.h"
#include "console/windows/main_window.h"

namespace {

constexpr char kUsage[] =
    "Usage: VELTRIS [COMPUTER]\n"
    "The VELTRIS monitoring console: shows the traffic of the agent TapsorSv on this PC,\n"
    "or on COMPUTER (a name or address), as graphs, history days and tables.\n"
    "Without COMPUTER it connects to the agent on this PC with the access key of this\n"
    "PC's registry; when that fails it asks for a computer and a password.\n\n"
    "  --help      this text\n"
    "  --version   the console's version\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string version = std::string("VELTRIS console ") + veltris::kProgramVersion + " (agent version stamp " + veltris::desktop::kConsoleVersion + ")";
  if (veltris::answerHelpOrVersion(argc, argv, kUsage, version.c_str())) return 0;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VELTRIS"));
  QApplication::setOrganizationName(QStringLiteral("VELTRIS"));
  QApplication::setDesktopFileName(QStringLiteral("veltris"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/veltris/veltris.svg")));
  QStringList args = QApplication::arguments();
  args.removeFirst();
  if (args.size() > 1) {
    std::fprintf(stderr, "VELTRIS: one computer name at most (got %lld arguments); see VELTRIS --help\n",
                 static_cast<long long>(args.size()));
    return 2;
  }
  veltris::console::MainWindow window(std::make_unique<veltris::console::LibraryAccess>(),
                                      args.isEmpty() ? QString() : args.front());
  veltris::console::installConsoleTabs(window);
  veltris::console::SingleInstanceChannel channel(&window);
  QObject::connect(&channel, &veltris::console::SingleInstanceChannel::keyOffered, &window,
                   &veltris::console::MainWindow::takeOfferedKey);
  channel.listen();
  window.show();
  return app.exec();
}
