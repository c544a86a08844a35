#pragma once
// The tray's pictures, painted: the six traffic designs (tray versions with
// "LAN" below, QuickLook versions centred), the "no agent" picture and the
// application icon.
#include <QIcon>
#include <QPixmap>

#include "desktop/traffic_state.h"

namespace veltris::tray {

using Picture = desktop::TrafficPicture;
using desktop::TrafficState;
using desktop::trafficState;

// A traffic picture at `size` pixels square; `withLan` puts the caption below.
QPixmap trafficPixmap(Picture picture, int size, bool withLan);
QIcon trayIcon(Picture picture);
QIcon quickLookIcon(Picture picture);
// Grey with a dash and a small cross: the agent does not answer.
QIcon noAgentIcon();
// Two rows of three coloured squares on black.
QIcon applicationIcon();
// The fill colour of a design (tests look for it on screen).
QColor pictureColour(Picture picture);

}  // namespace veltris::tray
