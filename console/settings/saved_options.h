#pragma once
// The console's options as saved: read and applied when the window opens
// (the "&New" position included), written through "Save Options on Exit" when
// it closes: the window's place and view options, the shared column widths
// and the sessions grid's counter columns.
#include <QObject>

#include <memory>

#include "console/settings/console_settings.h"

namespace veltris::console {

class MainWindow;
class SessionsTab;
class SharedColumns;

class SavedOptions : public QObject {
  Q_OBJECT
 public:
  // A child of `window`; `columns` and `sessions` live as long as it.
  SavedOptions(MainWindow& window, std::unique_ptr<SettingsStore> store, SharedColumns& columns,
               SessionsTab& sessions);
  ~SavedOptions() override;

  // The options as they would be saved now.
  ConsoleSettings current() const;
  void save();

 private:
  void apply(const ConsoleSettings& s);

  MainWindow& window_;
  std::unique_ptr<SettingsStore> store_;
  SharedColumns& columns_;
  SessionsTab& sessions_;
  ConsoleSettings loaded_;
};

}  // namespace veltris::console
