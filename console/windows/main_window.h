#pragma once
// MainWindow: the console's main window. It owns the connection, the
// start-up and poll timers, the tab control with the Overview, the menus and
// the status bar; it pours each poll into the overview graphs and tells the
// other tabs through its signals. The tabs after Overview are put in place
// with installTab (console/tabs/console_tabs.h does it for the program).
//
// Widgets, actions and timers are found by their form names (objectName):
// "sstMain", "tbxComputerName", "sbMain", "timerInit", "timerPoll", "mnuFileOpen", ...
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/reply_records.h"
#include "console/core/desktop_layer.h"
#include "console/tools/tools_menu.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTabWidget;
class QTimer;

namespace veltris::console {

class HistoryDialog;
class OverviewTab;
class SnapshotFiles;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  enum Tab { TabOverview, TabSessions, TabBroadcasts, TabErrors, TabDetails, TabAdapter, TabTest, TabCount };
  // The Options menu's ticks, as the settings keep them.
  struct ViewOptions {
    bool saveOnExit = true;
    bool foreground = false;
    bool tabsBottom = false;
    bool tabsIcons = true;
    bool tabsCompact = false;
  };

  // `computer`: the command line (a computer name, "" for this PC).
  MainWindow(std::unique_ptr<AgentAccess> access, const QString& computer, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Puts `page` in place of tab `index`'s empty page (caption and icon kept); the window owns it.
  void installTab(Tab index, QWidget* page);
  // Fills the Tools menu: each item starts the first of its programs that `installed` finds.
  void installTools(ProgramFinder installed = programOnPath);
  void showTab(Tab index);
  Tab currentTab() const;

  AgentSession& connection() { return *connection_; }
  const QString& server() const { return sServer_; }
  const QString& serverName() const { return sServerName_; }
  bool isLocal() const { return local_; }
  const TotalsRecord& currentTotals() const { return current_; }
  QString hostName() const { return hostName_; }
  QString ipSummary() const { return ipSummary_; }
  bool historyMode() const { return pollRequest_.startsWith(QLatin1String("TPS ")); }
  QString historyDay() const { return sYYYYMMDD_; }
  QString statusPictureName() const { return statusPicture_; }  // resource of panel 2, "" when clear
  ViewOptions viewOptions() const;
  void setViewOptions(const ViewOptions& options);

  // Closes the connection and connects to `computer` ("" for this PC), shown
  // as `displayName`, through the start-up timer.
  void openComputer(const QString& computer, const QString& displayName);
  // The same for a snapshot file.
  void openSnapshot(const QString& path);
  // The watched agent's snapshot into `path`; `done` says whether the file was written.
  void saveSnapshot(const QString& path, std::function<void(bool)> done = {});
  // The packets of the open snapshot, or of the live agent's, as capture files `base`_N.pcap.
  void exportPackets(const QString& base, std::function<void(bool)> done = {});
  // "&Clear": the counters start again from the agent's current totals.
  void clearCounters();
  // Starts another console ("&New"), placed where this one is: `name` "" for this PC.
  void startNewInstance(const QString& name);
  // Asks the user for the password of this PC's agent; nullopt when dismissed.
  using PasswordPrompt = std::function<std::optional<QString>()>;
  void setPasswordPrompt(PasswordPrompt prompt) { passwordPrompt_ = std::move(prompt); }
  // A new access key of this PC's agent (from its settings dialog, through the
  // single-instance channel): a console watching this PC takes it and reconnects.
  void takeOfferedKey(const QString& key);
  // One poll cycle now (what a poll timer tick does).
  void pollOnce();
  // The UI-thread half of a poll cycle: a reply that the request thread has read.
  void onPollReply(const Reply& reply, bool historyDay);

 signals:
  // A connection is set up (before its history list): this PC's agent or not, and the name shown.
  void connectionReady(bool local, const QString& serverName);
  // The history list is read and polling is about to start.
  void connected();
  // Every poll's partner records, also empty ones.
  void statRecordsArrived(const std::vector<veltris::PartnerStatRecord>& records, bool historyDay);
  // The agent's partner table reset count changed: the session and broadcast grids start over.
  void partnerTableReset();
  // Real time (a "Delta" of "Per " + perText) or a history day: the grids and outputs start empty.
  void timeBaseChanged(bool realTime, const QString& perText);
  // "&Clear": errors and details start after `sequence`; the session rows become the "Count" baseline.
  void countersCleared(uint32_t sequence);
  // "&Reset CLEAR".
  void clearReset();
  // The tab at `index` was opened.
  void tabShown(int index);
  // The user asked for a tab from a graph's menu; `broadcastsSent` selects " Broadcasts Sent".
  void tabRequested(int index, bool broadcastsSent);
  // The window is closing and the connection is closed: time to save settings.
  void aboutToClose();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Menus and view options (main_window_menus.cpp).
  void buildMenus();
  void applyTabStyle();
  void setForeground(bool on);
  void showLegend();
  void showAbout();
  void chooseAndSaveSnapshot();
  void chooseAndOpenSnapshot();
  void chooseAndExportPackets();

  // Connecting (main_window.cpp).
  void buildStatusBar();
  void initTick();
  bool ensureLocalPassword();
  void connectFailed();
  bool runLoginDialog();
  void setUpConnection();
  void onHistoryList(const Reply& reply);
  void onLost();
  void selectRemote();
  void updateLocalFlag();
  QString failureText(const Failure& failure) const;

  // The poll cycle and the status bar (main_window_poll.cpp).
  void takeTotals(const Reply& reply);
  void resetClear();
  void tabChanged(int index);
  void setStatus(int trafficState, const QString& time);
  void clearStatus();

  // Overview and history (main_window_history.cpp).
  static QString FmtDate(const QString& yyyymmdd);
  void fillWhenBox(const std::vector<QString>& days);
  void Main_ReInit(int iMax, int iBarInt, const QString& totalDesc, const QString& peakDesc, const QString& lastDesc);
  void whenChosen(int index);
  void chooseRealTime(int row);
  void chooseDay(const QString& day);
  void onDayTotals(const Reply& reply, bool twelveHours);
  void showGraphMenu(int graph);
  void openGraphTab(int graph);
  void showValues(bool shown);
  void showHistoryList();
  void returnToRealTime();

  std::unique_ptr<AgentSession> connection_;
  std::unique_ptr<ToolsMenu> tools_;
  SnapshotFiles* snapshots_;
  OverviewTab* overview_;
  QTabWidget* sstMain_;
  QLineEdit* tbxComputerName_;
  QLabel* panels_[3];
  QString statusPicture_;
  HistoryDialog* history_ = nullptr;
  QTimer* timerInit_;
  QTimer* timerPoll_;

  QMenu* mnuTools_;
  QMenu* mnuPopupOverview_;
  QAction* mnuOptForeground_;
  QAction* mnuOptTabsBottom_;
  QAction* mnuShowIcons_;
  QAction* mnuTabsCompact_;
  QAction* mnuOptSaveSettings_;

  QString sServer_;
  QString sServerName_;
  QString watchedName_;   // sServerName_, or a snapshot's host name
  QString snapshotPath_;  // the snapshot opened by openSnapshot
  bool local_ = false;
  QString pollRequest_ = QStringLiteral("STATS_PRO ");
  TotalsRecord current_{};
  TotalsRecord previous_{};
  bool loopbackShown_ = false;
  bool receiveHidden_ = false;
  bool connecting_ = false;  // the start-up path or the dialog runs; lost connections don't re-arm
  bool closing_ = false;
  QString sYYYYMMDD_;
  QString hostName_;
  QString ipSummary_;
  int popupGraph_ = 0;
  PasswordPrompt passwordPrompt_;
};

}  // namespace veltris::console
