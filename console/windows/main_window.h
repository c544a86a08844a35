#pragma once
// MainWindow: the console's main window. It owns the connection, the start-up
// timer and the poll timer, the tab control with every view, the menus and the
// status bar; it pours each poll into the overview graphs and hands the
// partner records to the sessions view.
//
// Seams for the tabs after " O&verview": installTab() puts a tab's widget in
// place of its empty page, setTabViews() connects the grids to the poll cycle,
// and the menu actions below are public so their owners can connect and
// enable them (those not wired yet are disabled).
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/reply_records.h"
#include "console/core/desktop_layer.h"
#include "desktop/agent_session.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTabWidget;

namespace veltris::console {

class OverviewTab;
class TabViews;
class HistoryDialog;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  enum Tab { TabOverview, TabSessions, TabBroadcasts, TabErrors, TabDetails, TabAdapter, TabTest, TabCount };

  // `computer`: the command line (a computer name, "" for this PC).
  MainWindow(std::unique_ptr<AgentAccess> access, const QString& computer, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Puts `page` in place of tab `index`'s empty page (caption and icon kept); the window owns it.
  void installTab(Tab index, QWidget* page);
  QWidget* tabPage(Tab index) const;
  void setTabViews(TabViews* views) { views_ = views; }
  AgentSession& connection() { return *connection_; }
  OverviewTab* overview() const { return overview_; }
  QTabWidget* tabs() const { return sstMain_; }
  HistoryDialog* historyWindow() const { return history_; }  // null until "Histor&y" opened it

  const QString& server() const { return sServer_; }
  const QString& serverName() const { return sServerName_; }
  bool isLocal() const { return local_; }
  const TotalsRecord& currentTotals() const { return current_; }
  QString hostName() const { return hostName_; }
  QString ipSummary() const { return ipSummary_; }
  int helpContext() const { return helpContext_; }  // 3000 + the shown tab's index
  bool historyMode() const { return pollRequest_.startsWith(QLatin1String("TPS ")); }
  QString historyDay() const { return sYYYYMMDD_; }
  QTimer& timerInit() { return timerInit_; }
  QTimer& timerPoll() { return timerPoll_; }
  QLabel* statusPanel(int panel) const;  // 1 to 3
  QString statusPictureName() const { return statusPicture_; }  // resource of panel 2, "" when clear

  // Closes the connection and connects to `computer` ("*SNAPSHOT* " + path for
  // a snapshot), shown as `displayName`, through the start-up timer.
  void openConnectionTo(const QString& computer, const QString& displayName);
  // Asks the user for the password of this PC's agent; nullopt when dismissed.
  using PasswordPrompt = std::function<std::optional<QString>()>;
  void setPasswordPrompt(PasswordPrompt prompt) { passwordPrompt_ = std::move(prompt); }
  // A new access key of this PC's agent (from its settings dialog, through the
  // single-instance channel): a console watching this PC takes it and reconnects.
  void takeOfferedKey(const QString& key);
  // Starts another console ("&New"), placed where this one is: `name` "" for this PC.
  void startNewInstance(const QString& name);
  // Re-initialises the window for a new time base (all eight graphs get setTimeBase).
  void Main_ReInit(int iMax, int iBarInt, const QString& totalDesc, const QString& peakDesc,
                   const QString& lastDesc);
  // One poll cycle now (what a poll timer tick does).
  void pollOnce();
  // The UI-thread half of a poll cycle: a reply that the request thread has read.
  void onPollReply(const Reply& reply, bool historyDay);

  // Menu items.
  QAction* mnuNew;
  QAction* mnuRemote;
  QAction* mnuFileOpen;
  QAction* mnuFileSave;
  QAction* mnuExit;
  QAction* mnuOptForeground;
  QMenu* mnuOptTabs;
  QAction* mnuOptTabsBottom;
  QAction* mnuShowIcons;
  QAction* mnuTabsCompact;
  QAction* mnuOptSaveSettings;
  QAction* mnuOptResetClear;
  QMenu* mnuTools;
  QAction* mnuToolsNCPA;
  QAction* mnuToolsServer;
  QAction* mnuToolsTelnet;
  QAction* mnuToolsTaskMgr;
  QAction* mnuToolsUserMgr;
  QAction* mnuToolsEventViewer;
  QAction* mnuToolsWinMSD;
  QAction* mnuHelpContents;
  QAction* mnuHelpIndex;
  QAction* mnuLegend;
  QAction* mnuHelpAbout;
  // Pop-up menu of the overview graphs.
  QMenu* mnuPopupOverview;

 signals:
  // Every poll's partner records, also empty ones, after the tab views had them.
  void statRecordsArrived(const std::vector<veltris::PartnerStatRecord>& records, bool historyDay);
  // A connection is set up and polling is about to start.
  void connected();
  // The user asked for a tab from a graph's menu; `broadcastsSent` selects " Broadcasts Sent".
  void tabRequested(int index, bool broadcastsSent);
  // The window is closing and the connection is closed: time to save settings.
  void aboutToClose();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void buildStatusBar();
  void initTick();
  bool ensureLocalPassword();
  void connectFailed();
  bool runLoginDialog();
  void setUpConnection();
  void onHistoryList(const Reply& reply);
  void onLost();
  void selectRemote();
  void clearCounters();
  void resetClear();
  void tabChanged(int index);
  void setStatus(int trafficState, const QString& time);
  void clearStatus();
  void updateLocalFlag();
  QString failureText(const Failure& failure) const;

  // Overview and history (main_window_history.cpp).
  void fillWhenBox(const std::vector<QString>& days);
  void whenChosen(int index);
  void chooseRealTime(int row);
  void chooseDay(const QString& day);
  void onDayTotals(const Reply& reply, bool twelveHours);
  void showGraphMenu(int graph);
  void openGraphTab(int graph);
  void showValues(bool shown);
  void showHistoryList();
  void returnToRealTime();

 public:
  static QString FmtDate(const QString& yyyymmdd);

 private:
  std::unique_ptr<AgentSession> connection_;
  TabViews* views_ = nullptr;
  OverviewTab* overview_;
  QTabWidget* sstMain_;
  QLineEdit* tbxComputerName_;
  QLabel* panels_[3];
  QString statusPicture_;
  HistoryDialog* history_ = nullptr;
  QTimer timerInit_;
  QTimer timerPoll_;

  QString sServer_;
  QString sServerName_;
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
  int helpContext_ = 3000;
  int popupGraph_ = 0;
  PasswordPrompt passwordPrompt_;
};

}  // namespace veltris::console
