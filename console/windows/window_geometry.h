#pragma once
// Where the main window goes: the design size fitted into the screen's
// available area, and stored positions kept on the screen.
#include <QRect>

namespace veltris::console {

// The design-time size of the main window (logical pixels).
inline constexpr int kDesignWidth = 1240;
inline constexpr int kDesignHeight = 700;

// Geometry (without the window frame) of a window that has no stored one:
// the design size, shrunk to fit `available` with room for the frame, centred.
QRect defaultMainGeometry(const QRect& available);

// A stored geometry shrunk to fit `available` and moved inside it, so that a
// setting written on a larger screen still opens a reachable window.
QRect fittedGeometry(const QRect& wanted, const QRect& available);

}  // namespace veltris::console
