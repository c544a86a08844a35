#pragma once
// The help book from the tray: its index, and topics by context number.
class QWidget;

namespace veltris::tray {

void openHelp(int context, QWidget* parent);
void openHelpIndex(QWidget* parent);

}  // namespace veltris::tray
