#include "tray/tray_controller.h"

#include <QAction>
#include <QDateTime>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QScreen>

#include "tray/console_link.h"
#include "tray/help_link.h"
#include "tray/pictures.h"
#include "tray/quicklook_window.h"
#include "tray/settings_dialog.h"
#include "tray/settings_store.h"
#include "tray/pictures.h"

namespace veltris::tray {
namespace {

constexpr int64_t kLaunchGapSeconds = 5;
constexpr int kLoadingSeconds = 20;

bool runOnAgent(const std::string& key, const std::string& request, QString& text, QString& error,
                const QString& saveTo) {
  return askAgent(key, request, text, error, saveTo);
}

}  // namespace

TrayHooks systemHooks() {
  TrayHooks h;
  h.locateConsole = locateConsole;
  h.startConsole = startConsole;
  h.searchConsole = searchConsole;
  h.now = [] { return QDateTime::currentSecsSinceEpoch(); };
  h.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  return h;
}

// ---- LoadingWindow --------------------------------------------------------

LoadingWindow::LoadingWindow(std::function<bool(bool)> searchConsole)
    : QLabel(tr("VELTRIS Advanced is loading .....")), search_(std::move(searchConsole)) {
  setObjectName("frmLoading");
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_DeleteOnClose);
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setMargin(14);
  QFont f("DejaVu Sans");
  f.setPixelSize(16);
  setFont(f);
  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
  connect(&timer_, &QTimer::timeout, this, &LoadingWindow::tick);
  timer_.start(1000);
}

void LoadingWindow::tick() {
  if (++ticks_ >= kLoadingSeconds || search_(false)) close();
}

// ---- TrayController ---------------------------------------------------------

TrayController::TrayController(TrayHooks hooks, bool startPolling) : hooks_(std::move(hooks)) {
  qRegisterMetaType<AgentReading>();
  menu_ = new QMenu("VELTRIS");
  advanced_ = menu_->addAction(tr("Advanced"), this, &TrayController::advanced);
  quickLook_ = menu_->addAction(tr("QuickLook"), this, &TrayController::openQuickLook);
  settings_ = menu_->addAction(tr("Settings"), this, &TrayController::openSettings);
  menu_->addSeparator();
  help_ = menu_->addAction(tr("Help"), this, &TrayController::openHelpIndex);
  connect(menu_, &QMenu::aboutToShow, this, &TrayController::prepareMenu);
  prepareMenu();

  icon_.setContextMenu(menu_);
  icon_.setIcon(noAgentIcon());
  icon_.setToolTip(tr("VELTRIS - asking the agent on this PC"));
  connect(&icon_, &QSystemTrayIcon::activated, this, &TrayController::activated);
  connect(&iconTimer_, &QTimer::timeout, this, &TrayController::retryIcon);
  iconTimer_.start(1000);
  retryIcon();

  if (startPolling) {
    poller_ = new AgentPoller;
    poller_->moveToThread(&pollThread_);
    connect(&pollThread_, &QThread::finished, poller_, &QObject::deleteLater);
    connect(&pollThread_, &QThread::started, poller_, &AgentPoller::start);
    connect(poller_, &AgentPoller::polled, this, &TrayController::showReading);
    pollThread_.start();
  }
}

TrayController::~TrayController() {
  pollThread_.quit();
  pollThread_.wait();
  icon_.hide();
  delete menu_;
}

void TrayController::setKey(const std::string& key) {
  {
    std::lock_guard lock(key_->mutex);
    key_->key = key;
  }
  if (poller_) poller_->setKey(key);
}

// Added when a tray exists, and again after a tray host went away and came back.
void TrayController::retryIcon() {
  const bool available = hooks_.trayAvailable();
  if (available && !iconAdded_) {
    icon_.show();
    iconAdded_ = true;
  } else if (!available && iconAdded_) {
    icon_.hide();
    iconAdded_ = false;
  }
}

void TrayController::showReading(const AgentReading& reading) {
  last_ = reading;
  if (!reading.answered) {
    if (shownCode_ != 0) icon_.setIcon(noAgentIcon());
    shownCode_ = 0;
    icon_.setToolTip(tr("VELTRIS - ") + reading.failure);
    if (reading.keyRefused) keyRefused();
  } else {
    icon_.setToolTip(QString(tr("VELTRIS - %1  %2")).arg(reading.hostName, reading.ipSummary));
    const TrafficState* state = trafficState(reading.code);
    if (state && reading.code != shownCode_) icon_.setIcon(trayIcon(state->picture));
    shownCode_ = state ? reading.code : 0;
  }
  if (quickLookWindow_) quickLookWindow_->refresh(reading);
}

std::string TrayController::currentKey() const {
  std::lock_guard lock(key_->mutex);
  return key_->key;
}

// A refused key may have been changed by Settings or by hand: read it again.
void TrayController::keyRefused() {
  StoredKey stored = readStoredKey();
  if (stored.outcome == StoredKey::Found && stored.key != currentKey()) setKey(stored.key);
}

void TrayController::prepareMenu() {
  const bool installed = !hooks_.locateConsole().isEmpty();
  advanced_->setEnabled(installed);
  menu_->setDefaultAction(installed ? advanced_ : quickLook_);
}

void TrayController::activated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) doubleClick();
  if (reason == QSystemTrayIcon::Context) prepareMenu();
}

void TrayController::doubleClick() {
  if (hooks_.locateConsole().isEmpty()) return openQuickLook();
  if (!hooks_.searchConsole(true)) advanced();
}

void TrayController::advanced() {
  const int64_t now = hooks_.now();
  if (lastLaunch_ != 0 && now - lastLaunch_ < kLaunchGapSeconds) return;
  if (hooks_.startConsole(hooks_.locateConsole())) {
    lastLaunch_ = now;
    ++launches_;
  }
  if (!loading_) QTimer::singleShot(1000, this, &TrayController::consoleWait);
}

void TrayController::consoleWait() {
  if (loading_ || hooks_.searchConsole(false)) return;
  loading_ = new LoadingWindow(hooks_.searchConsole);
  loading_->show();
}

void TrayController::openQuickLook() {
  if (quickLookWindow_) {
    quickLookWindow_->showNormal();
    quickLookWindow_->raise();
    quickLookWindow_->activateWindow();
    return;
  }
  RequestRunner runner = [shared = key_](const std::string& request, QString& text, QString& error,
                                         const QString& saveTo) {
    std::string key;
    {
      std::lock_guard lock(shared->mutex);
      key = shared->key;
    }
    return runOnAgent(key, request, text, error, saveTo);
  };
  quickLookWindow_ = new QuickLookWindow(runner, !hooks_.locateConsole().isEmpty());
  connect(quickLookWindow_, &QuickLookWindow::advancedRequested, this, &TrayController::advanced);
  quickLookWindow_->show();
}

void TrayController::openSettings() {
  if (settingsDialog_) {
    settingsDialog_->showNormal();
    settingsDialog_->raise();
    settingsDialog_->activateWindow();
    return;
  }
  if (!settingsStore_) return;
  settingsDialog_ = new SettingsDialog(*settingsStore_, QString::fromStdString(currentKey()));
  connect(settingsDialog_, &SettingsDialog::passwordChanged, this, [this](const QString& password) {
    setKey(password.toStdString());
    emit keyChanged(password);
  });
  settingsDialog_->show();
}

void TrayController::openHelpIndex() { tray::openHelpIndex(nullptr); }

}  // namespace veltris::tray
