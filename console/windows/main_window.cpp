#include "console/windows/main_window.h"

#include <QApplication>
#include <QScreen>
#include <QCloseEvent>
#include <QHostInfo>
#include <QInputDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "console/core/desktop_layer.h"
#include "desktop/agent_facts.h"
#include "desktop/messages.h"
#include "console/core/resources.h"
#include "desktop/traffic_state.h"
#include "console/windows/connect_dialog.h"
#include "console/snapshots/snapshot_files.h"
#include "console/tabs/overview_tab.h"
#include "help/help_contexts.h"
#include "help/help_window.h"
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
  snapshots_ = new SnapshotFiles(*connection_, this);
  timerInit_ = new QTimer(this);
  timerInit_->setObjectName(QStringLiteral("timerInit"));
  timerPoll_ = new QTimer(this);
  timerPoll_->setObjectName(QStringLiteral("timerPoll"));

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
    help::setHelpContext(page, help::kTabBase + t);
  }
  sstMain_->setIconSize(QSize(16, 16));
  layout->addWidget(sstMain_, 1);
  setCentralWidget(central);
  buildStatusBar();
  connect(sstMain_, &QTabWidget::currentChanged, this, &MainWindow::tabChanged);

  // Overview controls.
  connect(overview_, &OverviewTab::whenChosen, this, &MainWindow::whenChosen);
  connect(overview_, &OverviewTab::clearRequested, this, &MainWindow::clearCounters);
  connect(overview_, &OverviewTab::valuesShownChanged, this, &MainWindow::showValues);
  connect(overview_, &OverviewTab::historyRequested, this, &MainWindow::showHistoryList);
  connect(overview_, &OverviewTab::realTimeRequested, this, &MainWindow::returnToRealTime);
  connect(overview_, &OverviewTab::dayViewChanged, this, [this] {
    if (historyMode()) chooseDay(sYYYYMMDD_);
  });
  connect(overview_, &OverviewTab::graphRightClicked, this, &MainWindow::showGraphMenu);
  connect(overview_, &OverviewTab::graphDoubleClicked, this, &MainWindow::openGraphTab);

  passwordPrompt_ = [this]() -> std::optional<QString> {
    bool ok = false;
    const QString typed = QInputDialog::getText(this, QStringLiteral("VELTRIS Connection"),
                                                QStringLiteral("Password of the VELTRIS Agent on this PC:"),
                                                QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return typed;
  };

  timerInit_->setInterval(1);
  connect(timerInit_, &QTimer::timeout, this, &MainWindow::initTick);
  connect(timerPoll_, &QTimer::timeout, this, &MainWindow::pollOnce);
  help::setHelpContext(this, help::kTabOverview);
  help::installHelpKey(this);

  sServer_ = computer.trimmed().toUpper();
  sServerName_ = sServer_.isEmpty() ? tr("Local") : sServer_;
  setWindowTitle(tr("VELTRIS - ") + sServerName_ + tr(" ... connecting ..."));
  const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (shown != nullptr) setGeometry(defaultMainGeometry(shown->availableGeometry()));
  timerInit_->start();
}

MainWindow::~MainWindow() = default;

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
    panels_[i]->setObjectName(QStringLiteral("sbMainPanel%1").arg(i + 1));
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    panels_[i]->setFrameShadow(QFrame::Sunken);
    panels_[i]->setMinimumWidth(i == 0 ? 200 : 110);
    bar->addPermanentWidget(panels_[i], i == 0 ? 1 : 0);
  }
  panels_[1]->setToolTip(tr("Status Icon"));
  panels_[2]->setToolTip(tr("Time (on workstation) of last refresh"));
}

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
  help::setHelpContext(page, help::kTabBase + index);
  if (old != overview_) old->deleteLater();
}

void MainWindow::showTab(Tab index) { sstMain_->setCurrentIndex(index); }

MainWindow::Tab MainWindow::currentTab() const { return static_cast<Tab>(sstMain_->currentIndex()); }

// Start-up and reconnect.

void MainWindow::initTick() {
  timerInit_->stop();
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
  openComputer(sServer_, sServerName_);
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
  bool foreground = mnuOptForeground_->isChecked() && mnuOptForeground_->isEnabled();
  bool optionEnabled = mnuOptForeground_->isEnabled();
  if (foreground) setWindowFlag(Qt::WindowStaysOnTopHint, false), show();
  mnuOptForeground_->setEnabled(false);
  ConnectDialog dialog(*connection_, sServer_, foreground, this);
  clearStatus();
  dialog.exec();
  mnuOptForeground_->setEnabled(optionEnabled);
  if (foreground) setWindowFlag(Qt::WindowStaysOnTopHint, true), show();
  if (dialog.PubLoginCancelled) return false;
  sServer_ = dialog.PubLoginServer;
  sServerName_ = dialog.PubLoginServerName;
  return true;
}

void MainWindow::selectRemote() {
  connection_->close();
  timerInit_->stop();
  timerPoll_->stop();
  connecting_ = true;
  if (!runLoginDialog()) {
    closing_ = true;
    close();
    return;
  }
  connecting_ = false;
  timerInit_->start();
}

void MainWindow::openComputer(const QString& computer, const QString& displayName) {
  connection_->close();
  timerInit_->stop();
  timerPoll_->stop();
  sServer_ = computer;
  sServerName_ = displayName;
  connecting_ = false;
  timerInit_->start();
}

void MainWindow::updateLocalFlag() {
  // This PC: no server name (the dialog's "Local"), or this PC's own name.
  local_ = sServer_.isEmpty() || sServer_.compare(QHostInfo::localHostName(), Qt::CaseInsensitive) == 0;
  tbxComputerName_->setText(local_ ? QString() : tr(kRemoteBanner));
  tbxComputerName_->setVisible(!local_);
  panels_[2]->setToolTip(local_ ? tr("Time of last refresh")
                                : tr("Time of last refresh, on ") + sServerName_);
}

void MainWindow::setUpConnection() {
  timerInit_->stop();
  panels_[0]->clear();
  connecting_ = false;
  loopbackShown_ = false;
  updateLocalFlag();
  watchedName_ = sServerName_;
  if (tools_) tools_->update(local_ && !connection_->snapshot(), sServerName_);
  emit connectionReady(local_, sServerName_);
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
  if (connection_->snapshot()) {
    watchedName_ = hostName_.trimmed();
    const ReplyHeader& header = connection_->lastHeader();
    setWindowTitle(tr("VELTRIS - ") + hostName_.trimmed() + QStringLiteral("  ") + ipSummary_.trimmed() +
                   tr(" *** SNAPSHOT ") + QString::fromLatin1(header.date, sizeof header.date) + tr(" *** "));
  } else {
    snapshotPath_.clear();
    setWindowTitle(tr("VELTRIS - ") + rightTrimmed(hostName_) + QStringLiteral("  ") + rightTrimmed(ipSummary_));
  }
  std::vector<QString> days;
  for (const HistoryDayRecord& day : reply.records<HistoryDayRecord>(1))
    days.push_back(QString::fromLatin1(day.day, 8));
  fillWhenBox(days);
  emit connected();
  // A snapshot holds one day: its Overview is that day's history, not real-time zeros.
  const int first = connection_->snapshot() && overview_->whenCount() > 3 ? 3 : 0;
  overview_->setWhenIndex(first);
  whenChosen(first);
  overview_->pacer().baselineTaken();  // these totals start the first difference
}

void MainWindow::onLost() {
  timerPoll_->stop();
  if (connecting_ || closing_) return;  // the start-up path or the dialog carries on
  timerInit_->start();
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
  timerInit_->stop();
  timerPoll_->stop();
  connection_->close();  // a running request is abandoned, its reply dropped
  emit aboutToClose();
  event->accept();
}

}  // namespace veltris::console
