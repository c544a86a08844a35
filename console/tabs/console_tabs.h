#pragma once
// The console as the program shows it: the main window with the tabs after
// " O&verview", its Tools menu and the saved options.
#include <memory>

#include "console/settings/console_settings.h"
#include "console/tools/tools_menu.h"

namespace veltris::console {

class MainWindow;

// Puts the sessions, broadcasts, errors, details, adapter and test tabs into
// `window` and connects them to its signals and to each other; fills the
// Tools menu; reads the saved options from `store` (the "&New" position
// included) and keeps them there when the window closes.
void installConsoleTabs(MainWindow& window, std::unique_ptr<SettingsStore> store = std::make_unique<SettingsStore>(),
                        ProgramFinder installed = programOnPath);

}  // namespace veltris::console
