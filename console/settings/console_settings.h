#pragma once
// The console's per-user settings: QSettings application "VELTRIS", group
// "Settings". A missing key leaves the design-time value.
#include <QRect>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class QSettings;

namespace veltris::console {

struct ConsoleSettings {
  bool saveSettings = true;
  bool foreground = false;
  bool tabsBottom = false;
  bool tabsIcons = true;
  bool tabsCompact = false;
  // Widths (pixels) of the shared grid columns 1-5: station, protocol, role, name, time.
  std::array<int, 5> columnWidths = {112, 160, 48, 128, 76};
  // Visibility of the sessions grid's counter columns 6-11.
  std::array<bool, 6> counterShown = {true, true, true, true, true, true};
  QRect mainGeometry;  // null: the window's own default
};

class SettingsStore {
 public:
  // The user's store; tests point XDG_CONFIG_HOME at a temporary folder.
  SettingsStore();
  explicit SettingsStore(std::unique_ptr<QSettings> settings);
  ~SettingsStore();

  // Reads every key. When "NewWidth" is present the geometry is the "&New"
  // position, and its four keys are deleted (consumed once).
  ConsoleSettings load();
  // On unload: "SaveSettings" always; every other key written when it is
  // ticked, deleted when not.
  void saveOnExit(const ConsoleSettings& settings);
  // "&New": where the next window opens.
  void writeNewPosition(const QRect& geometry);

  static const std::array<const char*, 5>& columnWidthKeys();
  static const std::array<const char*, 6>& counterShownKeys();
  QSettings& raw() { return *settings_; }

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace veltris::console
