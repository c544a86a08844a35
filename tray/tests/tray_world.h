#pragma once
// The world around the taskbar window, scripted: console, clock, stored key,
// the user's answers to the password question, the tray host's clicks, and
// the agent (a scripted access per session).
#include <functional>
#include <memory>
#include <optional>

#include <QStringList>

#include "desktop/testing/scripted_access.h"
#include "tray/tray_controller.h"

namespace veltris::tray::test {

struct World {
  QString console = QStringLiteral("/opt/veltris/VELTRIS");
  bool consoleRunning = false;
  int64_t clock = 1000;
  int starts = 0;
  int raises = 0;
  TrayHooks hooks() {
    TrayHooks h;
    h.locateConsole = [this] { return console; };
    h.startConsole = [this](const QString&) { return ++starts, true; };
    h.searchConsole = [this](bool raise, ConsoleFound found) {
      if (raise && consoleRunning) ++raises;
      found(consoleRunning);
    };
    h.now = [this] { return clock; };
    h.trayAvailable = [] { return false; };
    h.storedKey = [this] { return stored; };
    h.askPassword = [this](const QString& why) {
      asked << why;
      std::optional<QString> answer;
      if (!answers.isEmpty()) answer = answers.takeFirst();
      return answer;
    };
    h.clickActivates = [this] { return clickOnly; };
    h.handKeyToConsole = [this](const QString& key) { return handed << key, consoleRunning; };
    h.agentAccess = [this]() -> std::unique_ptr<desktop::AgentAccess> {
      auto access = std::make_unique<desktop::ScriptedAccess>();
      if (script) script(*access);
      accesses.push_back(access.get());
      return access;
    };
    return h;
  }
  StoredKey stored;
  QStringList asked;                      // the reasons given with each password question
  QList<std::optional<QString>> answers;  // what the user answers, in turn
  bool clickOnly = false;
  QStringList handed;
  // Scripts each new session's agent; none: every call fails.
  std::function<void(desktop::ScriptedAccess&)> script;
  std::vector<desktop::ScriptedAccess*> accesses;  // owned by their sessions
};

// A controller with a key that works, as after a successful start.
inline std::unique_ptr<TrayController> keyedTray(World& world) {
  auto tray = std::make_unique<TrayController>(world.hooks(), false);
  tray->setKey(QStringLiteral("secret"));
  return tray;
}

}  // namespace veltris::tray::test
