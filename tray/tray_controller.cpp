#include "tray/tray_controller.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QScreen>

#include "platform/system_root.h"

#include "tray/console_link.h"
#include "tray/help_link.h"
#include "tray/pictures.h"
#include "tray/quicklook_window.h"
#include "tray/settings_dialog.h"
#include "tray/settings_store.h"

namespace veltris::tray {
namespace {

constexpr int64_t kLaunchGapSeconds = 5;
constexpr int kLoadingSeconds = 20;

std::optional<QString> askPasswordBox(const QString& why) {
  bool ok = false;
  const QString prompt = TrayController::tr("Password of the VELTRIS Agent on this PC:");
  const QString text = why.isEmpty() ? prompt : why + QStringLiteral("\n\n") + prompt;
  QString password =
      QInputDialog::getText(nullptr, QStringLiteral("VELTRIS"), text, QLineEdit::Password, {}, &ok);
  if (!ok) return std::nullopt;
  return password;
}

// Qt sends a StatusNotifierItem's activation as a click (Trigger) and never a
// double-click; it uses one whenever a StatusNotifier watcher is on the bus.
bool statusNotifierHost() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

}  // namespace

TrayHooks systemHooks() {
  TrayHooks h;
  h.locateConsole = locateConsole;
  h.startConsole = startConsole;
  h.searchConsole = [](bool raise, ConsoleFound found) { searchConsole(raise, nullptr, std::move(found)); };
  h.now = [] { return QDateTime::currentSecsSinceEpoch(); };
  h.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  h.storedKey = readStoredKey;
  h.askPassword = askPasswordBox;
  h.clickActivates = statusNotifierHost;
  h.handKeyToConsole = handKeyToConsole;
  h.agentAccess = [] { return std::make_unique<desktop::ConnectionAccess>(); };
  return h;
}

// ---- LoadingWindow --------------------------------------------------------

LoadingWindow::LoadingWindow(Search searchConsole)
    : QLabel(tr("VELTRIS Advanced is loading .....")), search_(std::move(searchConsole)) {
  setObjectName(QStringLiteral("frmLoading"));
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_DeleteOnClose);
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setMargin(14);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(16);
  setFont(f);
  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
  connect(&timer_, &QTimer::timeout, this, &LoadingWindow::tick);
  timer_.start(1000);
}

void LoadingWindow::tick() {
  if (++ticks_ >= kLoadingSeconds) return void(close());
  QPointer<LoadingWindow> self(this);
  search_(false, [self](bool found) {
    if (self && found) self->close();
  });
}

// ---- TrayController ---------------------------------------------------------

TrayController::TrayController(TrayHooks hooks, bool startPolling) : hooks_(std::move(hooks)) {
  qRegisterMetaType<AgentReading>();
  menu_ = new QMenu(QStringLiteral("VELTRIS"));
  advanced_ = menu_->addAction(tr("Advanced"), this, &TrayController::advanced);
  quickLook_ = menu_->addAction(tr("QuickLook"), this, &TrayController::openQuickLook);
  settings_ = menu_->addAction(tr("Settings"), this, &TrayController::openSettings);
  enterPassword_ = menu_->addAction(tr("Enter Password..."), this, &TrayController::enterPassword);
  enterPassword_->setVisible(false);
  menu_->addSeparator();
  help_ = menu_->addAction(tr("Help"), this, &TrayController::openHelpIndex);
  menu_->addSeparator();
  quit_ = menu_->addAction(tr("Quit"), qApp, &QCoreApplication::quit);
  connect(menu_, &QMenu::aboutToShow, this, &TrayController::prepareMenu);
  prepareMenu();

  icon_.setContextMenu(menu_);
  icon_.setIcon(noAgentIcon());
  icon_.setToolTip(tr("VELTRIS - asking the agent on this PC"));
  connect(&icon_, &QSystemTrayIcon::activated, this, &TrayController::activated);
  connect(&iconTimer_, &QTimer::timeout, this, &TrayController::retryIcon);
  iconTimer_.start(1000);
  retryIcon();
  connect(&retryTimer_, &QTimer::timeout, this, &TrayController::retryRefusedKey);
  connect(&registryWatch_, &QFileSystemWatcher::fileChanged, this, &TrayController::registryChanged);
  connect(&registryWatch_, &QFileSystemWatcher::directoryChanged, this, &TrayController::registryChanged);
  watchRegistry();

  if (startPolling && hooks_.agentAccess) {
    poll_ = new AgentPoll(hooks_.agentAccess(), this);
    connect(poll_, &AgentPoll::polled, this, &TrayController::showReading);
    poll_->start();
  }
}

TrayController::~TrayController() {
  icon_.hide();
  delete menu_;
}

void TrayController::setKey(const QString& key) {
  key_ = key;
  polling_ = !key.isEmpty();
  enterPassword_->setVisible(key.isEmpty());
  if (polling_) retryTimer_.stop();
  if (poll_) poll_->setKey(key);
}

std::optional<QString> TrayController::requestKey() const {
  if (!polling_ || key_.isEmpty()) return std::nullopt;
  return key_;
}

void TrayController::offerKey(const QString& key, KeySource source) {
  refusals_.cleared(key);
  setKey(key);
  if (poll_ && source == KeySource::Registry) poll_->setKey(key, kAgentReadsKeyWithin);
}

void TrayController::loadKey(bool ask) {
  const StoredKey stored = hooks_.storedKey();
  if (stored.outcome == StoredKey::Found) {
    if (refusals_.isRefused(stored.key)) return;  // the registry still holds the refused key
    return offerKey(stored.key);
  }
  stopPolling(stored.reason);
  if (stored.outcome == StoredKey::NotPermitted && ask) enterPassword();
}

// The registry's folder is watched too: writers replace the file, which ends a file watch.
void TrayController::watchRegistry() {
  const QString file = QString::fromStdString(platform::registryFile().string());
  const QString folder = QFileInfo(file).absolutePath();
  if (QFileInfo::exists(folder) && !registryWatch_.directories().contains(folder)) registryWatch_.addPath(folder);
  // The folder's watch sees a replaced file; the file's own needs the right to read it.
  if (QFileInfo(file).isReadable() && !registryWatch_.files().contains(file)) registryWatch_.addPath(file);
}

void TrayController::registryChanged() {
  watchRegistry();
  const StoredKey stored = hooks_.storedKey();
  if (stored.outcome != StoredKey::Found || stored.key == key_ || refusals_.isRefused(stored.key)) return;
  offerKey(stored.key, KeySource::Registry);
}

void TrayController::stopPolling(const QString& why) {
  polling_ = false;
  enterPassword_->setVisible(true);
  if (shownCode_ != 0) icon_.setIcon(noAgentIcon());
  shownCode_ = 0;
  icon_.setToolTip(tr("VELTRIS - ") + why);
  // No reading follows while the poll stands: QuickLook shows the reason instead.
  last_ = AgentReading{};
  last_.failure = why;
  if (quickLookWindow_) quickLookWindow_->refresh(last_);
}

// The poll holds itself after a refusal; it is offered the key again only by
// the user, by a changed registry, or once after a lock-out period.
void TrayController::keyRefused(const QString& key) {
  if (key != key_) return;  // a reading of a key that was replaced meanwhile
  refusals_.refused(key, hooks_.now());
  if (poll_) poll_->setKey(QString());  // held until a key is offered
  stopPolling(refusedText());
  if (refusals_.retryAt(key)) retryTimer_.start(1000);
  registryChanged();  // the key may have changed in the registry: that is why it was refused
}

void TrayController::retryRefusedKey() {
  const QString key = key_;
  if (polling_ || !refusals_.isRefused(key)) return retryTimer_.stop();
  if (!refusals_.retryAt(key)) return retryTimer_.stop();
  if (!refusals_.maySend(key, hooks_.now())) return;
  retryTimer_.stop();
  setKey(key);
}

void TrayController::enterPassword() {
  if (asking_ || !hooks_.askPassword) return;
  asking_ = true;
  // While the poll stands, the reason it stopped comes with the question.
  const std::optional<QString> password = hooks_.askPassword(polling_ ? QString() : last_.failure);
  asking_ = false;
  if (!password || password->isEmpty()) return;
  offerKey(password->left(static_cast<qsizetype>(kAccessKeySize)));
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
    if (reading.keyRefused) {
      keyRefused(reading.key);
    } else if (polling_) {
      icon_.setToolTip(tr("VELTRIS - ") + reading.failure);
    }
  } else {
    icon_.setToolTip(tr("VELTRIS - %1  %2").arg(reading.hostName, reading.ipSummary));
    const TrafficState* state = trafficState(reading.code);
    if (state && reading.code != shownCode_) icon_.setIcon(trayIcon(state->picture));
    shownCode_ = state ? reading.code : 0;
  }
  if (quickLookWindow_) quickLookWindow_->refresh(reading);
}

void TrayController::prepareMenu() {
  const bool installed = !hooks_.locateConsole().isEmpty();
  advanced_->setEnabled(installed);
  menu_->setDefaultAction(installed ? advanced_ : quickLook_);
}

void TrayController::activated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) doubleClick();
  if (reason == QSystemTrayIcon::Trigger && hooks_.clickActivates && hooks_.clickActivates()) doubleClick();
  if (reason == QSystemTrayIcon::Context) prepareMenu();
}

void TrayController::doubleClick() {
  if (!polling_) return enterPassword();  // no key, or a refused one: the user offers one
  if (hooks_.locateConsole().isEmpty()) return openQuickLook();
  QPointer<TrayController> self(this);
  hooks_.searchConsole(true, [self](bool found) {
    if (self && !found) self->advanced();
  });
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
  if (loading_) return;
  QPointer<TrayController> self(this);
  hooks_.searchConsole(false, [self](bool found) {
    if (!self || self->loading_ || found) return;
    self->loading_ = new LoadingWindow(self->hooks_.searchConsole);
    self->loading_->show();
  });
}

void TrayController::openQuickLook() {
  if (quickLookWindow_) {
    quickLookWindow_->showNormal();
    quickLookWindow_->raise();
    quickLookWindow_->activateWindow();
    return;
  }
  QPointer<TrayController> self(this);
  auto* requests = new AgentRequests(hooks_.agentAccess(), [self]() -> std::optional<QString> {
    return self ? self->requestKey() : std::nullopt;
  });
  connect(requests, &AgentRequests::keyRefused, this, &TrayController::keyRefused);
  quickLookWindow_ = new QuickLookWindow(requests, !hooks_.locateConsole().isEmpty());
  connect(quickLookWindow_, &QuickLookWindow::advancedRequested, this, &TrayController::advanced);
  // The agent's state is shown at once when there is no agent to ask; figures wait for the next tick.
  if (!last_.answered && !last_.failure.isEmpty()) quickLookWindow_->refresh(last_);
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
  settingsDialog_ = new SettingsDialog(*settingsStore_);
  connect(settingsDialog_, &SettingsDialog::passwordChanged, this, [this](const QString& password) {
    offerKey(password.left(static_cast<qsizetype>(kAccessKeySize)), KeySource::Registry);
    if (hooks_.handKeyToConsole) hooks_.handKeyToConsole(password);
    emit keyChanged(password);
  });
  settingsDialog_->show();
}

void TrayController::openHelpIndex() { tray::openHelpIndex(nullptr); }

}  // namespace veltris::tray
