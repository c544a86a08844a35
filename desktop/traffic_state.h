#pragma once
// The traffic state code of a reply header: its picture, the console's status
// bar tooltip and the tray's text.
#include <QString>

namespace veltris::desktop {

// The six pictures, numbered as the console's status picture list.
enum class TrafficPicture { Error = 1, BroadcastSent, Session, BroadcastReceived, Idle, NotReceiving };

struct TrafficState {
  int code;
  const char* statusText;  // the console's tooltip (untranslated; see statusTooltip)
  const char* trayText;    // the tray's text (untranslated; see trayText)
  TrafficPicture picture;
};

// The row of a code 1 to 10; nullptr for anything else (0: the agent has not evaluated yet).
const TrafficState* trafficState(int code);

// The console's status bar: "UNKNOWN STATE" and the red picture for codes outside the table.
QString statusTooltip(int code);
TrafficPicture statusPicture(int code);
// Resource path of a status picture, e.g. ":/veltris/lan_red.svg".
QString statusPicturePath(TrafficPicture picture);
// The tray's text of a state row.
QString trayText(const TrafficState& state);

}  // namespace veltris::desktop
