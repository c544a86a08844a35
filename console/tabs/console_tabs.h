#pragma once
// The main window's tabs after " O&verview" and the menus they own: the
// sessions, broadcasts, errors, details, adapter and test tabs; snapshots and
// packet export; options and saved settings; tools; help, legend and about.
// Built on MainWindow's seams (installTab, setTabViews, its public actions).
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "console/settings/console_settings.h"
#include "console/tools/tools_menu.h"
#include "console/windows/tab_views.h"

class QMenu;
class QAction;
class QTableView;

namespace veltris::console {

class MainWindow;
class SessionsTab;
class BroadcastsTab;
class PacketsTab;
class AdapterTab;
class TestTab;

class ConsoleTabs : public QObject, public TabViews {
 public:
  // Reads the settings (the "&New" position included) and applies them to
  // `main`. A child of `main`: it lives as long as the window.
  ConsoleTabs(MainWindow& main, std::unique_ptr<SettingsStore> store = std::make_unique<SettingsStore>(),
                 ProgramFinder installed = programOnPath);
  ~ConsoleTabs() override;

  // TabViews.
  int sessionAndBroadcastDataRows() const override;
  void clearSessionAndBroadcastGrids() override;
  void takeStatRecords(const std::vector<PartnerStatRecord>& records, bool historyDay) override;
  void clearForNewTimeBase() override;
  void setTimeBase(bool realTime, const QString& perText) override;
  void applyClear(uint32_t sequence) override;
  void resetClear() override;
  void tabShown(int index) override;
  void showLoopbackWarning() override;
  void connectionReady(bool local, const QString& serverName) override;

  // Fetches, as the tabs' buttons do.
  void refreshBroadcasts();
  void refreshPackets(PacketsTab* tab, const QString& word);
  void refreshAdapter();
  // Runs "CMD " + word into the Test tab: replacing its text, or appending after a separator.
  void runDiagnostic(const QString& word, bool append = false);
  // The command check, then the run (btnCmd, a double-click in the list).
  void runTypedCommand(const QString& text);
  // "Ping" and "Net view" of the grids' menus.
  void runFromGrid(const QString& command);

  // Snapshots with the file already chosen.
  void saveSnapshotTo(const QString& path, std::function<void(bool)> done = {});
  void openSnapshotFile(const QString& path);
  void exportPacketsTo(const QString& base, std::function<void(bool)> done = {});

  // Current options as they would be saved.
  ConsoleSettings currentSettings() const;
  void saveSettings();
  // The shared widths of columns 1-5 taken from `grid` (widths above 0) and given to every grid.
  void shareColumnWidths(QTableView* grid);
  // The folder the snapshot dialogs start in.
  static QString snapshotFolder();

  SessionsTab* sessions;
  BroadcastsTab* broadcasts;
  PacketsTab* errors;
  PacketsTab* details;
  AdapterTab* adapter;
  TestTab* test;
  QMenu* mnuPopupStats;
  QMenu* mnuPopupDetails;
  QMenu* mnuPopupAdapter;
  QAction* mnuFileExport;
  ToolsMenu& tools() { return *tools_; }
  uint32_t detailsStart() const { return detailsSeen_; }
  uint32_t errorsStart() const { return errorsSeen_; }
  bool diagnosticRunning() const { return running_ > 0; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildTabs();
  void buildMenus();
  void buildPopups();
  void applySettings(const ConsoleSettings& s);
  void applyTabStyle();
  void setForeground(bool on);
  void showPopup(QMenu* menu, QTableView* grid, const QPoint& at);
  void fillTestFromSnapshot();
  void fetchAllPartners();
  void onConnected();
  void chooseAndSaveSnapshot();
  void chooseAndOpenSnapshot();
  void chooseAndExportPackets();
  QList<QTableView*> sharedGrids() const;

  MainWindow& main_;
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<ToolsMenu> tools_;
  ConsoleSettings loaded_;
  bool local_ = true;
  QString serverName_ = "Local";
  QString snapshotPath_;
  uint32_t detailsSeen_ = 0;
  uint32_t errorsSeen_ = 0;
  int running_ = 0;  // diagnostics in flight
  bool commandPending_ = false;  // a grid's menu opens the Test tab to run its own command
  QTableView* shownGrid_ = nullptr;
  QString clickedName_;
  QTableView* clickedGrid_ = nullptr;
  QAction* popupDetails_ = nullptr;
  QAction* popupPing_[2] = {};
  QAction* popupNetView_[2] = {};
  QAction* popupVeltris_[2] = {};
};

}  // namespace veltris::console
