// The console and this PC's agent: a key the agent refused is not sent again
// on the way back (the dialog asks instead), and a new key handed over the
// single-instance channel reconnects without a refusal.
#include <QDialog>
#include <QLocalSocket>
#include <QtTest>

#include "common/console_channel.h"
#include "console/core/desktop_layer.h"
#include "console/core/single_instance.h"
#include "console/tests/window_parts.h"
#include "console/windows/main_window.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;
using namespace veltris::desktop::test;

namespace {

Counts counts() {
  Counts c;
  c.sequence = 100;
  c.framesSent = 10;
  return c;
}

struct LocalWindow {
  LocalWindow() : root(true, QStringLiteral("SECRET")) {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    scriptConnect(*script, "", "SECRET");
    scriptHistoryList(*script, counts());
    window = std::make_unique<MainWindow>(std::move(owned), QString());
    // A dialog is where the user decides: count it and close it (the console then ends).
    dialogs.setInterval(20);
    QObject::connect(&dialogs, &QTimer::timeout, [this] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ++dialogsSeen;
        dialog->reject();
      }
    });
    dialogs.start();
  }
  ~LocalWindow() {
    timerPoll(*window).stop();
    script->expectClose();
    window->close();
  }
  bool polling() {
    if (!QTest::qWaitFor([&] { return timerPoll(*window).isActive(); }, 5000)) return false;
    timerPoll(*window).stop();
    return true;
  }
  int writes(const std::string& text) const {
    const std::vector<std::string> played = script->played();
    return static_cast<int>(std::count(played.begin(), played.end(), "write " + text));
  }
  TestRoot root;
  MessageLog messages;
  ScriptedAccess* script;
  std::unique_ptr<MainWindow> window;
  QTimer dialogs;
  int dialogsSeen = 0;
};

}  // namespace

class LocalAgentTest : public QObject {
  Q_OBJECT
 private slots:
  void refusedKeyIsNotSentAgainOnTheWayBack();
  void keyHandedOverTheChannelReconnects();
};

void LocalAgentTest::refusedKeyIsNotSentAgainOnTheWayBack() {
  LocalWindow w;
  QVERIFY(w.polling());
  QVERIFY(w.window->isLocal());
  w.script->expectWrite("STATS_PRO  100", -2);
  w.script->expectClose();
  w.window->pollOnce();
  QVERIFY(QTest::qWaitFor([&] { return w.dialogsSeen > 0; }, 5000));
  QCOMPARE(w.messages.texts, QStringList{QStringLiteral("Security check FAILED")});
  QCOMPARE(w.writes("OPEN SECRET"), 1);  // the connect's, never again
  QCOMPARE(w.dialogsSeen, 1);
}

void LocalAgentTest::keyHandedOverTheChannelReconnects() {
  LocalWindow w;
  QVERIFY(w.polling());
  SingleInstanceChannel channel(w.window.get());
  QObject::connect(&channel, &SingleInstanceChannel::keyOffered, w.window.get(), &MainWindow::takeOfferedKey);
  QVERIFY(listened(channel));
  scriptConnect(*w.script, "", "NEWKEY");
  scriptHistoryList(*w.script, counts());
  QLocalSocket client;
  client.connectToServer(QString::fromStdString(veltris::consoleChannelPath()));
  QVERIFY(client.waitForConnected(2000));
  client.write(QByteArray(veltris::kConsoleKeyRequest) + "NEWKEY\n");
  QTRY_VERIFY(client.bytesAvailable() >= 3);
  QCOMPARE(client.readAll(), QByteArray(veltris::kConsoleRaiseAnswer));
  QVERIFY(w.polling());
  QCOMPARE(w.writes("OPEN NEWKEY"), 1);
  QVERIFY(w.messages.texts.isEmpty());
  QCOMPARE(w.dialogsSeen, 0);
  QCOMPARE(w.window->connection().localPassword(), QStringLiteral("NEWKEY"));
}

QTEST_MAIN(LocalAgentTest)
#include "local_agent_test.moc"
