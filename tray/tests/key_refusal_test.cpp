// The taskbar window and a refused key: no key is sent again of its own
// accord; the user, a changed registry, or the one retry after a lock-out
// period offer it. Also the activation on click-only hosts, and a refusal that
// QuickLook met stopping the poll.
#include <QAction>
#include <QApplication>
#include <QtTest>

#include "desktop/testing/test_support.h"
#include "tray/quicklook_window.h"
#include "tray/tests/tray_world.h"
#include "tray/tray_controller.h"

using namespace veltris;
using namespace veltris::tray;
using test::keyedTray;
using test::World;

namespace {

AgentReading refusal(const QString& key) {
  AgentReading r;
  r.keyRefused = true;
  r.key = key;
  r.failure = refusedText();
  return r;
}

StoredKey found(const QString& key) {
  StoredKey s;
  s.outcome = StoredKey::Found;
  s.key = key;
  return s;
}

// Which key the poll holds after each event, and whether it runs.
struct Step {
  const char* what;
  std::function<void(World&, TrayController&)> act;
  bool polling;
  const char* key;
};

const std::vector<Step>& steps() {
  static const std::vector<Step> all = {
      {"refused", [](World&, TrayController& t) { t.showReading(refusal(QStringLiteral("secret"))); }, false, "secret"},
      {"a stale reading of the old key changes nothing",
       [](World&, TrayController& t) { t.showReading(refusal(QStringLiteral("older"))); }, false, "secret"},
      {"the registry changed but holds the same key",
       [](World& w, TrayController& t) {
         w.stored = found(QStringLiteral("SECRET"));
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
      {"refused again", [](World&, TrayController& t) { t.showReading(refusal(QStringLiteral("secret"))); }, false,
       "secret"},
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
         w.stored = found(QStringLiteral("newkey"));
         t.registryChanged();
       },
       true, "newkey"},
  };
  return all;
}

}  // namespace

class KeyRefusalTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { root_ = std::make_unique<desktop::test::TestRoot>(false, QString()); }
  void cleanupTestCase() { root_.reset(); }
  void stopsThePollAndOffersThePassword();
  void neverResentOnItsOwnExceptOnceAfterALockOutPeriod();
  void startWithoutAReadableKeyAsksAndSendsNothingWithoutOne();
  void aClickActsAsADoubleClickOnlyWhereTheHostReportsNoDoubleClick_data();
  void aClickActsAsADoubleClickOnlyWhereTheHostReportsNoDoubleClick();
  void aRefusalMetByQuickLookStopsThePollAndQuickLook();

 private:
  std::unique_ptr<desktop::test::TestRoot> root_;
};

void KeyRefusalTest::stopsThePollAndOffersThePassword() {
  World world;
  auto tray = keyedTray(world);
  QVERIFY(tray->polling());
  QVERIFY(!tray->enterPasswordAction()->isVisible());
  tray->showReading(refusal(QStringLiteral("secret")));
  QVERIFY(!tray->polling());
  QVERIFY(tray->enterPasswordAction()->isVisible());
  QVERIFY2(tray->icon().toolTip().contains(QStringLiteral("Security check FAILED")), qPrintable(tray->icon().toolTip()));
  QVERIFY2(!tray->refusals().maySend(QStringLiteral("SECRET"), world.clock), "keys compare as the agent compares them");
  QVERIFY(!tray->requestKey());

  // A click, or a double-click, asks for the password rather than starting anything.
  world.answers = {QStringLiteral("right")};
  tray->doubleClick();
  QCOMPARE(world.starts, 0);
  QCOMPARE(world.asked.size(), 1);
  QVERIFY(world.asked[0].contains(QStringLiteral("Security check FAILED")));
  QVERIFY(tray->polling());
  QCOMPARE(tray->key(), QStringLiteral("right"));
  QCOMPARE(tray->requestKey(), std::optional<QString>(QStringLiteral("right")));
  QVERIFY(!tray->enterPasswordAction()->isVisible());
}

void KeyRefusalTest::neverResentOnItsOwnExceptOnceAfterALockOutPeriod() {
  World world;
  auto tray = keyedTray(world);
  for (const Step& s : steps()) {
    s.act(world, *tray);
    QVERIFY2(tray->polling() == s.polling, s.what);
    QVERIFY2(tray->key() == QLatin1String(s.key), s.what);
  }
}

void KeyRefusalTest::startWithoutAReadableKeyAsksAndSendsNothingWithoutOne() {
  World world;
  world.stored.outcome = StoredKey::NotPermitted;
  world.stored.reason = QStringLiteral("You may not read the access key");
  TrayController tray(world.hooks(), false);
  world.answers = {std::nullopt};
  tray.loadKey(true);
  QCOMPARE(world.asked.size(), 1);
  QVERIFY2(!tray.polling(), "no key: nothing is sent");
  QVERIFY(tray.enterPasswordAction()->isVisible());
  world.answers = {QStringLiteral("Typed-Password-Longer-Than-16")};
  tray.enterPasswordAction()->trigger();
  QVERIFY(tray.polling());
  QCOMPARE(tray.key(), QStringLiteral("Typed-Password-L"));
}

void KeyRefusalTest::aClickActsAsADoubleClickOnlyWhereTheHostReportsNoDoubleClick_data() {
  QTest::addColumn<bool>("clickOnly");
  QTest::newRow("double-click host") << false;
  QTest::newRow("StatusNotifier host") << true;
}

void KeyRefusalTest::aClickActsAsADoubleClickOnlyWhereTheHostReportsNoDoubleClick() {
  QFETCH(bool, clickOnly);
  World world;
  world.clickOnly = clickOnly;
  auto tray = keyedTray(world);
  emit tray->icon().activated(QSystemTrayIcon::Trigger);
  QCOMPARE(world.starts, clickOnly ? 1 : 0);
  world.clock += 10;
  emit tray->icon().activated(QSystemTrayIcon::DoubleClick);
  QCOMPARE(world.starts, clickOnly ? 2 : 1);
}

// QuickLook's own connection meets the refusal: the key is held everywhere,
// and QuickLook's next request sends nothing.
void KeyRefusalTest::aRefusalMetByQuickLookStopsThePollAndQuickLook() {
  World world;
  world.script = [](desktop::ScriptedAccess& s) {
    s.expectClose().expectOpen("").expectWrite("OPEN secret", -2);
  };
  auto tray = keyedTray(world);
  tray->openQuickLook();
  QPointer<QuickLookWindow> w = tray->quickLookWindow();
  QVERIFY(w);
  QTRY_VERIFY(!w->busy());
  QCOMPARE(w->reportText(), refusedText());
  QCOMPARE(w->statusText(), refusedText());
  QVERIFY(!tray->polling());
  QVERIFY(tray->enterPasswordAction()->isVisible());
  QVERIFY(tray->refusals().isRefused(QStringLiteral("secret")));
  w->runTest();
  QTRY_VERIFY(!w->busy());
  QCOMPARE(w->reportText(), refusedText());
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QVERIFY2(world.accesses[0]->mismatches().empty(), qPrintable(desktop::test::mismatchText(*world.accesses[0])));
  QVERIFY(world.accesses[0]->finished());
  delete w;
  tray->openQuickLook();  // opened again while the poll stands: the reason at once
  QVERIFY(tray->quickLookWindow());
  QCOMPARE(tray->quickLookWindow()->statusText(), refusedText());
  QTRY_VERIFY(!tray->quickLookWindow()->busy());
  delete tray->quickLookWindow();
}

QTEST_MAIN(KeyRefusalTest)
#include "key_refusal_test.moc"
