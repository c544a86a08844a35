// QuickLook's figures and window, the traffic codes, and the taskbar window's
// menu, double-click, console launch and loading window with the world replaced.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QTest>

#include "common/console_channel.h"
#include "tray/console_link.h"
#include "tray/pictures.h"
#include "tray/quicklook_figures.h"
#include "tray/quicklook_window.h"
#include "tray/pictures.h"
#include "tray/tray_controller.h"
#include "tray/tests/tray_world.h"

namespace veltris::tray {
namespace {

using test::World;
using test::keyedTray;

TEST(QuickLookFigures, PercentRoundsHalfUpAndHyphensStandForZero) {
  struct Case {
    uint32_t x, total, percent;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, 0, "-"},          {5, 0, 0, "-"},       {1, 3, 33, "33"},    {2, 3, 67, "67"},
      {1, 8, 13, "13"},        {3, 8, 38, "38"},     {8, 8, 100, "100"},  {1, 200, 1, "1"},  // 0.5 rounds up
      {1, 201, 0, "-"},
      // Large counters: the percent must not overflow 32 bits.
      {3000000000u, 4000000000u, 75, "75"}, {50000000, 100000000, 50, "50"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + " of " + std::to_string(c.total));
    EXPECT_EQ(percentOf(c.x, c.total), c.percent);
    EXPECT_EQ(figureText(percentOf(c.x, c.total)), c.text);
  }
}

TEST(QuickLookFigures, GroupsOfThreeDigits) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "-"}, {7, "7"}, {999, "999"}, {1000, "1,000"}, {65536, "65,536"}, {999999, "999,999"},
      {1000000, "1,000,000"}, {4294967295u, "4,294,967,295"}};
  for (auto [value, text] : cases) EXPECT_EQ(figureText(value), text) << value;
}

AgentReading reading(uint32_t code, uint32_t sequence, uint32_t errors, uint32_t bcastSent, uint32_t session,
                     uint32_t bcastReceived) {
  AgentReading r;
  r.answered = true;
  r.code = code;
  r.sequence = sequence;
  r.errorsSent = errors;
  r.broadcastsSent = bcastSent;
  r.framesReceived = session;
  r.broadcastsReceived = bcastReceived;
  r.hostName = "PC7";
  r.ipSummary = "IP=10.0.0.7+";
  return r;
}

class QuickLook : public ::testing::Test {
 protected:
  QuickLookWindow* open(bool consoleInstalled) {
    auto runner = [this](const std::string& request, QString& text, QString&, const QString&) {
      requests.push_back(request);
      text = QString::fromStdString("report for " + request + "\r\nline two");
      return true;
    };
    window = new QuickLookWindow(runner, consoleInstalled);
    return window;
  }
  void TearDown() override {
    // The runner writes into this fixture: let running requests end first.
    if (window) QTRY_VERIFY_WITH_TIMEOUT(!window->busy(), 10000);
    delete window;
  }

  QuickLookWindow* window = nullptr;
  std::vector<std::string> requests;
};

TEST_F(QuickLook, FiguresFollowTheAgentsCounters) {
  QuickLookWindow* w = open(true);
  for (int r = 0; r < 4; ++r)
    for (int c = 1; c < 4; ++c) EXPECT_EQ(w->cell(r, c), "") << "before the first tick";

  w->refresh(reading(8, 0, 0, 0, 0, 0));
  for (int r = 0; r < 4; ++r) EXPECT_EQ(w->cell(r, 1), "-");
  EXPECT_EQ(w->cell(0, 3), "") << "no per-second figure on the first tick";
  EXPECT_EQ(w->statusText(), "No traffic sent or received");
  EXPECT_EQ(w->windowTitle(), "VELTRIS QuickLook - PC7  IP=10.0.0.7+");

  // 3 frames: 1 error, 2 session; then 8 frames: 1 error, 1 broadcast sent, ...
  w->refresh(reading(1, 3, 1, 0, 2, 0));
  EXPECT_EQ(w->cell(0, 1), "33");
  EXPECT_EQ(w->cell(2, 1), "67");
  EXPECT_EQ(w->cell(0, 3), "1");
  EXPECT_EQ(w->statusText(), "Error detected");
  w->refresh(reading(3, 8, 1, 1, 2, 4));
  EXPECT_EQ(w->cell(0, 1), "13");
  EXPECT_EQ(w->cell(1, 1), "13");
  EXPECT_EQ(w->cell(3, 1), "50");
  EXPECT_EQ(w->cell(0, 3), "-");
  EXPECT_EQ(w->cell(3, 3), "4");
  w->refresh(reading(4, 2500000, 1, 1, 1234567, 4));
  EXPECT_EQ(w->cell(2, 2), "1,234,567");
  EXPECT_EQ(w->cell(2, 3), "1,234,565");
  EXPECT_EQ(w->cell(4, 1), "") << "legend rows carry no figures";
  EXPECT_EQ(w->statusText(), "Session traffic");
}

TEST_F(QuickLook, StatusBoxShowsTheWholeRefusal) {
  QuickLookWindow* w = open(true);
  w->show();
  QTRY_VERIFY(!w->busy());
  const QString texts[] = {
      "VELTRIS Agent refused the access key (\"OpenKey\"); change it with Settings",
      "VELTRIS Agent is not running on this PC (Connection failed with retcode 1722)"};
  for (const QString& text : texts) {
    AgentReading down;
    down.failure = text;
    w->refresh(down);
    QCoreApplication::sendPostedEvents();  // layout requests
    EXPECT_EQ(w->statusText(), text);
    auto* box = w->findChild<QLabel*>("tbxStatus");
    ASSERT_NE(box, nullptr);
    // Every line of the wrapped text fits the box, and the box fits the window.
    EXPECT_LE(box->heightForWidth(box->width()), box->height()) << text.toStdString();
    EXPECT_LE(box->geometry().right(), w->width()) << text.toStdString();
  }
}

TEST_F(QuickLook, ConfigAtOpeningTestOnRequestAdvancedOnlyWithConsole) {
  QuickLookWindow* w = open(false);
  EXPECT_FALSE(w->advancedEnabled());
  QTRY_VERIFY(!w->busy());
  EXPECT_EQ(w->reportText(), "report for CMD CONFIG\nline two");
  w->runTest();
  QTRY_VERIFY(!w->busy());
  EXPECT_EQ(w->reportText(), "report for CMD TEST\nline two");
  EXPECT_EQ(requests, (std::vector<std::string>{"CMD CONFIG", "CMD TEST"}));
  w->setConsoleInstalled(true);
  EXPECT_TRUE(w->advancedEnabled());
}

TEST(TrafficCodes, EveryCodeHasItsTextAndPicture) {
  EXPECT_EQ(trafficState(0), nullptr);
  EXPECT_EQ(trafficState(11), nullptr);
  EXPECT_EQ(trafficState(6)->picture, Picture::Session);
  EXPECT_STREQ(trafficState(10)->trayText, "No traffic received in over 60 seconds");
  EXPECT_EQ(trafficState(9)->picture, Picture::NotReceiving);
  EXPECT_EQ(trafficState(3)->picture, Picture::BroadcastSent);
  // Each design is painted in its own colour, with and without "LAN".
  for (Picture p : {Picture::BroadcastReceived, Picture::Idle, Picture::Session, Picture::BroadcastSent,
                    Picture::NotReceiving, Picture::Error}) {
    QImage tray = trafficPixmap(p, 32, true).toImage();
    QImage plain = trafficPixmap(p, 32, false).toImage();
    EXPECT_EQ(tray.pixelColor(8, 2), pictureColour(p));
    EXPECT_EQ(plain.pixelColor(5, 6), pictureColour(p));
    EXPECT_EQ(plain.pixelColor(1, 1).alpha(), 0);
  }
}

TEST(TaskbarWindow, MenuDefaultAndGreyingFollowTheConsole) {
  World world;
  auto owned = keyedTray(world);
  TrayController& tray = *owned;
  tray.prepareMenu();
  EXPECT_TRUE(tray.advancedAction()->isEnabled());
  EXPECT_EQ(tray.menu()->defaultAction(), tray.advancedAction());
  QStringList items;
  for (QAction* a : tray.menu()->actions())
    if (a->isVisible()) items << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(items.join("|"), "Advanced|QuickLook|Settings|-|Help|-|Quit");

  world.console.clear();
  tray.prepareMenu();
  EXPECT_FALSE(tray.advancedAction()->isEnabled());
  EXPECT_EQ(tray.menu()->defaultAction(), tray.quickLookAction());
  tray.doubleClick();  // no console: QuickLook
  ASSERT_NE(tray.quickLookWindow(), nullptr);
  QuickLookWindow* first = tray.quickLookWindow();
  tray.openQuickLook();
  EXPECT_EQ(tray.quickLookWindow(), first) << "a second QuickLook command raises the open one";
  EXPECT_EQ(world.starts, 0);
  first->close();
}

TEST(TaskbarWindow, LaunchesAtMostOncePerFiveSecondsAndRaisesARunningConsole) {
  World world;
  auto owned = keyedTray(world);
  TrayController& tray = *owned;
  tray.advanced();
  tray.advanced();
  world.clock += 4;
  tray.advanced();
  EXPECT_EQ(world.starts, 1);
  world.clock += 1;
  tray.advanced();
  EXPECT_EQ(world.starts, 2);

  world.consoleRunning = true;
  world.clock += 10;
  tray.doubleClick();
  EXPECT_EQ(world.raises, 1);
  EXPECT_EQ(world.starts, 2) << "a running console is raised, not started again";
}

TEST(TaskbarWindow, LoadingWindowClosesWhenTheConsoleAnnouncesItselfOrAfterTwentySeconds) {
  World world;
  TrayController tray(world.hooks(), false);
  tray.consoleWait();
  QPointer<LoadingWindow> loading = tray.loadingWindow();
  ASSERT_TRUE(loading);
  EXPECT_EQ(loading->text(), "VELTRIS Advanced is loading .....");
  tray.consoleWait();
  EXPECT_EQ(tray.loadingWindow(), loading.data()) << "one loading window at a time";
  for (int i = 0; i < 19; ++i) loading->tick();
  EXPECT_TRUE(loading->isVisible());
  loading->tick();
  QTRY_VERIFY(!loading);

  tray.consoleWait();
  loading = tray.loadingWindow();
  ASSERT_TRUE(loading);
  loading->tick();
  world.consoleRunning = true;
  loading->tick();
  QTRY_VERIFY(!loading);
  tray.consoleWait();
  EXPECT_EQ(tray.loadingWindow(), nullptr) << "no loading window once the console is there";
}

TEST(TaskbarWindow, IconAndTooltipFollowTheReadings) {
  World world;
  auto owned = keyedTray(world);
  TrayController& tray = *owned;
  AgentReading down;
  down.failure = "VELTRIS Agent is not running on this PC (Connection failed with retcode 1722)";
  tray.showReading(down);
  EXPECT_EQ(tray.icon().toolTip(), "VELTRIS - " + down.failure);
  const qint64 greyKey = tray.icon().icon().cacheKey();
  tray.showReading(reading(1, 3, 1, 0, 2, 0));
  EXPECT_EQ(tray.icon().toolTip(), "VELTRIS - PC7  IP=10.0.0.7+");
  EXPECT_NE(tray.icon().icon().cacheKey(), greyKey);
  QImage shown = tray.icon().icon().pixmap(32, 32).toImage();
  EXPECT_EQ(shown.pixelColor(8, 2), pictureColour(Picture::Error));
  tray.showReading(reading(7, 4, 1, 0, 2, 1));
  shown = tray.icon().icon().pixmap(32, 32).toImage();
  EXPECT_EQ(shown.pixelColor(8, 2), pictureColour(Picture::BroadcastReceived));
}

// The console's channel as a console serves it, on a thread of its own.
TEST(ConsoleChannel, SearchRaisesThroughTheChannelAndProbesWithoutRaising) {
  const std::string path = consoleChannelPath();
  ::unlink(path.c_str());
  EXPECT_FALSE(searchConsole(true));
  EXPECT_FALSE(searchConsole(false));
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
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
  EXPECT_TRUE(searchConsole(false));
  EXPECT_TRUE(searchConsole(true));
  console.join();
  ::close(listener);
  ::unlink(path.c_str());
  EXPECT_EQ(requests, (std::vector<std::string>{"", "RAISE\n"}));
}

}  // namespace
}  // namespace veltris::tray
