// The taskbar window and a refused key: no key is sent again of its own
// accord; the user, a changed registry, or the one retry after a lock-out
// period offer it. Also the activation on click-only hosts, the key handed to
// the console, and QuickLook's cursor and snapshot file.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <functional>

#include "tray/quicklook_window.h"
#include "tray/tests/tray_world.h"
#include "tray/tray_controller.h"

namespace veltris::tray {
namespace {

using test::keyedTray;
using test::World;

AgentReading refusal(const std::string& key) {
  AgentReading r;
  r.keyRefused = true;
  r.key = key;
  r.failure = refusedText();
  return r;
}

StoredKey found(const std::string& key) {
  StoredKey s;
  s.outcome = StoredKey::Found;
  s.key = key;
  return s;
}

TEST(RefusedKey, StopsThePollAndOffersThePassword) {
  World world;
  auto tray = keyedTray(world);
  ASSERT_TRUE(tray->polling());
  EXPECT_FALSE(tray->enterPasswordAction()->isVisible());
  tray->showReading(refusal("secret"));
  EXPECT_FALSE(tray->polling());
  EXPECT_TRUE(tray->enterPasswordAction()->isVisible());
  EXPECT_TRUE(tray->icon().toolTip().contains("Security check FAILED")) << tray->icon().toolTip().toStdString();
  EXPECT_FALSE(tray->refusals().maySend("SECRET", world.clock)) << "keys compare as the agent compares them";

  // A click, or a double-click, asks for the password rather than starting anything.
  world.answers = {QString("right")};
  tray->doubleClick();
  EXPECT_EQ(world.starts, 0);
  ASSERT_EQ(world.asked.size(), 1);
  EXPECT_TRUE(world.asked[0].contains("Security check FAILED"));
  EXPECT_TRUE(tray->polling());
  EXPECT_EQ(tray->key(), "right");
  EXPECT_FALSE(tray->enterPasswordAction()->isVisible());
}

// Which key the poll holds after each event, and whether it runs.
TEST(RefusedKey, NeverResentOnItsOwnExceptOnceAfterALockOutPeriod) {
  struct Step {
    const char* what;
    std::function<void(World&, TrayController&)> act;
    bool polling;
    const char* key;
  };
  const Step steps[] = {
      {"refused", [](World&, TrayController& t) { t.showReading(refusal("secret")); }, false, "secret"},
      {"a stale reading of the old key changes nothing",
       [](World&, TrayController& t) { t.showReading(refusal("older")); }, false, "secret"},
      {"the registry changed but holds the same key",
       [](World& w, TrayController& t) {
         w.stored = found("SECRET");
         t.registryChanged();
       },
       false, "secret"},
      {"a tick within the lock-out period",
       [](World& w, TrayController& t) {
         w.clock += 60;
         t.retryRefusedKey();
       },
       false, "secret"},
      {"one retry after the period",
       [](World& w, TrayController& t) {
         w.clock += 1;
         t.retryRefusedKey();
       },
       true, "secret"},
      {"refused again", [](World&, TrayController& t) { t.showReading(refusal("secret")); }, false, "secret"},
      {"no second retry",
       [](World& w, TrayController& t) {
         w.clock += 600;
         t.retryRefusedKey();
       },
       false, "secret"},
      {"the password question dismissed",
       [](World& w, TrayController& t) {
         w.answers = {std::nullopt};
         t.enterPassword();
       },
       false, "secret"},
      {"a new key in the registry is taken",
       [](World& w, TrayController& t) {
         w.stored = found("newkey");
         t.registryChanged();
       },
       true, "newkey"},
  };
  World world;
  auto tray = keyedTray(world);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.act(world, *tray);
    EXPECT_EQ(tray->polling(), s.polling);
    EXPECT_EQ(tray->key(), s.key);
  }
}

TEST(RefusedKey, StartWithoutAReadableKeyAsksAndSendsNothingWithoutOne) {
  World world;
  world.stored.outcome = StoredKey::NotPermitted;
  world.stored.reason = "You may not read the access key";
  TrayController tray(world.hooks(), false);
  world.answers = {std::nullopt};
  tray.loadKey(true);
  EXPECT_EQ(world.asked.size(), 1);
  EXPECT_FALSE(tray.polling()) << "no key: nothing is sent";
  EXPECT_TRUE(tray.enterPasswordAction()->isVisible());
  world.answers = {QString("Typed-Password-Longer-Than-16")};
  tray.enterPasswordAction()->trigger();
  EXPECT_TRUE(tray.polling());
  EXPECT_EQ(tray.key(), "Typed-Password-L");
}

TEST(TrayActivation, AClickActsAsADoubleClickOnlyWhereTheHostReportsNoDoubleClick) {
  for (bool clickOnly : {false, true}) {
    SCOPED_TRACE(clickOnly);
    World world;
    world.clickOnly = clickOnly;
    auto tray = keyedTray(world);
    emit tray->icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(world.starts, clickOnly ? 1 : 0);
    world.clock += 10;
    emit tray->icon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(world.starts, clickOnly ? 2 : 1);
  }
}

TEST(QuickLookCursor, RestoredWhenTheWindowClosesDuringARequest) {
  std::atomic<bool> release{false};
  RequestRunner slow = [&](const std::string&, QString& text, QString&, const QString&) {
    while (!release) QThread::msleep(5);
    text = "done";
    return true;
  };
  for (const char* action : {"Test", "Snapshot"}) {
    SCOPED_TRACE(action);
    QTemporaryDir dir;
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    release = true;  // the Config at opening
    QPointer<QuickLookWindow> w = new QuickLookWindow(slow, false);
    QTRY_VERIFY(!w->busy());
    release = false;
    if (std::string(action) == "Test") w->runTest();
    else w->saveSnapshotTo(dir.path() + "/x.VSN");
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    w->close();  // deletes the window while the request runs
    QTRY_VERIFY(!w);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    release = true;
    QThreadPool::globalInstance()->waitForDone();
  }
}

TEST(QuickLookSnapshot, FileFirstThenTheAgentAndNoFileLeftOnFailure) {
  struct Case {
    const char* name;
    bool creatable;
    bool agentOk;
    const char* agentError;
    const char* message;  // "" when none
    bool fileLeft;
  };
  const Case cases[] = {
      {"saved", true, true, "", "", true},
      {"file cannot be created: the agent is not asked", false, true, "", "Could not save to file", false},
      {"the agent refused the key", true, false, "Security check FAILED: refused", "Security check FAILED: refused",
       false},
      {"an empty snapshot", true, false, "The VELTRIS Agent could not make the snapshot (its reply is empty)",
       "The VELTRIS Agent could not make the snapshot (its reply is empty)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const QString path = c.creatable ? dir.path() + "/pc.VSN" : dir.path() + "/missing/pc.VSN";
    std::vector<std::string> asked;
    bool existedWhenAsked = false;
    RequestRunner runner = [&](const std::string& request, QString&, QString& error, const QString& saveTo) {
      asked.push_back(request);
      if (request != "SNAPSHOT") return true;
      existedWhenAsked = QFile::exists(saveTo);
      error = c.agentError;
      return c.agentOk;
    };
    QPointer<QuickLookWindow> w = new QuickLookWindow(runner, false);
    QStringList messages;
    w->setMessageHook([&](const QString& title, const QString& text) { messages << title + ": " + text; });
    QTRY_VERIFY(!w->busy());
    w->saveSnapshotTo(path);
    QTRY_VERIFY(!w->busy());
    const bool askedAgent = asked.size() == 2;
    EXPECT_EQ(askedAgent, c.creatable);
    if (askedAgent) {
      EXPECT_TRUE(existedWhenAsked) << "the file is made before the agent is asked";
    }
    EXPECT_EQ(messages, *c.message ? QStringList{QString("VELTRIS ERROR: ") + c.message} : QStringList{});
    EXPECT_EQ(QFile::exists(path), c.fileLeft);
    delete w;
  }
}

}  // namespace
}  // namespace veltris::tray
