#pragma once
// Context numbers of the help book. The console and the tray open topics by
// these numbers; help/book/context.map maps each to its page.

namespace veltris::help {

inline constexpr int kQuickLook = 1000;
inline constexpr int kAgentSettings = 1100;
inline constexpr int kTrayIcon = 1200;

// Tabs of the console: 3000 + the tab's index.
inline constexpr int kTabBase = 3000;
inline constexpr int kTabOverview = 3000;
inline constexpr int kTabSessions = 3001;
inline constexpr int kTabBroadcasts = 3002;
inline constexpr int kTabErrors = 3003;
inline constexpr int kTabDetails = 3004;
inline constexpr int kTabAdapter = 3005;
inline constexpr int kTabTest = 3006;
inline constexpr int kTabCount = 7;

inline constexpr int kConnection = 3010;
inline constexpr int kSnapshots = 3020;
inline constexpr int kOptions = 3030;
inline constexpr int kTools = 3040;
inline constexpr int kLegend = 3050;
inline constexpr int kGraphs = 3060;
inline constexpr int kNetUse = 3070;
inline constexpr int kLoopbackWarning = 3100;

}  // namespace veltris::help
