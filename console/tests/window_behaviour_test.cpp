// The main window as a user meets it: its size on small and large screens,
// shortcuts and access keys, the messages of a failed connect, a snapshot's
// Overview, and the notes of the status bar.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QtTest>

#include "console/core/desktop_layer.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/connect_dialog.h"
#include "console/tests/window_parts.h"
#include "console/windows/main_window.h"
#include "console/windows/window_geometry.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;
using namespace veltris::desktop::test;

namespace {

// A window on a scripted agent whose modal dialogs are answered with "Cancel".
struct Window {
  explicit Window(const QString& computer) {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    window = std::make_unique<MainWindow>(std::move(owned), computer);
    cancelDialogs.setInterval(20);
    QObject::connect(&cancelDialogs, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    cancelDialogs.start();
  }
  ~Window() {
    timerInit(*window).stop();
    timerPoll(*window).stop();
    script->expectClose();
    window->close();
  }
  QString mismatches() const {
    QStringList lines;
    for (const std::string& m : script->mismatches()) lines << QString::fromStdString(m);
    return lines.join(QStringLiteral("; "));
  }
  ScriptedAccess* script;
  std::unique_ptr<MainWindow> window;
  QTimer cancelDialogs;
};

}  // namespace

class WindowBehaviourTest : public QObject {
  Q_OBJECT
 private slots:
  void defaultSizeFitsTheScreen_data();
  void defaultSizeFitsTheScreen();
  void storedGeometryKeptOnTheScreen_data();
  void storedGeometryKeptOnTheScreen();
  void windowOpensInsideTheScreen();
  void shortcutsAndAccessKeys();
  void wrongPasswordSaysSoOnce();
  void agentStoppedSaysWhatToDo_data();
  void agentStoppedSaysWhatToDo();
  void snapshotOverviewShowsItsDay();
  void statusNoteGoesWithTheNextAction();
};

void WindowBehaviourTest::defaultSizeFitsTheScreen_data() {
  QTest::addColumn<QRect>("available");
  QTest::addColumn<QSize>("size");
  QTest::newRow("2560x1440") << QRect(0, 0, 2560, 1400) << QSize(kDesignWidth, kDesignHeight);
  QTest::newRow("1920x1080 at scale 1.5") << QRect(0, 0, 1280, 690) << QSize(1240, 650);
  QTest::newRow("1366x768 at scale 1.5") << QRect(0, 0, 911, 512) << QSize(895, 472);
  QTest::newRow("800x600") << QRect(0, 0, 800, 600) << QSize(784, 560);
  QTest::newRow("second screen, panel on top") << QRect(1920, 32, 1920, 1048) << QSize(kDesignWidth, kDesignHeight);
}

void WindowBehaviourTest::defaultSizeFitsTheScreen() {
  QFETCH(QRect, available);
  QFETCH(QSize, size);
  const QRect r = defaultMainGeometry(available);
  QCOMPARE(r.size(), size);
  QVERIFY(available.contains(r));
  QVERIFY(qAbs(r.center().x() - available.center().x()) <= 1);
  QVERIFY(qAbs(r.center().y() - available.center().y()) <= 1);
}

void WindowBehaviourTest::storedGeometryKeptOnTheScreen_data() {
  QTest::addColumn<QRect>("stored");
  QTest::addColumn<QRect>("available");
  QTest::addColumn<QRect>("expected");
  QTest::newRow("fits: kept") << QRect(40, 50, 700, 500) << QRect(0, 0, 800, 600) << QRect(40, 50, 700, 500);
  QTest::newRow("from a large screen") << QRect(1500, 900, 1240, 700) << QRect(0, 0, 800, 600)
                                       << QRect(16, 40, 784, 560);
  QTest::newRow("left of and above the screen") << QRect(-300, -20, 600, 400) << QRect(0, 0, 800, 600)
                                                << QRect(0, 0, 600, 400);
  QTest::newRow("on the second screen") << QRect(2000, 100, 1000, 700) << QRect(1920, 0, 1920, 1050)
                                        << QRect(2000, 100, 1000, 700);
}

void WindowBehaviourTest::storedGeometryKeptOnTheScreen() {
  QFETCH(QRect, stored);
  QFETCH(QRect, available);
  QFETCH(QRect, expected);
  QCOMPARE(fittedGeometry(stored, available), expected);
}

// The offscreen screen is 800x600: the design size does not fit on it.
void WindowBehaviourTest::windowOpensInsideTheScreen() {
  TestRoot root;
  Window w(QStringLiteral("PC1"));
  timerInit(*w.window).stop();
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  QVERIFY2(available.width() < kDesignWidth, "the offscreen screen is expected to be small");
  QVERIFY(available.contains(w.window->geometry()));
  w.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
  QVERIFY(available.contains(w.window->frameGeometry()));
}

void WindowBehaviourTest::shortcutsAndAccessKeys() {
  TestRoot root;
  Window w(QStringLiteral("PC1"));
  timerInit(*w.window).stop();
  MainWindow& m = *w.window;
  QCOMPARE(menuItem(m, "mnuFileOpen").shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  QCOMPARE(menuItem(m, "mnuFileSave").shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  QCOMPARE(menuItem(m, "mnuExit").shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  // Every menu and every tab has its own Alt key: Alt+T opens one thing.
  QMap<QKeySequence, QString> owners;
  QStringList texts;
  for (QAction* menu : m.menuBar()->actions()) texts << menu->text();
  for (int t = 0; t < sstMain(m).count(); ++t) texts << sstMain(m).tabText(t);
  for (const QString& text : texts) {
    const QKeySequence key = QKeySequence::mnemonic(text);
    QVERIFY2(!key.isEmpty(), qPrintable(text + QStringLiteral(" has no access key")));
    QVERIFY2(!owners.contains(key), qPrintable(text + QStringLiteral(" shares its key with ") + owners.value(key)));
    owners.insert(key, text);
  }
  QCOMPARE(QString(part<QMenu>(m, "mnuTools")->title()).remove(QLatin1Char('&')), QStringLiteral("Tools"));
}

// A refused password is one message, and the dialog stays open for another try.
void WindowBehaviourTest::wrongPasswordSaysSoOnce() {
  TestRoot root;
  MessageLog messages;
  auto owned = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = owned.get();
  AgentSession connection(std::move(owned), nullptr);
  showFailures(connection);
  ConnectDialog dialog(connection, QString(), false);
  dialog.show();
  part<QLineEdit>(dialog, "txtServer")->setText(QStringLiteral("PC7"));
  part<QLineEdit>(dialog, "tbxPassword")->setText(QStringLiteral("wrong"));
  script->expectClose().expectOpen("PC7").expectWrite("OPEN wrong", -2);
  part<QPushButton>(dialog, "btnRemote")->click();
  QTRY_VERIFY(part<QPushButton>(dialog, "btnRemote")->isEnabled());
  QCOMPARE(messages.texts, QStringList{QStringLiteral("Security check FAILED")});
  QVERIFY(dialog.isVisible());
  // The next failure of another kind still has its own words.
  messages.texts.clear();
  script->expectClose().expectOpen("PC7", 1722);
  part<QPushButton>(dialog, "btnRemote")->click();
  QTRY_COMPARE(messages.texts.size(), 2);
  QCOMPARE(messages.texts.back(), QStringLiteral("Could not connect to VELTRIS Monitoring Agent on PC7"));
}

void WindowBehaviourTest::agentStoppedSaysWhatToDo_data() {
  QTest::addColumn<QString>("computer");
  QTest::addColumn<int>("code");
  QTest::addColumn<QString>("meaning");
  QTest::newRow("this PC, 1722") << QString() << 1722
                                 << QStringLiteral("The VELTRIS agent is not running or cannot be reached on this "
                                                   "computer: start it (TapsorSv -start) or check the computer name.");
  QTest::newRow("PC7, 1722") << QStringLiteral("pc7") << 1722
                             << QStringLiteral("The VELTRIS agent is not running on PC7 or PC7 cannot be reached: "
                                               "start it there (TapsorSv -start), check the computer name, or check "
                                               "that the network lets you through.");
  QTest::newRow("other codes: the message alone") << QStringLiteral("PC7") << 5 << QString();
}

void WindowBehaviourTest::agentStoppedSaysWhatToDo() {
  QFETCH(QString, computer);
  QFETCH(int, code);
  QFETCH(QString, meaning);
  TestRoot root;
  MessageLog messages;
  Window w(computer);
  w.script->expectClose().expectOpen(computer.toUpper().toStdString(), code);
  QTRY_VERIFY(!messages.texts.isEmpty());
  const QString part = QStringLiteral("Connection failed with retcode ") + signedText(code);
  QCOMPARE(messages.texts.front(), meaning.isEmpty() ? part : part + QStringLiteral("\n\n") + meaning);
}

// A snapshot holds one day: the Overview shows it as a history day, not real-time zeros.
void WindowBehaviourTest::snapshotOverviewShowsItsDay() {
  TestRoot root;
  MessageLog messages;
  Window w(QStringLiteral("PC1"));
  timerInit(*w.window).stop();
  Counts counts;
  counts.sequence = 900;
  w.script->expectClose();
  scriptConnect(*w.script, "*SNAPSHOT* /data/pc1.VSN", "");
  scriptHistoryList(*w.script, counts, {"20261201"});
  w.script->expectWrite("TPT 20261201")
      .expectRecord(header())
      .expectRecord(periodTotals(60, 5000, 40, 9000, 70))
      .expectRecord(periodTotals(61, 1000, 2, 0, 0))
      .expectReplyEnd();
  w.script->expectWrite("TPS 20261201 900").expectRecord(header()).expectReplyEnd();
  w.window->openSnapshot(QStringLiteral("/data/pc1.VSN"));
  QTRY_VERIFY2(w.script->finished(), qPrintable(w.mismatches()));
  QTRY_VERIFY(!w.window->connection().busy());
  QVERIFY2(w.script->mismatches().empty(), qPrintable(w.mismatches()));
  QVERIFY(w.window->historyMode());
  QCOMPARE(part<QComboBox>(*overview(*w.window), "cmbHistory")->currentIndex(), 3);
  QCOMPARE(overview(*w.window)->graph(OverviewTab::PktsSent)->total(), 42);
  QCOMPARE(overview(*w.window)->graph(OverviewTab::PktsRecv)->total(), 70);
  QVERIFY(!timerPoll(*w.window).isActive());
  QVERIFY(messages.texts.isEmpty());
}

// "Snapshot saved to ..." says what the last action did; the next one takes it away.
void WindowBehaviourTest::statusNoteGoesWithTheNextAction() {
  TestRoot root;
  Window w(QStringLiteral("PC1"));
  timerInit(*w.window).stop();
  QLabel* note = statusPanel(*w.window, 1);
  note->setText(QStringLiteral("Snapshot saved to /tmp/a.VSN"));
  w.window->showTab(MainWindow::TabSessions);
  QCOMPARE(note->text(), QString());
  note->setText(QStringLiteral("Snapshot saved to /tmp/a.VSN"));
  menuItem(*w.window, "mnuOptResetClear").trigger();
  QCOMPARE(note->text(), QString());
}

QTEST_MAIN(WindowBehaviourTest)
#include "window_behaviour_test.moc"
