#include "desktop/traffic_state.h"

#include <QCoreApplication>
#include <array>

namespace veltris::desktop {
namespace {

using P = TrafficPicture;

constexpr std::array<TrafficState, 10> kStates = {{
    {1, QT_TRANSLATE_NOOP("TrafficState", "Error detected by sender"),
     QT_TRANSLATE_NOOP("TrafficState", "Error detected"), P::Error},
    {2, QT_TRANSLATE_NOOP("TrafficState", "Error detected by receiver"),
     QT_TRANSLATE_NOOP("TrafficState", "Error detected"), P::Error},
    {3, QT_TRANSLATE_NOOP("TrafficState", "Broadcast traffic sent"),
     QT_TRANSLATE_NOOP("TrafficState", "Broadcast traffic sent"), P::BroadcastSent},
    {4, QT_TRANSLATE_NOOP("TrafficState", "Session traffic received"),
     QT_TRANSLATE_NOOP("TrafficState", "Session traffic"), P::Session},
    {5, QT_TRANSLATE_NOOP("TrafficState", "Session traffic sent"),
     QT_TRANSLATE_NOOP("TrafficState", "Session traffic"), P::Session},
    {6, QT_TRANSLATE_NOOP("TrafficState", "Session traffic since last broadcast"),
     QT_TRANSLATE_NOOP("TrafficState", "Session traffic since last broadcast"), P::Session},
    {7, QT_TRANSLATE_NOOP("TrafficState", "Broadcast traffic received"),
     QT_TRANSLATE_NOOP("TrafficState", "Broadcast traffic received"), P::BroadcastReceived},
    {8, QT_TRANSLATE_NOOP("TrafficState", "No traffic sent or received"),
     QT_TRANSLATE_NOOP("TrafficState", "No traffic sent or received"), P::Idle},
    {9, QT_TRANSLATE_NOOP("TrafficState", "No traffic received since PC started"),
     QT_TRANSLATE_NOOP("TrafficState", "NO traffic received since PC started"), P::NotReceiving},
    {10, QT_TRANSLATE_NOOP("TrafficState", "No traffic received in over 60 seconds"),
     QT_TRANSLATE_NOOP("TrafficState", "No traffic received in over 60 seconds"), P::NotReceiving},
}};

constexpr std::array<const char*, 6> kPictureFiles = {"lan_red", "lan_yellow", "lan_green",
                                                      "lan_cyan", "lan_idle", "lan_noreceive"};

QString translated(const char* text) { return QCoreApplication::translate("TrafficState", text); }

}  // namespace

const TrafficState* trafficState(int code) {
  if (code < 1 || code > static_cast<int>(kStates.size())) return nullptr;
  return &kStates[static_cast<size_t>(code - 1)];
}

QString statusTooltip(int code) {
  const TrafficState* state = trafficState(code);
  return state != nullptr ? translated(state->statusText) : translated(QT_TRANSLATE_NOOP("TrafficState", "UNKNOWN STATE"));
}

TrafficPicture statusPicture(int code) {
  const TrafficState* state = trafficState(code);
  return state != nullptr ? state->picture : TrafficPicture::Error;
}

QString statusPicturePath(TrafficPicture picture) {
  return QStringLiteral(":/veltris/%1.svg")
      .arg(QLatin1String(kPictureFiles[static_cast<size_t>(static_cast<int>(picture) - 1)]));
}

QString trayText(const TrafficState& state) { return translated(state.trayText); }

}  // namespace veltris::desktop
