#pragma once
// SETUP's pictures, painted here: the VELTRIS application icon and the banner
// of the components dialog.
#include <QIcon>
#include <QPixmap>

namespace veltris::setup {

// Two rows of three coloured squares on black: green, yellow, red / white, cyan, blue.
QPixmap applicationPicture(int size);
QIcon applicationIcon();
// The icon, the name and a strip of traffic bars, `width` pixels wide.
QPixmap bannerPicture(int width);

}  // namespace veltris::setup
