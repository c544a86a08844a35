#pragma once
// Opens the help book at a context number.
class QWidget;

namespace veltris::tray {

constexpr int kHelpIndex = 0;  // the book's index page

void openHelp(int context, QWidget* parent);

}  // namespace veltris::tray
