#pragma once
// The main window's parts, found as a user's tools would: by their form names.
#include <QAction>
#include <QSignalSpy>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>

#include "console/core/single_instance.h"
#include "console/tabs/overview_tab.h"
#include "console/windows/main_window.h"

namespace veltris::console::testing {

// Starts the channel and waits for the outcome of its probe.
inline bool listened(SingleInstanceChannel& channel) {
  QSignalSpy done(&channel, &SingleInstanceChannel::listenDone);
  channel.listen();
  return (!done.isEmpty() || done.wait(3000)) && done.first().first().toBool();
}

template <typename T>
T* part(const QObject& owner, const char* name) {
  T* found = owner.findChild<T*>(QLatin1String(name));
  if (found == nullptr) qFatal("no part named %s", name);
  return found;
}

inline QTimer& timerInit(const MainWindow& w) { return *part<QTimer>(w, "timerInit"); }
inline QTimer& timerPoll(const MainWindow& w) { return *part<QTimer>(w, "timerPoll"); }
inline QTabWidget& sstMain(const MainWindow& w) { return *part<QTabWidget>(w, "sstMain"); }
inline QAction& menuItem(const MainWindow& w, const char* name) { return *part<QAction>(w, name); }
// Panel 1 to 3 of the status bar "sbMain".
inline QLabel* statusPanel(const MainWindow& w, int panel) {
  return part<QLabel>(w, QStringLiteral("sbMainPanel%1").arg(panel).toLatin1().constData());
}
inline OverviewTab* overview(const MainWindow& w) {
  OverviewTab* found = w.findChild<OverviewTab*>();
  if (found == nullptr) qFatal("no Overview tab");
  return found;
}

}  // namespace veltris::console::testing
