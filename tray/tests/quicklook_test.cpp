// QuickLook: its figures, the traffic table and status box, the reports at
// opening and on request, the cursor however the window closes, and the
// snapshot file made before the agent is asked, against a scripted agent.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include "desktop/testing/scripted_prompter.h"
#include "desktop/testing/test_support.h"
#include "tray/agent_link.h"
#include "tray/quicklook_figures.h"
#include "tray/quicklook_window.h"

using namespace veltris;
using namespace veltris::tray;
using desktop::ScriptedAccess;
using desktop::test::header;
using desktop::test::scriptConnect;

namespace {

TextReply textRecord(const char* body) {
  TextReply t{};
  std::memcpy(t.tag, kTextReplyTag, 4);
  std::strncpy(t.text, body, sizeof t.text - 1);
  return t;
}

std::vector<uint8_t> bytes(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

void scriptText(ScriptedAccess& s, const char* request) {
  const std::string body = std::string("report for ") + request + "\r\nline two";
  s.expectWrite(request).expectRecord(header()).expectRecord(textRecord(body.c_str()));
}

// Tells whether the snapshot file existed when "SNAPSHOT" went to the agent.
class WatchedAccess final : public desktop::AgentAccess {
 public:
  WatchedAccess(std::unique_ptr<ScriptedAccess> inner, QString path) : inner_(std::move(inner)), path_(std::move(path)) {}
  int32_t open(const char* computer) override { return inner_->open(computer); }
  int32_t write(const char* request) override {
    if (std::strcmp(request, "SNAPSHOT") == 0) *existed_ = QFile::exists(path_);
    return inner_->write(request);
  }
  int32_t read(void* record, int32_t size) override { return inner_->read(record, size); }
  int32_t save(const char* path) override { return inner_->save(path); }
  int32_t close() override { return inner_->close(); }
  std::shared_ptr<std::optional<bool>> existed() const { return existed_; }

 private:
  std::unique_ptr<ScriptedAccess> inner_;
  QString path_;
  std::shared_ptr<std::optional<bool>> existed_ = std::make_shared<std::optional<bool>>();
};

// A window on a scripted agent whose Config at opening is answered.
struct Window {
  explicit Window(bool consoleInstalled = true, std::function<void(ScriptedAccess&)> more = {},
                  const QString& snapshotPath = QString()) {
    auto access = std::make_unique<ScriptedAccess>();
    script = access.get();
    scriptConnect(*script, "", "secret");
    scriptText(*script, "CMD CONFIG");
    if (more) more(*script);
    auto watched = std::make_unique<WatchedAccess>(std::move(access), snapshotPath);
    existedWhenAsked = watched->existed();
    window = new QuickLookWindow(
        new AgentRequests(std::move(watched), [] { return std::optional<QString>(QStringLiteral("secret")); }),
        consoleInstalled);
  }
  ~Window() {
    if (window) QTest::qWaitFor([&] { return !window->busy(); }, 5000);
    delete window;
  }
  ScriptedAccess* script;
  QPointer<QuickLookWindow> window;
  std::shared_ptr<std::optional<bool>> existedWhenAsked;
};

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
  r.hostName = QStringLiteral("PC7");
  r.ipSummary = QStringLiteral("IP=10.0.0.7+");
  return r;
}

}  // namespace

class QuickLookTest : public QObject {
  Q_OBJECT
 private slots:
  void percentRoundsHalfUpAndHyphensStandForZero_data();
  void percentRoundsHalfUpAndHyphensStandForZero();
  void groupsOfThreeDigits_data();
  void groupsOfThreeDigits();
  void figuresFollowTheAgentsCounters();
  void statusBoxShowsTheWholeRefusal();
  void configAtOpeningTestOnRequestAdvancedOnlyWithConsole();
  void cursorRestoredWhenTheWindowClosesDuringARequest_data();
  void cursorRestoredWhenTheWindowClosesDuringARequest();
  void snapshotFileFirstThenTheAgentAndNoFileLeftOnFailure_data();
  void snapshotFileFirstThenTheAgentAndNoFileLeftOnFailure();
};

void QuickLookTest::percentRoundsHalfUpAndHyphensStandForZero_data() {
  QTest::addColumn<uint>("x");
  QTest::addColumn<uint>("total");
  QTest::addColumn<uint>("percent");
  QTest::addColumn<QString>("text");
  QTest::newRow("nothing counted") << 0u << 0u << 0u << QStringLiteral("-");
  QTest::newRow("T is 0") << 5u << 0u << 0u << QStringLiteral("-");
  QTest::newRow("1 of 3") << 1u << 3u << 33u << QStringLiteral("33");
  QTest::newRow("2 of 3") << 2u << 3u << 67u << QStringLiteral("67");
  QTest::newRow("1 of 8: 12.5 rounds up") << 1u << 8u << 13u << QStringLiteral("13");
  QTest::newRow("3 of 8") << 3u << 8u << 38u << QStringLiteral("38");
  QTest::newRow("all") << 8u << 8u << 100u << QStringLiteral("100");
  QTest::newRow("0.5 rounds up") << 1u << 200u << 1u << QStringLiteral("1");
  QTest::newRow("below 0.5") << 1u << 201u << 0u << QStringLiteral("-");
  // Large counters: the percent must not overflow 32 bits.
  QTest::newRow("3e9 of 4e9") << 3000000000u << 4000000000u << 75u << QStringLiteral("75");
  QTest::newRow("5e7 of 1e8") << 50000000u << 100000000u << 50u << QStringLiteral("50");
}

void QuickLookTest::percentRoundsHalfUpAndHyphensStandForZero() {
  QFETCH(uint, x);
  QFETCH(uint, total);
  QFETCH(uint, percent);
  QFETCH(QString, text);
  QCOMPARE(percentOf(x, total), percent);
  QCOMPARE(figureText(percentOf(x, total)), text);
}

void QuickLookTest::groupsOfThreeDigits_data() {
  QTest::addColumn<uint>("value");
  QTest::addColumn<QString>("text");
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "-"}, {7, "7"}, {999, "999"}, {1000, "1,000"}, {65536, "65,536"}, {999999, "999,999"},
      {1000000, "1,000,000"}, {4294967295u, "4,294,967,295"}};
  for (auto [value, text] : cases) QTest::newRow(text) << uint(value) << QString::fromLatin1(text);
}

void QuickLookTest::groupsOfThreeDigits() {
  QFETCH(uint, value);
  QFETCH(QString, text);
  QCOMPARE(figureText(value), text);
}

void QuickLookTest::figuresFollowTheAgentsCounters() {
  Window f;
  QuickLookWindow* w = f.window;
  for (int r = 0; r < 4; ++r)
    for (int c = 1; c < 4; ++c) QVERIFY2(w->cell(r, c).isEmpty(), "before the first tick");

  w->refresh(reading(8, 0, 0, 0, 0, 0));
  for (int r = 0; r < 4; ++r) QCOMPARE(w->cell(r, 1), QStringLiteral("-"));
  QVERIFY2(w->cell(0, 3).isEmpty(), "no per-second figure on the first tick");
  QCOMPARE(w->statusText(), QStringLiteral("No traffic sent or received"));
  QCOMPARE(w->windowTitle(), QStringLiteral("VELTRIS QuickLook - PC7  IP=10.0.0.7+"));

  // 3 frames: 1 error, 2 session; then 8 frames: 1 error, 1 broadcast sent, ...
  w->refresh(reading(1, 3, 1, 0, 2, 0));
  QCOMPARE(w->cell(0, 1), QStringLiteral("33"));
  QCOMPARE(w->cell(2, 1), QStringLiteral("67"));
  QCOMPARE(w->cell(0, 3), QStringLiteral("1"));
  QCOMPARE(w->statusText(), QStringLiteral("Error detected"));
  w->refresh(reading(3, 8, 1, 1, 2, 4));
  QCOMPARE(w->cell(0, 1), QStringLiteral("13"));
  QCOMPARE(w->cell(1, 1), QStringLiteral("13"));
  QCOMPARE(w->cell(3, 1), QStringLiteral("50"));
  QCOMPARE(w->cell(0, 3), QStringLiteral("-"));
  QCOMPARE(w->cell(3, 3), QStringLiteral("4"));
  w->refresh(reading(4, 2500000, 1, 1, 1234567, 4));
  QCOMPARE(w->cell(2, 2), QStringLiteral("1,234,567"));
  QCOMPARE(w->cell(2, 3), QStringLiteral("1,234,565"));
  QVERIFY2(w->cell(4, 1).isEmpty(), "legend rows carry no figures");
  QCOMPARE(w->statusText(), QStringLiteral("Session traffic"));
}

void QuickLookTest::statusBoxShowsTheWholeRefusal() {
  Window f;
  QuickLookWindow* w = f.window;
  w->show();
  QTRY_VERIFY(!w->busy());
  const QString texts[] = {refusedText(), notRunningText(1722)};
  for (const QString& text : texts) {
    AgentReading down;
    down.failure = text;
    w->refresh(down);
    QCoreApplication::sendPostedEvents();  // layout requests
    QCOMPARE(w->statusText(), text);
    auto* box = w->findChild<QLabel*>(QStringLiteral("tbxStatus"));
    QVERIFY(box);
    // Every line of the wrapped text fits the box, and the box fits the window.
    QVERIFY2(box->heightForWidth(box->width()) <= box->height(), qPrintable(text));
    QVERIFY2(box->geometry().right() <= w->width(), qPrintable(text));
  }
}

void QuickLookTest::configAtOpeningTestOnRequestAdvancedOnlyWithConsole() {
  Window f(false, [](ScriptedAccess& s) { scriptText(s, "CMD TEST"); });
  QuickLookWindow* w = f.window;
  QVERIFY(!w->advancedEnabled());
  QTRY_VERIFY(!w->busy());
  QCOMPARE(w->reportText(), QStringLiteral("report for CMD CONFIG\nline two"));
  w->runTest();
  QVERIFY(QApplication::overrideCursor());
  QTRY_VERIFY(!w->busy());
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QCOMPARE(w->reportText(), QStringLiteral("report for CMD TEST\nline two"));
  QVERIFY2(f.script->finished(), qPrintable(desktop::test::mismatchText(*f.script)));
  QVERIFY2(f.script->mismatches().empty(), qPrintable(desktop::test::mismatchText(*f.script)));
  w->setConsoleInstalled(true);
  QVERIFY(w->advancedEnabled());
}

void QuickLookTest::cursorRestoredWhenTheWindowClosesDuringARequest_data() {
  QTest::addColumn<bool>("snapshot");
  QTest::newRow("Test") << false;
  QTest::newRow("Snapshot") << true;
}

// The window, and with it its session, goes while the agent holds the request.
void QuickLookTest::cursorRestoredWhenTheWindowClosesDuringARequest() {
  QFETCH(bool, snapshot);
  QTemporaryDir dir;
  Window f(false, [snapshot](ScriptedAccess& s) {
    if (snapshot) {
      s.expectWrite("SNAPSHOT");
    } else {
      scriptText(s, "CMD TEST");
    }
  });
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QTRY_VERIFY(!f.window->busy());
  ScriptedAccess* script = f.script;
  script->holdNextCall();
  if (snapshot) {
    f.window->saveSnapshotTo(dir.path() + QStringLiteral("/x.VSN"));
  } else {
    f.window->runTest();
  }
  QVERIFY(QApplication::overrideCursor());
  QVERIFY(QTest::qWaitFor([&] { return script->holding(); }, 2000));
  f.window->close();  // deletes the window while the request runs
  QTRY_VERIFY(!f.window);
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  script->release();  // the abandoned request ends on its own thread
  QTest::qWait(50);
}

void QuickLookTest::snapshotFileFirstThenTheAgentAndNoFileLeftOnFailure_data() {
  QTest::addColumn<bool>("creatable");
  QTest::addColumn<QString>("agent");  // how the agent answers "SNAPSHOT"
  QTest::addColumn<QString>("message");  // "": none
  QTest::addColumn<bool>("fileLeft");
  QTest::newRow("saved") << true << QStringLiteral("saved") << QString() << true;
  QTest::newRow("file cannot be created: the agent is not asked")
      << false << QString() << QStringLiteral("Could not save to file") << false;
  QTest::newRow("the agent refused the key") << true << QStringLiteral("refused") << refusedText() << false;
  QTest::newRow("the agent's own reason")
      << true << QStringLiteral("reason") << QStringLiteral("Cannot create temporary file") << false;
  QTest::newRow("an empty snapshot")
      << true << QStringLiteral("empty")
      << QStringLiteral("The VELTRIS Agent could not make the snapshot (its reply is empty)") << false;
}

void QuickLookTest::snapshotFileFirstThenTheAgentAndNoFileLeftOnFailure() {
  QFETCH(bool, creatable);
  QFETCH(QString, agent);
  QFETCH(QString, message);
  QFETCH(bool, fileLeft);
  QTemporaryDir dir;
  const QString path = creatable ? dir.path() + QStringLiteral("/pc.VSN") : dir.path() + QStringLiteral("/missing/pc.VSN");
  const std::string file = path.toStdString();
  Window f(
      false,
      [agent, file](ScriptedAccess& s) {
        if (agent.isEmpty()) return;
        if (agent == QLatin1String("refused")) {
          s.expectWrite("SNAPSHOT", -2).expectClose();
          return;
        }
        s.expectWrite("SNAPSHOT").expectRecord(header());
        if (agent == QLatin1String("saved")) s.expectRead(bytes("VSN ")).expectRead(bytes("x")).expectSave(file);
        if (agent == QLatin1String("reason"))
          s.expectRead(bytes("TXT4")).expectRead(bytes("Cannot create temporary file\r\n"));
        if (agent == QLatin1String("empty")) s.expectRead(bytes("VSN ")).expectReplyEnd();
      },
      path);
  desktop::test::ScriptedPrompter prompter;
  QTRY_VERIFY(!f.window->busy());
  f.window->saveSnapshotTo(path);
  QTRY_VERIFY(!f.window->busy());
  QCOMPARE(f.existedWhenAsked->has_value(), creatable);
  if (creatable) QVERIFY2(**f.existedWhenAsked, "the file is made before the agent is asked");
  QStringList shown;
  for (const desktop::Message& m : prompter.shown) shown << m.title + QStringLiteral(": ") + m.text;
  QCOMPARE(shown, message.isEmpty() ? QStringList{} : QStringList{QStringLiteral("VELTRIS ERROR: ") + message});
  QCOMPARE(QFile::exists(path), fileLeft);
  QTRY_VERIFY2(f.script->finished(), qPrintable(desktop::test::mismatchText(*f.script)));  // a refusal's close comes after
  QVERIFY2(f.script->mismatches().empty(), qPrintable(desktop::test::mismatchText(*f.script)));
}

QTEST_MAIN(QuickLookTest)
#include "quicklook_test.moc"
