#include "console/windows/main_window.h"

#include <QApplication>
#include <QScreen>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QRadioButton>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QInputDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/core/desktop_layer.h"
#include "desktop/agent_facts.h"
#include "desktop/messages.h"
#include "console/core/resources.h"
#include "desktop/traffic_state.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/connect_dialog.h"
#include "console/windows/overview_tab.h"
#include "console/windows/tab_views.h"
#include "console/windows/window_geometry.h"

namespace veltris::console {
namespace {

constexpr const char* kTabCaptions[MainWindow::TabCount] = {
    QT_TRANSLATE_NOOP("veltris::console::MainWindow", " O&verview"), QT_TRANSLATE_NOOP("veltris::console::MainWindow", " &Sessions"),
    QT_TRANSLATE_NOOP("veltris::console::MainWindow", " &Broadcasts"), QT_TRANSLATE_NOOP("veltris::console::MainWindow", " &Errors"),
    QT_TRANSLATE_NOOP("veltris::console::MainWindow", " &Details"), QT_TRANSLATE_NOOP("veltris::console::MainWindow", " &Adapter"),
    QT_TRANSLATE_NOOP("veltris::console::MainWindow", " &Test")};
constexpr const char* kTabIcons[MainWindow::TabCount] = {"tab_overview", "tab_sessions", "tab_broadcasts",
                                                          "tab_errors",   "tab_details",  "tab_adapter",
                                                          "tab_test"};
const char* const kRemoteBanner = QT_TRANSLATE_NOOP("veltris::console::MainWindow", "   >>>>>>>>>> R E M O T E <<<<<<<<<<<");

// What an open failure means and what to do, for the codes a user meets.
struct OpenFailureHint {
  int32_t code;
  const char* local;   // the agent on this PC
  const char* remote;  // %1: the computer's name
};
constexpr OpenFailureHint kOpenFailureHints[] = {
    {1722,
     QT_TRANSLATE_NOOP("veltris::console::MainWindow",
                       "The VELTRIS agent is not running or cannot be reached on this computer: "
                       "start it (TapsorSv -start) or check the computer name."),
     QT_TRANSLATE_NOOP("veltris::console::MainWindow",
                       "The VELTRIS agent is not running on %1 or %1 cannot be reached: start it there "
                       "(TapsorSv -start), check the computer name, or check that the network lets you through.")},
    {1753,
     QT_TRANSLATE_NOOP("veltris::console::MainWindow",
                       "No VELTRIS agent is registered on this computer: start it (TapsorSv -start)."),
     QT_TRANSLATE_NOOP("veltris::console::MainWindow",
                       "No VELTRIS agent is registered on %1: start it there (TapsorSv -start).")},
    {1460,
     QT_TRANSLATE_NOOP("veltris::console::MainWindow", "The VELTRIS agent did not answer in time: try again."),
     QT_TRANSLATE_NOOP("veltris::console::MainWindow",
                       "The VELTRIS agent on %1 did not answer in time: try again, or check the network.")},
};

QString fieldText(const char* field, int width) {
  QByteArray bytes(field, width);
  bytes.replace('\0', QByteArray());  // embedded null characters removed
  return QString::fromLatin1(bytes);
}

QString rightTrimmed(QString s) {
  while (!s.isEmpty() && s.back().isSpace()) s.chop(1);
  return s;
}

}  // namespace

MainWindow::MainWindow(std::unique_ptr<AgentAccess> access, const QString& computer, QWidget* parent)
    : QMainWindow(parent) {
  loadConsoleResources();
  setObjectName(QStringLiteral("frmMainDlg"));
  setWindowIcon(QIcon(QStringLiteral(":/veltris/veltris.svg")));
  connection_ = std::make_unique<AgentSession>(std::move(access));
  connect(connection_.get(), &AgentSession::failed, this,
          [this](const Failure& failure) { showMessage(this, failureText(failure)); });
  connect(connection_.get(), &AgentSession::replyStatus, this, &MainWindow::setStatus);
  connect(connection_.get(), &AgentSession::statusCleared, this, &MainWindow::clearStatus);
  connect(connection_.get(), &AgentSession::lost, this, &MainWindow::onLost);

  buildMenus();
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 0);
  tbxComputerName_ = new QLineEdit(central);
  tbxComputerName_->setObjectName(QStringLiteral("tbxComputerName"));
  tbxComputerName_->setReadOnly(true);
  tbxComputerName_->setFocusPolicy(Qt::NoFocus);
  tbxComputerName_->setStyleSheet(QStringLiteral("QLineEdit { color: #c00000; font-weight: bold; }"));
  tbxComputerName_->hide();
  layout->addWidget(tbxComputerName_);
  sstMain_ = new QTabWidget(central);
  sstMain_->setObjectName(QStringLiteral("sstMain"));
  overview_ = new OverviewTab(sstMain_);
  for (int t = 0; t < TabCount; ++t) {
    QWidget* page = t == TabOverview ? overview_ : new QWidget(sstMain_);
    sstMain_->addTab(page, QIcon(QStringLiteral(":/veltris/%1.svg").arg(QLatin1String(kTabIcons[t]))),
                     tr(kTabCaptions[t]));
  }
  sstMain_->setIconSize(QSize(16, 16));
  layout->addWidget(sstMain_, 1);
  setCentralWidget(central);
  buildStatusBar();
  connect(sstMain_, &QTabWidget::currentChanged, this, &MainWindow::tabChanged);

  // Overview controls.
  connect(overview_->cmbHistory, qOverload<int>(&QComboBox::activated), this, &MainWindow::whenChosen);
  connect(overview_->btnClear, &QPushButton::clicked, this, &MainWindow::clearCounters);
  connect(overview_->chkShowValues, &QCheckBox::toggled, this, &MainWindow::showValues);
  connect(overview_->btnHistory, &QPushButton::clicked, this, &MainWindow::showHistoryList);
  connect(overview_->btnRealTime, &QPushButton::clicked, this, &MainWindow::returnToRealTime);
  connect(overview_->optHistoryGraph24, &QRadioButton::toggled, this, [this](bool on) {
    if (on && historyMode()) chooseDay(sYYYYMMDD_);
  });
  connect(overview_->optHistoryGraph12, &QRadioButton::toggled, this, [this](bool on) {
    if (on && historyMode()) chooseDay(sYYYYMMDD_);
  });
  for (int g = 0; g < 8; ++g) {
    connect(overview_->graph(g), &TrendGraph::rightClicked, this, [this, g] { showGraphMenu(g); });
    connect(overview_->graph(g), &TrendGraph::doubleClicked, this, [this, g] { openGraphTab(g); });
  }

  passwordPrompt_ = [this]() -> std::optional<QString> {
    bool ok = false;
    const QString typed = QInputDialog::getText(this, QStringLiteral("VELTRIS Connection"),
                                                QStringLiteral("Password of the VELTRIS Agent on this PC:"),
                                                QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return typed;
  };

  timerInit_.setInterval(1);
  connect(&timerInit_, &QTimer::timeout, this, &MainWindow::initTick);
  connect(&timerPoll_, &QTimer::timeout, this, &MainWindow::pollOnce);

  sServer_ = computer.trimmed().toUpper();
  sServerName_ = sServer_.isEmpty() ? tr("Local") : sServer_;
  setWindowTitle(tr("VELTRIS - ") + sServerName_ + tr(" ... connecting ..."));
  const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (shown != nullptr) setGeometry(defaultMainGeometry(shown->availableGeometry()));
  timerInit_.start();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  mnuNew = file->addAction(tr("&New"), this, [this] { startNewInstance(QString()); });
  mnuRemote = file->addAction(tr("Select &Computer"), this, &MainWindow::selectRemote);
  file->addSeparator();
  mnuFileOpen = file->addAction(tr("&Open Snapshot"));
  mnuFileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mnuFileSave = file->addAction(tr("&Save Snapshot"));
  mnuFileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  file->addSeparator();
  mnuExit = file->addAction(tr("E&xit"), this, &QWidget::close);
  mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

  QMenu* options = menuBar()->addMenu(tr("&Options"));
  mnuOptForeground = options->addAction(tr("&Window Always in Foreground"));
  mnuOptForeground->setCheckable(true);
  mnuOptTabs = options->addMenu(tr("&Navigation Tabs"));
  mnuOptTabsBottom = mnuOptTabs->addAction(tr("&Bottom"));
  mnuShowIcons = mnuOptTabs->addAction(tr("&Icons"));
  mnuTabsCompact = mnuOptTabs->addAction(tr("&Compact"));
  for (QAction* a : {mnuOptTabsBottom, mnuShowIcons, mnuTabsCompact}) a->setCheckable(true);
  mnuOptSaveSettings = options->addAction(tr("Save Options on Exit"));
  mnuOptSaveSettings->setCheckable(true);
  options->addSeparator();
  mnuOptResetClear = options->addAction(tr("&Reset CLEAR"), this, &MainWindow::resetClear);

  // "L": every other letter of "Tools" is a tab's or a menu's access key.
  mnuTools = menuBar()->addMenu(tr("Too&ls"));
  mnuToolsNCPA = mnuTools->addAction(tr("Network Control Panel"));
  mnuToolsServer = mnuTools->addAction(tr("Server Control Panel"));
  mnuToolsTelnet = mnuTools->addAction(tr("Telnet"));
  mnuToolsTaskMgr = mnuTools->addAction(tr("Windows NT Task Manager"));
  mnuToolsUserMgr = mnuTools->addAction(tr("User Manager"));
  mnuToolsEventViewer = mnuTools->addAction(tr("Event Viewer \\\\"));
  mnuToolsWinMSD = mnuTools->addAction(tr("Windows NT Diagnostics \\\\"));

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  mnuHelpContents = help->addAction(tr("&Contents ..."));
  mnuHelpIndex = help->addAction(tr("&Index ..."));
  mnuLegend = help->addAction(tr("&Legend"));
  help->addSeparator();
  mnuHelpAbout = help->addAction(tr("&About"));

  // Owned by the snapshot, settings, tools and help windows; off until they are wired.
  for (QAction* a : {mnuFileOpen, mnuFileSave, mnuOptForeground, mnuOptTabsBottom, mnuShowIcons, mnuTabsCompact,
                     mnuOptSaveSettings, mnuToolsNCPA, mnuToolsServer, mnuToolsTelnet, mnuToolsTaskMgr,
                     mnuToolsUserMgr, mnuToolsEventViewer, mnuToolsWinMSD, mnuHelpContents, mnuHelpIndex,
                     mnuLegend, mnuHelpAbout}) {
    a->setEnabled(false);
  }

  mnuPopupOverview = new QMenu(this);

  // A note in panel 1 ("Snapshot saved to ...") belongs to the action that wrote it.
  connect(menuBar(), &QMenuBar::triggered, this, [this] { panels_[0]->clear(); });
  mnuNew->setObjectName(QStringLiteral("mnuNew"));
  mnuRemote->setObjectName(QStringLiteral("mnuRemote"));
  mnuFileOpen->setObjectName(QStringLiteral("mnuFileOpen"));
  mnuFileSave->setObjectName(QStringLiteral("mnuFileSave"));
  mnuExit->setObjectName(QStringLiteral("mnuExit"));
  mnuTools->setObjectName(QStringLiteral("mnuTools"));
}

QString MainWindow::failureText(const Failure& failure) const {
  if (failure.kind != Failure::OpenFailed) return failure.text;
  for (const OpenFailureHint& hint : kOpenFailureHints) {
    if (hint.code != failure.code) continue;
    const QString meaning = sServer_.isEmpty() ? tr(hint.local) : tr(hint.remote).arg(sServerName_);
    return failure.text + QStringLiteral("\n\n") + meaning;
  }
  return failure.text;
}

void MainWindow::buildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("sbMain"));
  bar->setSizeGripEnabled(true);
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(bar);
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    panels_[i]->setFrameShadow(QFrame::Sunken);
    panels_[i]->setMinimumWidth(i == 0 ? 200 : 110);
    bar->addPermanentWidget(panels_[i], i == 0 ? 1 : 0);
  }
  panels_[1]->setToolTip(tr("Status Icon"));
  panels_[2]->setToolTip(tr("Time (on workstation) of last refresh"));
}

QLabel* MainWindow::statusPanel(int panel) const { return panels_[std::clamp(panel, 1, 3) - 1]; }

void MainWindow::installTab(Tab index, QWidget* page) {
  QWidget* old = sstMain_->widget(index);
  QString caption = sstMain_->tabText(index);
  QIcon icon = sstMain_->tabIcon(index);
  bool current = sstMain_->currentIndex() == index;
  sstMain_->blockSignals(true);
  sstMain_->removeTab(index);
  sstMain_->insertTab(index, page, icon, caption);
  if (current) sstMain_->setCurrentIndex(index);
  sstMain_->blockSignals(false);
  if (old != overview_) old->deleteLater();
}

QWidget* MainWindow::tabPage(Tab index) const { return sstMain_->widget(index); }

// Start-up and reconnect.

void MainWindow::initTick() {
  timerInit_.stop();
  if (connecting_) return;
  connecting_ = true;
  if (!agentInstalledHere() && sServer_.isEmpty()) {
    connectFailed();
    return;
  }
  // A key the agent has just refused is not sent again on the way back: the
  // dialog lets the user decide. Each refusal counts towards a lock-out.
  if ((sServer_.isEmpty() && !ensureLocalPassword()) || !connection_->mayResend(sServer_)) {
    connectFailed();
    return;
  }
  connection_->connectTo(sServer_, this, [this](bool ok) {
    if (ok) {
      setUpConnection();
    } else {
      connectFailed();
    }
  });
}

// A user who may not read this PC's registry is asked for the agent's
// password once; the session keeps it.
bool MainWindow::ensureLocalPassword() {
  if (!connection_->keyFor(QString()).isEmpty() || agentKeyReadable()) return true;
  const std::optional<QString> typed = passwordPrompt_();
  if (!typed || typed->isEmpty()) return false;
  connection_->setPassword(*typed);
  connection_->offerKey(*typed);
  return true;
}

void MainWindow::takeOfferedKey(const QString& key) {
  if (!sServer_.isEmpty() || key.isEmpty()) return;  // another agent's key is not this one
  connection_->setLocalPassword(key);
  connection_->offerKey(key);
  if (connecting_) {  // the dialog or a connect runs: it goes on with the new key
    connection_->setPassword(key);
    return;
  }
  connection_->setPassword(key);
  openConnectionTo(sServer_, sServerName_);
}

void MainWindow::connectFailed() {
  if (!agentInstalledHere() && sServer_.isEmpty()) {
    setWindowTitle(tr("VELTRIS - "));
  } else {
    setWindowTitle(tr("VELTRIS - ") + sServerName_ + tr(" - Connection failed"));
  }
  if (!runLoginDialog()) {
    closing_ = true;
    QTimer::singleShot(0, this, &QWidget::close);
    return;
  }
  setUpConnection();
}

bool MainWindow::runLoginDialog() {
  // While the dialog is open the window is not topmost and the option is off.
  bool foreground = mnuOptForeground->isChecked() && mnuOptForeground->isEnabled();
  bool optionEnabled = mnuOptForeground->isEnabled();
  if (foreground) setWindowFlag(Qt::WindowStaysOnTopHint, false), show();
  mnuOptForeground->setEnabled(false);
  ConnectDialog dialog(*connection_, sServer_, foreground, this);
  clearStatus();
  dialog.exec();
  mnuOptForeground->setEnabled(optionEnabled);
  if (foreground) setWindowFlag(Qt::WindowStaysOnTopHint, true), show();
  if (dialog.PubLoginCancelled) return false;
  sServer_ = dialog.PubLoginServer;
  sServerName_ = dialog.PubLoginServerName;
  return true;
}

void MainWindow::selectRemote() {
  connection_->close();
  timerInit_.stop();
  timerPoll_.stop();
  connecting_ = true;
  if (!runLoginDialog()) {
    closing_ = true;
    close();
    return;
  }
  connecting_ = false;
  timerInit_.start();
}

void MainWindow::openConnectionTo(const QString& computer, const QString& displayName) {
  connection_->close();
  timerInit_.stop();
  timerPoll_.stop();
  sServer_ = computer;
  sServerName_ = displayName;
  connecting_ = false;
  timerInit_.start();
}

void MainWindow::updateLocalFlag() {
  // This PC: no server name (the dialog's "Local"), or this PC's own name.
  local_ = sServer_.isEmpty() || sServer_.compare(QHostInfo::localHostName(), Qt::CaseInsensitive) == 0;
  tbxComputerName_->setText(local_ ? QString() : tr(kRemoteBanner));
  tbxComputerName_->setVisible(!local_);
  panels_[2]->setToolTip(local_ ? tr("Time of last refresh")
                                : tr("Time of last refresh, on ") + sServerName_);
  mnuToolsEventViewer->setText(tr("Event Viewer \\\\") + sServerName_);
  mnuToolsWinMSD->setText(tr("Windows NT Diagnostics \\\\") + sServerName_);
}

void MainWindow::setUpConnection() {
  timerInit_.stop();
  panels_[0]->clear();
  connecting_ = false;
  loopbackShown_ = false;
  updateLocalFlag();
  if (views_ != nullptr) views_->connectionReady(local_, sServerName_);
  RequestJob job{QStringLiteral("HISTORY_LIST"),
                 {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                  {{'H', 'I', 'S', 'T'}, sizeof(HistoryDayRecord), ReadStep::WhileTag}},
                 {}};
  connection_->send(std::move(job), this, [this](const Reply& reply) { onHistoryList(reply); });
}

void MainWindow::onHistoryList(const Reply& reply) {
  TotalsRecord totals{};
  if (!reply.ok || !reply.first(0, totals) || std::memcmp(totals.tag, kTotalsTag, 4) != 0) {
    showMessage(this, tr("Could not determine History List"));
    return;
  }
  current_ = totals;
  previous_ = totals;
  hostName_ = fieldText(totals.hostName, sizeof totals.hostName);
  ipSummary_ = fieldText(totals.ipSummary, sizeof totals.ipSummary);
  setWindowTitle(tr("VELTRIS - ") + rightTrimmed(hostName_) + QStringLiteral("  ") + rightTrimmed(ipSummary_));
  std::vector<QString> days;
  for (const HistoryDayRecord& day : reply.records<HistoryDayRecord>(1))
    days.push_back(QString::fromLatin1(day.day, 8));
  fillWhenBox(days);
  emit connected();
  // A snapshot holds one day: its Overview is that day's history, not real-time zeros.
  const int first = connection_->snapshot() && overview_->cmbHistory->count() > 3 ? 3 : 0;
  overview_->cmbHistory->setCurrentIndex(first);
  whenChosen(first);
  overview_->pacer.baselineTaken();  // these totals start the first difference
}

void MainWindow::onLost() {
  timerPoll_.stop();
  if (connecting_ || closing_) return;  // the start-up path or the dialog carries on
  timerInit_.start();
}

// The poll cycle.

void MainWindow::pollOnce() {
  if (!connection_->isOpen() || connection_->busy()) return;  // a slow agent: skip this tick
  const bool historyDay = historyMode();
  QString request = pollRequest_ + signedText(static_cast<int32_t>(current_.sequence.get()));
  RequestJob job{request, {}, {}, connection_->view(), {}};
  if (!historyDay) job.steps.push_back({{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One});
  job.steps.push_back({{'S', 'T', 'A', 'T'}, sizeof(PartnerStatRecord), ReadStep::WhileTag});
  connection_->send(std::move(job), this,
                    [this, historyDay](const Reply& reply) { onPollReply(reply, historyDay); });
}

void MainWindow::onPollReply(const Reply& reply, bool historyDay) {
  if (!reply.ok) return;  // ConnectionLost has stopped polling
  size_t statStep = 0;
  if (!historyDay) {
    statStep = 1;
    previous_ = current_;
    current_ = TotalsRecord{};
    reply.first(0, current_);
    if (current_.resetCount.get() != previous_.resetCount.get() && views_ != nullptr &&
        views_->sessionAndBroadcastDataRows() > 0) {
      views_->clearSessionAndBroadcastGrids();
    }
    if (!loopbackShown_ && current_.framesSent.get() == 0 && current_.framesReceived.get() >= 5) {
      loopbackShown_ = true;
      if (views_ != nullptr) views_->showLoopbackWarning();
    }
    if (std::memcmp(current_.tag, kTotalsTag, 4) != 0) {
      timerPoll_.stop();
      showMessage(this, tr("Invalid TOTAL record"), tr("ERROR"));
      timerInit_.start();
      return;
    }
    const int32_t secondsQuiet = current_.secondsSinceReceived.get();
    if (secondsQuiet >= 63 && !receiveHidden_) {
      receiveHidden_ = true;
      overview_->setReceiveWarning(true);
    } else if (secondsQuiet <= 62 && receiveHidden_) {
      receiveHidden_ = false;
      overview_->setReceiveWarning(false);
    }
    auto diff = [](const LeU32& now, const LeU32& before) {
      return static_cast<float>(static_cast<int32_t>(now.get() - before.get()));
    };
    const TotalsRecord& c = current_;
    const TotalsRecord& p = previous_;
    const float differences[8] = {c.bytesSent.get() - p.bytesSent.get(),     diff(c.framesSent, p.framesSent),
                                  diff(c.broadcastsSent, p.broadcastsSent),   diff(c.errorsSent, p.errorsSent),
                                  c.bytesReceived.get() - p.bytesReceived.get(),
                                  diff(c.framesReceived, p.framesReceived),
                                  diff(c.broadcastsReceived, p.broadcastsReceived),
                                  diff(c.errorsReceived, p.errorsReceived)};
    // 0 intervals: the first reading of a time base only sets the baseline.
    const int intervals = overview_->pacer.readingTaken();
    if (intervals > 0) {
      for (int g = 0; g < 8; ++g) overview_->graph(g)->spreadValue(differences[g], intervals);
    }
  }
  std::vector<PartnerStatRecord> stats = reply.records<PartnerStatRecord>(statStep);
  if (views_ != nullptr) views_->takeStatRecords(stats, historyDay);
  emit statRecordsArrived(stats, historyDay);
}

// Status bar.

void MainWindow::setStatus(int trafficState, const QString& time) {
  statusPicture_ = statusPicturePath(statusPicture(trafficState));
  panels_[1]->setPixmap(QIcon(statusPicture_).pixmap(16, 16));
  panels_[1]->setToolTip(statusTooltip(trafficState));
  panels_[2]->setText(time.left(8));
}

void MainWindow::clearStatus() {
  statusPicture_.clear();
  panels_[1]->clear();
  panels_[1]->setToolTip(QString());
  panels_[2]->clear();
}

// "&Clear" and "&Reset CLEAR".

void MainWindow::clearCounters() {
  panels_[0]->clear();
  RequestJob job{QStringLiteral("TOTAL"), {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One}}, {}};
  connection_->send(std::move(job), this, [this](const Reply& reply) {
    TotalsRecord totals{};
    if (!reply.ok || !reply.first(0, totals)) return;
    if (views_ != nullptr) views_->applyClear(totals.sequence.get());
    for (TrendGraph* g : overview_->graphs()) g->clear();
  });
}

void MainWindow::resetClear() {
  if (views_ != nullptr) views_->resetClear();
}

void MainWindow::tabChanged(int index) {
  panels_[0]->clear();
  helpContext_ = 3000 + index;
  sstMain_->setProperty("helpContext", helpContext_);
  if (views_ != nullptr) views_->tabShown(index);
}

// "&New": the next window opens where this one is.
void MainWindow::startNewInstance(const QString& name) {
  // The geometry without the frame, as the new window restores it: x() and y()
  // are the frame's corner and would put the new window a title bar higher.
  const QRect place = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
  QSettings settings(QStringLiteral("VELTRIS"), QStringLiteral("VELTRIS"));
  settings.beginGroup(QStringLiteral("Settings"));
  settings.setValue(QStringLiteral("NewLeft"), place.x());
  settings.setValue(QStringLiteral("NewTop"), place.y());
  settings.setValue(QStringLiteral("NewWidth"), place.width());
  settings.setValue(QStringLiteral("NewHeight"), place.height());
  settings.sync();
  QStringList args;
  if (!name.isEmpty()) args << name;
  QProcess::startDetached(QCoreApplication::applicationFilePath(), args);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  closing_ = true;
  timerInit_.stop();
  timerPoll_.stop();
  connection_->close();  // a running request is abandoned, its reply dropped
  emit aboutToClose();
  event->accept();
}

}  // namespace veltris::console
