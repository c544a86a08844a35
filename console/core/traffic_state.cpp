#include "console/core/traffic_state.h"

#include <array>

namespace veltris::console {
namespace {

struct Row {
  int code;
  const char* tooltip;
  StatusPicture picture;
};

constexpr std::array<Row, 10> kStates = {{
    {1, "Error detected by sender", kLanRed},
    {2, "Error detected by receiver", kLanRed},
    {3, "Broadcast traffic sent", kLanYellow},
    {4, "Session traffic received", kLanGreen},
    {5, "Session traffic sent", kLanGreen},
    {6, "Session traffic since last broadcast", kLanGreen},
    {7, "Broadcast traffic received", kLanCyan},
    {8, "No traffic sent or received", kLanIdle},
    {9, "No traffic received since PC started", kLanNoReceive},
    {10, "No traffic received in over 60 seconds", kLanNoReceive},
}};

constexpr std::array<const char*, 6> kPictureFiles = {"lan_red", "lan_yellow", "lan_green",
                                                      "lan_cyan", "lan_idle", "lan_noreceive"};

}  // namespace

TrafficStateView trafficStateView(int code) {
  for (const Row& row : kStates) {
    if (row.code == code) return {QString::fromLatin1(row.tooltip), row.picture};
  }
  return {QStringLiteral("UNKNOWN STATE"), kLanRed};
}

QString statusPicturePath(StatusPicture picture) {
  return QStringLiteral(":/veltris/%1.svg").arg(QString::fromLatin1(kPictureFiles[picture - 1]));
}

}  // namespace veltris::console
