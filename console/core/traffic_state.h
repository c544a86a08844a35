#pragma once
// The traffic state code of a reply header as the status bar shows it.
#include <QString>

namespace veltris::console {

// Pictures of the status picture list, numbered from 1.
enum StatusPicture { kLanRed = 1, kLanYellow = 2, kLanGreen = 3, kLanCyan = 4, kLanIdle = 5, kLanNoReceive = 6 };

struct TrafficStateView {
  QString tooltip;
  StatusPicture picture;
};

TrafficStateView trafficStateView(int code);
// Resource path of a status picture, e.g. ":/veltris/lan_red.svg".
QString statusPicturePath(StatusPicture picture);

}  // namespace veltris::console
