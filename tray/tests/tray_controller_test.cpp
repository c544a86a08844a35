// The taskbar window with the world replaced: the traffic codes' pictures, the
// menu, the double-click, the console launch and loading window, the icon and
// tooltip, the console's channel, and the poll feeding the icon.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

#include <QAction>
#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QtTest>

#include "common/console_channel.h"
#include "desktop/testing/test_support.h"
#include "tray/console_link.h"
#include "tray/pictures.h"
#include "tray/quicklook_window.h"
#include "tray/tests/tray_world.h"
#include "tray/tray_controller.h"

using namespace veltris;
using namespace veltris::tray;
using test::keyedTray;
using test::World;

namespace {

AgentReading reading(uint32_t code) {
  AgentReading r;
  r.answered = true;
  r.code = code;
  r.hostName = QStringLiteral("PC7");
  r.ipSummary = QStringLiteral("IP=10.0.0.7+");
  return r;
}

}  // namespace

class TrayControllerTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { root_ = std::make_unique<desktop::test::TestRoot>(false, QString()); }
  void cleanupTestCase() { root_.reset(); }
  void everyCodeHasItsTextAndPicture();
  void menuDefaultAndGreyingFollowTheConsole();
  void launchesAtMostOncePerFiveSecondsAndRaisesARunningConsole();
  void loadingWindowClosesWhenTheConsoleAnnouncesItselfOrAfterTwentySeconds();
  void iconAndTooltipFollowTheReadings();
  void thePollFeedsTheIcon();
  void searchRaisesThroughTheChannelAndProbesWithoutRaising();
  void aNewKeyIsHandedToTheConsoleWithoutWaitingForIt();

 private:
  std::unique_ptr<desktop::test::TestRoot> root_;  // no agent here: requests fail at once
};

void TrayControllerTest::everyCodeHasItsTextAndPicture() {
  QCOMPARE(trafficState(0), nullptr);
  QCOMPARE(trafficState(11), nullptr);
  QCOMPARE(trafficState(6)->picture, Picture::Session);
  QCOMPARE(QString::fromLatin1(trafficState(10)->trayText), QStringLiteral("No traffic received in over 60 seconds"));
  QCOMPARE(trafficState(9)->picture, Picture::NotReceiving);
  QCOMPARE(trafficState(3)->picture, Picture::BroadcastSent);
  // Each design is painted in its own colour, with and without "LAN".
  for (Picture p : {Picture::BroadcastReceived, Picture::Idle, Picture::Session, Picture::BroadcastSent,
                    Picture::NotReceiving, Picture::Error}) {
    QImage tray = trafficPixmap(p, 32, true).toImage();
    QImage plain = trafficPixmap(p, 32, false).toImage();
    QCOMPARE(tray.pixelColor(8, 2), pictureColour(p));
    QCOMPARE(plain.pixelColor(5, 6), pictureColour(p));
    QCOMPARE(plain.pixelColor(1, 1).alpha(), 0);
  }
}

void TrayControllerTest::menuDefaultAndGreyingFollowTheConsole() {
  World world;
  auto owned = keyedTray(world);
  TrayController& tray = *owned;
  tray.prepareMenu();
  QVERIFY(tray.advancedAction()->isEnabled());
  QCOMPARE(tray.menu()->defaultAction(), tray.advancedAction());
  QStringList items;
  for (QAction* a : tray.menu()->actions())
    if (a->isVisible()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  QCOMPARE(items.join(QLatin1Char('|')), QStringLiteral("Advanced|QuickLook|Settings|-|Help|-|Quit"));

  world.console.clear();
  tray.prepareMenu();
  QVERIFY(!tray.advancedAction()->isEnabled());
  QCOMPARE(tray.menu()->defaultAction(), tray.quickLookAction());
  tray.doubleClick();  // no console: QuickLook
  QVERIFY(tray.quickLookWindow());
  QuickLookWindow* first = tray.quickLookWindow();
  tray.openQuickLook();
  QVERIFY2(tray.quickLookWindow() == first, "a second QuickLook command raises the open one");
  QCOMPARE(world.starts, 0);
  QTRY_VERIFY(!first->busy());
  QCOMPARE(first->reportText(), notRunningText(-1));
  first->close();
}

void TrayControllerTest::launchesAtMostOncePerFiveSecondsAndRaisesARunningConsole() {
  World world;
  auto owned = keyedTray(world);
  TrayController& tray = *owned;
  tray.advanced();
  tray.advanced();
  world.clock += 4;
  tray.advanced();
  QCOMPARE(world.starts, 1);
  world.clock += 1;
  tray.advanced();
  QCOMPARE(world.starts, 2);

  world.consoleRunning = true;
  world.clock += 10;
  tray.doubleClick();
  QCOMPARE(world.raises, 1);
  QVERIFY2(world.starts == 2, "a running console is raised, not started again");
}

void TrayControllerTest::loadingWindowClosesWhenTheConsoleAnnouncesItselfOrAfterTwentySeconds() {
  World world;
  TrayController tray(world.hooks(), false);
  tray.consoleWait();
  QPointer<LoadingWindow> loading = tray.loadingWindow();
  QVERIFY(loading);
  QCOMPARE(loading->text(), QStringLiteral("VELTRIS Advanced is loading ....."));
  tray.consoleWait();
  QVERIFY2(tray.loadingWindow() == loading.data(), "one loading window at a time");
  for (int i = 0; i < 19; ++i) loading->tick();
  QVERIFY(loading->isVisible());
  loading->tick();
  QTRY_VERIFY(!loading);

  tray.consoleWait();
  loading = tray.loadingWindow();
  QVERIFY(loading);
  loading->tick();
  world.consoleRunning = true;
  loading->tick();
  QTRY_VERIFY(!loading);
  tray.consoleWait();
  QVERIFY2(tray.loadingWindow() == nullptr, "no loading window once the console is there");
}

void TrayControllerTest::iconAndTooltipFollowTheReadings() {
  World world;
  auto owned = keyedTray(world);
  TrayController& tray = *owned;
  AgentReading down;
  down.failure = notRunningText(1722);
  tray.showReading(down);
  QCOMPARE(tray.icon().toolTip(), QStringLiteral("VELTRIS - ") + down.failure);
  const qint64 greyKey = tray.icon().icon().cacheKey();
  tray.showReading(reading(1));
  QCOMPARE(tray.icon().toolTip(), QStringLiteral("VELTRIS - PC7  IP=10.0.0.7+"));
  QVERIFY(tray.icon().icon().cacheKey() != greyKey);
  QImage shown = tray.icon().icon().pixmap(32, 32).toImage();
  QCOMPARE(shown.pixelColor(8, 2), pictureColour(Picture::Error));
  tray.showReading(reading(7));
  shown = tray.icon().icon().pixmap(32, 32).toImage();
  QCOMPARE(shown.pixelColor(8, 2), pictureColour(Picture::BroadcastReceived));
}

// The controller's own poll, on a scripted agent: the key set, "TOTAL" sent,
// the icon and tooltip follow; a refusal stops the poll.
void TrayControllerTest::thePollFeedsTheIcon() {
  World world;
  world.script = [](desktop::ScriptedAccess& s) {
    desktop::test::scriptConnect(s, "", "secret");
    desktop::test::scriptPoll(s, "TOTAL", {}, {}, 1);
    s.expectWrite("TOTAL", -2).expectClose();
  };
  TrayController tray(world.hooks(), true);
  QVERIFY(tray.poll());
  tray.setKey(QStringLiteral("secret"));
  QTRY_COMPARE(tray.icon().toolTip(), QStringLiteral("VELTRIS - AGENTPC  IP=10.0.0.1"));
  QTRY_VERIFY(!tray.polling());
  QVERIFY2(tray.icon().toolTip().contains(QStringLiteral("Security check FAILED")), qPrintable(tray.icon().toolTip()));
  QVERIFY(tray.poll()->holding());
  QVERIFY(tray.enterPasswordAction()->isVisible());
  QTest::qWait(1500);  // a tick or two more: nothing is sent
  QCOMPARE(world.accesses.size(), size_t{1});
  QVERIFY2(world.accesses[0]->finished(), qPrintable(desktop::test::mismatchText(*world.accesses[0])));
  QVERIFY2(world.accesses[0]->mismatches().empty(), qPrintable(desktop::test::mismatchText(*world.accesses[0])));
}

namespace {
// What searchConsole() found, once it tells.
bool searched(bool raise) {
  std::optional<bool> found;
  searchConsole(raise, nullptr, [&](bool f) { found = f; });
  QTest::qWaitFor([&] { return found.has_value(); }, 3000);
  return found.value_or(false);
}
}  // namespace

// The console's channel as a console serves it, on a thread of its own.
void TrayControllerTest::searchRaisesThroughTheChannelAndProbesWithoutRaising() {
  const std::string path = consoleChannelPath();
  ::unlink(path.c_str());
  QVERIFY(!searched(true));
  QVERIFY(!searched(false));
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  QCOMPARE(::listen(listener, 4), 0);
  std::vector<std::string> requests;
  std::thread console([&] {
    for (int i = 0; i < 2; ++i) {
      int client = ::accept(listener, nullptr, nullptr);
      std::string request;
      char c;
      while (::read(client, &c, 1) == 1) {
        request += c;
        if (c == '\n') break;
      }
      if (request == kConsoleRaiseRequest) (void)!::write(client, kConsoleRaiseAnswer, 3);
      requests.push_back(request);
      ::close(client);
    }
  });
  QVERIFY(searched(false));
  QVERIFY(searched(true));
  console.join();
  ::close(listener);
  ::unlink(path.c_str());
  QVERIFY(requests == (std::vector<std::string>{"", "RAISE\n"}));
}

// The console answers when it likes: the tray does not wait for it.
void TrayControllerTest::aNewKeyIsHandedToTheConsoleWithoutWaitingForIt() {
  const QString path = QString::fromStdString(consoleChannelPath());
  QFile::remove(path);
  QVERIFY2(!handKeyToConsole(QStringLiteral("newkey")), "no console, no channel");
  QLocalServer console;
  QVERIFY(console.listen(path));
  QByteArray received;
  QLocalSocket* client = nullptr;
  connect(&console, &QLocalServer::newConnection, this, [&] {
    client = console.nextPendingConnection();
    connect(client, &QLocalSocket::readyRead, this, [&] { received += client->readAll(); });
  });
  QVERIFY(handKeyToConsole(QStringLiteral("newkey")));
  QTRY_COMPARE(received, QByteArray("KEY newkey\n"));
  client->write(kConsoleRaiseAnswer);
  client->flush();
  QTRY_COMPARE(QCoreApplication::instance()->findChildren<QLocalSocket*>().size(), qsizetype{0});
  console.close();
}

QTEST_MAIN(TrayControllerTest)
#include "tray_controller_test.moc"
