#include "console/settings/saved_options.h"

#include <QGuiApplication>
#include <QScreen>

#include "console/models/sessions_model.h"
#include "console/tabs/sessions_tab.h"
#include "console/tabs/shared_columns.h"
#include "console/windows/main_window.h"
#include "console/windows/window_geometry.h"

namespace veltris::console {

SavedOptions::SavedOptions(MainWindow& window, std::unique_ptr<SettingsStore> store, SharedColumns& columns,
                           SessionsTab& sessions)
    : QObject(&window), window_(window), store_(std::move(store)), columns_(columns), sessions_(sessions) {
  loaded_ = store_->load();
  apply(loaded_);
  connect(&window_, &MainWindow::aboutToClose, this, &SavedOptions::save);
}

SavedOptions::~SavedOptions() = default;

void SavedOptions::apply(const ConsoleSettings& s) {
  if (!s.mainGeometry.isNull()) {
    const QScreen* screen = QGuiApplication::screenAt(s.mainGeometry.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    window_.setGeometry(screen != nullptr ? fittedGeometry(s.mainGeometry, screen->availableGeometry()) : s.mainGeometry);
  }
  window_.setViewOptions({s.saveSettings, s.foreground, s.tabsBottom, s.tabsIcons, s.tabsCompact});
  for (int c = SharedColumns::kFirst; c <= SharedColumns::kLast; ++c)
    columns_.setWidth(c, s.columnWidths[static_cast<size_t>(c - SharedColumns::kFirst)]);
  for (int i = 0; i < SessionsModel::kCounters; ++i) sessions_.setCounterShown(i, s.counterShown[static_cast<size_t>(i)]);
}

ConsoleSettings SavedOptions::current() const {
  ConsoleSettings s = loaded_;
  const MainWindow::ViewOptions view = window_.viewOptions();
  s.saveSettings = view.saveOnExit;
  s.foreground = view.foreground;
  s.tabsBottom = view.tabsBottom;
  s.tabsIcons = view.tabsIcons;
  s.tabsCompact = view.tabsCompact;
  for (int c = SharedColumns::kFirst; c <= SharedColumns::kLast; ++c)
    if (columns_.width(c) > 0) s.columnWidths[static_cast<size_t>(c - SharedColumns::kFirst)] = columns_.width(c);
  for (int i = 0; i < SessionsModel::kCounters; ++i) s.counterShown[static_cast<size_t>(i)] = sessions_.counterShown(i);
  s.mainGeometry = window_.normalGeometry().isValid() ? window_.normalGeometry() : window_.geometry();
  return s;
}

void SavedOptions::save() { store_->saveOnExit(current()); }

}  // namespace veltris::console
