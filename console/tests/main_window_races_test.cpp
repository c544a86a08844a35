// The main window while requests race: an overtaken start-up connect, a tab
// clicked before "OPEN", closing during a hung command, F1 after a tab change.
#include <QDialog>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QtTest>

#include "console/core/desktop_layer.h"
#include "console/settings/console_settings.h"
#include "console/tabs/console_tabs.h"
#include "console/tests/window_parts.h"
#include "console/windows/main_window.h"
#include "desktop/testing/test_support.h"
#include "help/help_contexts.h"
#include "help/help_window.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;
using namespace veltris::desktop::test;

namespace {

struct Window {
  explicit Window(const QString& computer = QStringLiteral("HOST7")) {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    script->holdNextCall();  // the start-up connect waits until a test lets it go
    window = std::make_unique<MainWindow>(std::move(owned), computer);
    installConsoleTabs(*window, std::make_unique<SettingsStore>(std::make_unique<QSettings>(
                                  root.path() + QStringLiteral("/VELTRIS.conf"), QSettings::IniFormat)),
                       [](const QString&) { return true; });
    dialogs.setInterval(20);
    QObject::connect(&dialogs, &QTimer::timeout, [this] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ++dialogsShown;
        dialog->reject();
      }
    });
    dialogs.start();
  }
  bool held() { return QTest::qWaitFor([&] { return script->holding(); }, 5000); }
  // The poll after "HISTORY_LIST" and the sessions' first fetch.
  void scriptStart(const std::string& name) {
    scriptConnect(*script, name);
    scriptHistoryList(*script, Counts{});
    scriptPoll(*script, "STATS_PRO  0", Counts{});
  }
  bool polling() {
    if (!QTest::qWaitFor([&] { return timerPoll(*window).isActive() && script->finished(); }, 5000)) {
      QStringList calls;
      for (const std::string& call : script->played()) calls << QString::fromStdString(call);
      qWarning("played: %s | %s | %s", qPrintable(calls.join(QStringLiteral(", "))), qPrintable(mismatchText(*script)),
               qPrintable(messages.texts.join(QStringLiteral(", "))));
      return false;
    }
    timerPoll(*window).stop();
    return QTest::qWaitFor([&] { return !window->connection().busy(); }, 5000);
  }

  TestRoot root;
  MessageLog messages;
  QTimer dialogs;
  int dialogsShown = 0;
  ScriptedAccess* script;
  std::unique_ptr<MainWindow> window;
};

}  // namespace

class MainWindowRacesTest : public QObject {
  Q_OBJECT
 private slots:
  void anOvertakenConnectShowsNoFailure();
  void aTabClickedWhileConnectingWaitsForOpen();
  void closingDuringAHungCommandReturnsAtOnce();
  void f1OnOverviewAfterAnotherTab();
};

void MainWindowRacesTest::anOvertakenConnectShowsNoFailure() {
  Window w(QStringLiteral("SLOW"));
  w.script->expectClose().expectOpen("SLOW", 1722);  // the queued close is dropped by the next connect
  w.scriptStart("OTHER");
  w.window->show();
  QVERIFY(w.held());
  w.window->openComputer(QStringLiteral("OTHER"), QStringLiteral("OTHER"));  // e.g. Select Computer
  QTest::qWait(20);
  w.script->release();
  QVERIFY(w.polling());
  QCOMPARE(w.messages.texts, QStringList{});  // no "Connection failed with retcode  1722"
  QCOMPARE(w.dialogsShown, 0);                // and no connection dialog
  QVERIFY(w.window->isVisible());
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
  w.script->expectClose();
}

void MainWindowRacesTest::aTabClickedWhileConnectingWaitsForOpen() {
  Window w;
  scriptConnect(*w.script, "HOST7");
  w.script->expectWrite("DETAILS 0").expectRecord(header()).expectRecord(totals(Counts{})).expectReplyEnd();
  scriptHistoryList(*w.script, Counts{});
  scriptPoll(*w.script, "STATS_PRO  0", Counts{});
  w.window->show();
  QVERIFY(w.held());
  w.window->showTab(MainWindow::TabDetails);
  w.script->release();
  QVERIFY(w.polling());
  const std::vector<std::string> played = w.script->played();
  QVERIFY(std::find(played.begin(), played.end(), "write OPEN SECRET") <
          std::find(played.begin(), played.end(), "write DETAILS  0"));
  QCOMPARE(w.messages.texts, QStringList{});  // no "Security check FAILED"
  QVERIFY2(w.script->mismatches().empty(), qPrintable(mismatchText(*w.script)));
  w.script->expectClose();
}

void MainWindowRacesTest::closingDuringAHungCommandReturnsAtOnce() {
  Window w;
  w.scriptStart("HOST7");
  w.script->release();
  w.window->show();
  QVERIFY(w.polling());
  w.script->expectWrite("CMD CONFIG");
  w.script->holdNextCall();  // the agent's command hangs
  w.window->showTab(MainWindow::TabTest);
  QVERIFY(w.held());
  QElapsedTimer clock;
  clock.start();
  w.window->close();
  w.window.reset();
  QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
}

void MainWindowRacesTest::f1OnOverviewAfterAnotherTab() {
  Window w;
  w.scriptStart("HOST7");
  w.script->release();
  w.window->show();
  QVERIFY(w.polling());
  w.window->showTab(MainWindow::TabSessions);
  QCOMPARE(help::helpContextOf(w.window.get()), help::kTabBase + MainWindow::TabSessions);
  w.window->showTab(MainWindow::TabOverview);
  QCOMPARE(help::helpContextOf(w.window.get()), help::kTabOverview);
  w.script->expectClose();
}

QTEST_MAIN(MainWindowRacesTest)
#include "main_window_races_test.moc"
