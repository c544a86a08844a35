#pragma once
// veltris-tray's taskbar window: the icon with its picture and tooltip, the
// pop-up menu, the double-click, the console launch with its loading window,
// and the QuickLook and settings windows.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QFileSystemWatcher>
#include <QIcon>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include "desktop/key_refusals.h"
#include "tray/console_link.h"
#include "tray/agent_link.h"
#include "tray/quicklook_window.h"
#include "tray/settings_dialog.h"

class QAction;
class QMenu;

namespace veltris::tray {

class SettingsStore;

// Everything the controller asks of the world, replaced in tests.
struct TrayHooks {
  std::function<QString()> locateConsole;
  std::function<bool(const QString&)> startConsole;
  std::function<void(bool raise, ConsoleFound found)> searchConsole;
  std::function<int64_t()> now;  // seconds
  std::function<bool()> trayAvailable;
  // The key the registry holds, as far as this user may read it.
  std::function<StoredKey()> storedKey;
  // Asks the user for the agent's password; nullopt when dismissed.
  std::function<std::optional<QString>(const QString& why)> askPassword;
  // The tray host reports clicks only (no double-click): a click activates.
  std::function<bool()> clickActivates;
  // Hands a new key to a running console.
  std::function<bool(const QString& key)> handKeyToConsole;
  // The connection of a new agent session: the poll's and each QuickLook's.
  std::function<std::unique_ptr<desktop::AgentAccess>()> agentAccess;
};
TrayHooks systemHooks();

// "VELTRIS Advanced is loading ....." while the console starts: at most 20 seconds.
class LoadingWindow : public QLabel {
  Q_OBJECT
 public:
  using Search = std::function<void(bool raise, ConsoleFound found)>;
  explicit LoadingWindow(Search searchConsole);
  void tick();  // once a second
  int ticks() const { return ticks_; }

 private:
  Search search_;
  QTimer timer_;
  int ticks_ = 0;
};

class TrayController : public QObject {
  Q_OBJECT
 public:
  explicit TrayController(TrayHooks hooks, bool startPolling = true);
  ~TrayController() override;

  void setKey(const QString& key);
  // The agent reads its registry file at most once a second: a key sent sooner
  // after a change would be refused.
  static constexpr std::chrono::milliseconds kAgentReadsKeyWithin{1500};
  // The key from the registry; asks the user when the registry hides it and `ask`.
  void loadKey(bool ask);
  void setSettingsStore(SettingsStore* store) { settingsStore_ = store; }

  // The menu and its state, for tests and the icon.
  QMenu* menu() const { return menu_; }
  QAction* advancedAction() const { return advanced_; }
  QAction* quickLookAction() const { return quickLook_; }
  QAction* enterPasswordAction() const { return enterPassword_; }
  QAction* quitAction() const { return quit_; }
  // A key is known and not refused: the poll runs.
  bool polling() const { return polling_; }
  const desktop::KeyRefusals& refusals() const { return refusals_; }
  const QString& key() const { return key_; }
  // The key QuickLook's requests may carry; none while it is refused or unknown.
  std::optional<QString> requestKey() const;
  AgentPoll* poll() const { return poll_; }
  QSystemTrayIcon& icon() { return icon_; }
  bool iconAdded() const { return iconAdded_; }
  LoadingWindow* loadingWindow() const { return loading_; }
  QuickLookWindow* quickLookWindow() const { return quickLookWindow_; }
  int launches() const { return launches_; }
  const AgentReading& lastReading() const { return last_; }

 public slots:
  void showReading(const veltris::tray::AgentReading& reading);
  void prepareMenu();
  void doubleClick();
  void advanced();
  void openQuickLook();
  void openSettings();
  void openHelpIndex();
  void consoleWait();
  void retryIcon();
  void enterPassword();
  // Once a second while a key is refused: the one retry after a lock-out period.
  void retryRefusedKey();
  // The registry file changed: a new key there is taken.
  void registryChanged();

 signals:
  void keyChanged(const QString& key);

 private:
  void activated(QSystemTrayIcon::ActivationReason reason);
  void keyRefused(const QString& key);
  void stopPolling(const QString& why);
  // The user's key is sent at once; one just written to the registry (Settings,
  // or a change seen in the file) waits until the agent has read it.
  enum class KeySource { User, Registry };
  void offerKey(const QString& key, KeySource source = KeySource::User);
  void watchRegistry();

  TrayHooks hooks_;
  QSystemTrayIcon icon_;
  QMenu* menu_;
  QAction* advanced_;
  QAction* quickLook_;
  QAction* settings_;
  QAction* help_;
  QAction* enterPassword_;
  QAction* quit_;
  QTimer iconTimer_;
  QTimer retryTimer_;
  QFileSystemWatcher registryWatch_;
  desktop::KeyRefusals refusals_;
  bool polling_ = false;
  bool asking_ = false;
  bool iconAdded_ = false;
  uint32_t shownCode_ = ~0u;
  int64_t lastLaunch_ = 0;
  int launches_ = 0;
  QPointer<LoadingWindow> loading_;
  QPointer<QuickLookWindow> quickLookWindow_;
  QPointer<SettingsDialog> settingsDialog_;
  SettingsStore* settingsStore_ = nullptr;
  AgentReading last_;
  QString key_;
  AgentPoll* poll_ = nullptr;
};

}  // namespace veltris::tray
