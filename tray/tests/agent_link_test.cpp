// The tray's poll and QuickLook's requests on their agent sessions, against a
// scripted agent: the calls in order, what each reading and answer says, a
// refused key held, a poll never queued twice, snapshots and text replies.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "desktop/testing/test_support.h"
#include "tray/agent_link.h"

using namespace veltris;
using namespace veltris::tray;
using desktop::ScriptedAccess;
using desktop::test::header;
using desktop::test::scriptConnect;
using desktop::test::totals;

namespace {

constexpr int32_t kRefused = -2;
constexpr int32_t kServerUnavailable = 1722;

// What one reading says, on one line.
QString summary(const AgentReading& r) {
  if (r.answered) return QStringLiteral("ok %1 %2 %3").arg(r.code).arg(r.sequence).arg(r.hostName);
  return (r.keyRefused ? QStringLiteral("refused ") : QStringLiteral("failed ")) + r.key + QStringLiteral(": ") +
         r.failure;
}

void scriptTotal(ScriptedAccess& s, uint32_t state, uint32_t sequence, int32_t writeResult = 0) {
  s.expectWrite("TOTAL", writeResult);
  if (writeResult != 0) return;
  desktop::test::Counts counts;
  counts.sequence = sequence;
  s.expectRecord(header(state)).expectRecord(totals(counts, "PC7", "IP=10.0.0.7"));
}

struct Poll {
  ScriptedAccess* script;
  std::unique_ptr<AgentPoll> poll;
  QStringList readings;
  Poll() {
    auto access = std::make_unique<ScriptedAccess>();
    script = access.get();
    poll = std::make_unique<AgentPoll>(std::move(access));
    QObject::connect(poll.get(), &AgentPoll::polled, [this](const AgentReading& r) { readings << summary(r); });
  }
  // One tick, and the readings it brought (none when it sent nothing).
  QStringList tick() {
    const qsizetype before = readings.size();
    poll->pollOnce();
    QTest::qWaitFor([&] { return !poll->session().busy(); }, 2000);
    return readings.mid(before);
  }
};

// A step of a poll's life: what the agent is scripted to do, what happens, and
// the readings that follow.
struct PollStep {
  const char* name;
  std::function<void(ScriptedAccess&)> script;
  std::function<void(AgentPoll&)> act;  // before the tick; none: a plain tick
  QStringList readings;
  bool holding;
};

const QString kNotRunning = QStringLiteral("failed secret: ") + notRunningText(kServerUnavailable);

const std::vector<PollStep>& pollSteps() {
  static const std::vector<PollStep> steps = {
      {"no key: nothing is sent", {}, {}, {}, true},
      {"first tick connects and polls",
       [](ScriptedAccess& s) {
         scriptConnect(s, "", "secret");
         scriptTotal(s, 4, 10);
       },
       [](AgentPoll& p) { p.setKey(QStringLiteral("secret")); }, {QStringLiteral("ok 4 10 PC7")}, false},
      {"the connection is kept", [](ScriptedAccess& s) { scriptTotal(s, 8, 11); }, {},
       {QStringLiteral("ok 8 11 PC7")}, false},
      {"a failed poll closes the connection",
       [](ScriptedAccess& s) {
         scriptTotal(s, 0, 0, kServerUnavailable);
         s.expectClose();
       },
       {}, {QStringLiteral("failed secret: ") + notRunningText(kServerUnavailable)}, false},
      {"no agent: the reason, and the next tick tries again",
       [](ScriptedAccess& s) { s.expectClose().expectOpen("", kServerUnavailable); }, {}, {kNotRunning}, false},
      {"the agent is back",
       [](ScriptedAccess& s) {
         scriptConnect(s, "", "secret");
         scriptTotal(s, 1, 12);
       },
       {}, {QStringLiteral("ok 1 12 PC7")}, false},
      {"a new key: a new connection",
       [](ScriptedAccess& s) {
         s.expectClose().expectOpen("").expectWrite("OPEN wrong", kRefused);
       },
       [](AgentPoll& p) { p.setKey(QStringLiteral("wrong")); },
       {QStringLiteral("refused wrong: ") + refusedText()}, true},
      {"a refused key is not sent again", {}, {}, {}, true},
      {"nor on the next tick", {}, {}, {}, true},
      {"offered again, it is sent once more",
       [](ScriptedAccess& s) { s.expectClose().expectOpen("").expectWrite("OPEN wrong", kRefused); },
       [](AgentPoll& p) { p.setKey(QStringLiteral("wrong")); },
       {QStringLiteral("refused wrong: ") + refusedText()}, true},
      {"an empty key holds the poll", {}, [](AgentPoll& p) { p.setKey(QString()); }, {}, true},
      {"the right key",
       [](ScriptedAccess& s) {
         scriptConnect(s, "", "secret");
         scriptTotal(s, 2, 13);
       },
       [](AgentPoll& p) { p.setKey(QStringLiteral("secret")); }, {QStringLiteral("ok 2 13 PC7")}, false},
      {"the key refused in the middle of a connection",
       [](ScriptedAccess& s) {
         s.expectWrite("TOTAL", kRefused).expectClose();
       },
       {}, {QStringLiteral("refused secret: ") + refusedText()}, true},
  };
  return steps;
}

}  // namespace

class AgentLinkTest : public QObject {
  Q_OBJECT
 private slots:
  void pollLifeStepByStep();
  void aTickWhileThePollRunsSendsNothing();
  void anotherVersionIsShownAsItIs();
  void aKeyJustWrittenWaitsForTheAgentToReadIt();
  void requests_data();
  void requests();
  void requestsWithoutAKeySendNothing();
  void requestsRunOneAtATimeInOrder();
  void storedKey_data();
  void storedKey();
};

// The steps run in turn on one poll: each starts where the one before left it.
void AgentLinkTest::pollLifeStepByStep() {
  Poll p;
  for (const PollStep& step : pollSteps()) {
    if (step.script) step.script(*p.script);
    if (step.act) step.act(*p.poll);
    const QStringList got = p.tick();
    QVERIFY2(got == step.readings, qPrintable(QString::fromLatin1(step.name) + QStringLiteral(": ") + got.join(QLatin1Char('|'))));
    QVERIFY2(p.poll->holding() == step.holding, step.name);
    QVERIFY2(p.script->finished(), qPrintable(QString::fromLatin1(step.name) + QStringLiteral(": script left")));
    QVERIFY2(p.script->mismatches().empty(),
             qPrintable(QString::fromLatin1(step.name) + QStringLiteral(": ") + desktop::test::mismatchText(*p.script)));
  }
}

void AgentLinkTest::aTickWhileThePollRunsSendsNothing() {
  Poll p;
  scriptConnect(*p.script, "", "secret");
  scriptTotal(*p.script, 4, 10);
  p.poll->setKey(QStringLiteral("secret"));
  QCOMPARE(p.tick(), QStringList{QStringLiteral("ok 4 10 PC7")});
  scriptTotal(*p.script, 5, 11);
  p.script->holdNextCall();
  p.poll->pollOnce();
  QVERIFY(QTest::qWaitFor([&] { return p.script->holding(); }, 2000));
  for (int i = 0; i < 3; ++i) p.poll->pollOnce();  // a slow agent: three more ticks
  p.script->release();
  QVERIFY(QTest::qWaitFor([&] { return p.readings.size() == 2; }, 2000));
  p.poll->session().drain();
  QTest::qWait(20);
  QCOMPARE(p.readings.last(), QStringLiteral("ok 5 11 PC7"));
  QCOMPARE(p.readings.size(), 2);
  QVERIFY2(p.script->mismatches().empty(), qPrintable(desktop::test::mismatchText(*p.script)));
}

void AgentLinkTest::anotherVersionIsShownAsItIs() {
  Poll p;
  p.script->expectClose().expectOpen("").expectWrite("OPEN secret").expectRecord(header(4, "20010101"));
  p.script->expectClose();
  p.poll->setKey(QStringLiteral("secret"));
  const QStringList got = p.tick();
  QCOMPARE(got.size(), 1);
  QVERIFY2(got[0].contains(QStringLiteral("does not match VELTRIS Monitoring Agent version 20010101")),
           qPrintable(got[0]));
  QVERIFY(!p.poll->holding());
}

// A key from Settings or a changed registry file is sent only once the agent,
// which reads the file at most once a second, has read it.
void AgentLinkTest::aKeyJustWrittenWaitsForTheAgentToReadIt() {
  Poll p;
  p.poll->setKey(QStringLiteral("secret"), std::chrono::milliseconds(300));
  QCOMPARE(p.tick(), QStringList{});
  QVERIFY(p.script->played().empty());
  QVERIFY(!p.poll->holding());
  QTest::qWait(350);
  scriptConnect(*p.script, "", "secret");
  scriptTotal(*p.script, 4, 10);
  QCOMPARE(p.tick(), QStringList{QStringLiteral("ok 4 10 PC7")});
  QVERIFY2(p.script->mismatches().empty(), qPrintable(desktop::test::mismatchText(*p.script)));
}

// ---- QuickLook's requests ---------------------------------------------------

namespace {

TextReply textRecord(const char* body) {
  TextReply t{};
  std::memcpy(t.tag, kTextReplyTag, 4);
  std::strncpy(t.text, body, sizeof t.text - 1);
  return t;
}

std::vector<uint8_t> bytes(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

struct RequestCase {
  const char* request;  // "SNAPSHOT": into a file
  std::function<void(ScriptedAccess&, const std::string& path)> script;
  bool ok;
  QString text;  // ok: the reply's text; otherwise the error shown
  bool keyRefused;
};

const std::map<QString, RequestCase>& requestCases() {
  static const std::map<QString, RequestCase> cases = {
      {QStringLiteral("text reply"),
       {"CMD CONFIG",
        [](ScriptedAccess& s, const std::string&) {
          scriptConnect(s, "", "secret");
          s.expectWrite("CMD CONFIG").expectRecord(header()).expectRecord(textRecord("Config\r\nline two"));
        },
        true, QStringLiteral("Config\r\nline two"), false}},
      {QStringLiteral("a reply that is not text"),
       {"CMD TEST",
        [](ScriptedAccess& s, const std::string&) {
          scriptConnect(s, "", "secret");
          s.expectWrite("CMD TEST").expectRecord(header()).expectRecord(totals({}));
        },
        false, QStringLiteral("The agent's reply to 'CMD TEST' is not a text reply"), false}},
      {QStringLiteral("no agent"),
       {"CMD CONFIG", [](ScriptedAccess& s, const std::string&) { s.expectClose().expectOpen("", kServerUnavailable); },
        false, notRunningText(kServerUnavailable), false}},
      {QStringLiteral("key refused"),
       {"CMD CONFIG",
        [](ScriptedAccess& s, const std::string&) {
          s.expectClose().expectOpen("").expectWrite("OPEN secret", kRefused);
        },
        false, refusedText(), true}},
      {QStringLiteral("snapshot saved"),
       {"SNAPSHOT",
        [](ScriptedAccess& s, const std::string& path) {
          scriptConnect(s, "", "secret");
          s.expectWrite("SNAPSHOT").expectRecord(header()).expectRead(bytes("VSN ")).expectRead(bytes("x"));
          s.expectSave(path);
        },
        true, QString(), false}},
      {QStringLiteral("snapshot refused by the agent with its reason"),
       {"SNAPSHOT",
        [](ScriptedAccess& s, const std::string&) {
          scriptConnect(s, "", "secret");
          s.expectWrite("SNAPSHOT").expectRecord(header()).expectRead(bytes("TXT4"));
          s.expectRead(bytes("Cannot create temporary file  \r\n"));
        },
        false, QStringLiteral("Cannot create temporary file"), false}},
      {QStringLiteral("empty snapshot"),
       {"SNAPSHOT",
        [](ScriptedAccess& s, const std::string&) {
          scriptConnect(s, "", "secret");
          s.expectWrite("SNAPSHOT").expectRecord(header()).expectRead(bytes("VSN ")).expectReplyEnd();
        },
        false, QStringLiteral("The VELTRIS Agent could not make the snapshot (its reply is empty)"), false}},
      {QStringLiteral("snapshot not written"),
       {"SNAPSHOT",
        [](ScriptedAccess& s, const std::string& path) {
          scriptConnect(s, "", "secret");
          s.expectWrite("SNAPSHOT").expectRecord(header()).expectRead(bytes("VSN ")).expectRead(bytes("x"));
          s.expectSave(path, -1);
        },
        false, QStringLiteral("Could not save to file"), false}},
  };
  return cases;
}

}  // namespace

void AgentLinkTest::requests_data() {
  QTest::addColumn<QString>("name");
  for (const auto& [name, c] : requestCases()) QTest::newRow(qPrintable(name)) << name;
}

void AgentLinkTest::requests() {
  QFETCH(QString, name);
  const RequestCase& c = requestCases().at(name);
  QTemporaryDir dir;
  const QString path = dir.path() + QStringLiteral("/pc.VSN");
  auto access = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = access.get();
  c.script(*script, path.toStdString());
  AgentRequests requests(std::move(access), [] { return std::optional<QString>(QStringLiteral("secret")); });
  QSignalSpy refused(&requests, &AgentRequests::keyRefused);
  std::optional<AgentAnswer> answer;
  auto done = [&](const AgentAnswer& a) { answer = a; };
  if (QLatin1String(c.request) == QLatin1String("SNAPSHOT")) {
    requests.askSnapshot(path, done);
  } else {
    requests.askText(QString::fromLatin1(c.request), done);
  }
  QVERIFY2(!answer, "answers come later, never at once");
  QVERIFY(QTest::qWaitFor([&] { return answer.has_value(); }, 2000));
  QCOMPARE(answer->ok, c.ok);
  QCOMPARE(c.ok ? answer->text : answer->error, c.text);
  QCOMPARE(answer->keyRefused, c.keyRefused);
  QCOMPARE(refused.size(), c.keyRefused ? 1 : 0);
  if (c.keyRefused) QCOMPARE(refused[0][0].toString(), QStringLiteral("secret"));
  QTRY_VERIFY2(script->finished(), qPrintable(desktop::test::mismatchText(*script)));
  QVERIFY2(script->mismatches().empty(), qPrintable(desktop::test::mismatchText(*script)));
}

void AgentLinkTest::requestsWithoutAKeySendNothing() {
  auto access = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = access.get();
  AgentRequests requests(std::move(access), [] { return std::optional<QString>(); });
  std::optional<AgentAnswer> answer;
  requests.askText(QStringLiteral("CMD CONFIG"), [&](const AgentAnswer& a) { answer = a; });
  QVERIFY(QTest::qWaitFor([&] { return answer.has_value(); }, 2000));
  QVERIFY(!answer->ok);
  QCOMPARE(answer->error, refusedText());
  QVERIFY(script->played().empty());
}

// Config at opening and a Test clicked at once: one connect, both in order,
// on the connection that stays open.
void AgentLinkTest::requestsRunOneAtATimeInOrder() {
  auto access = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = access.get();
  scriptConnect(*script, "", "secret");
  script->expectWrite("CMD CONFIG").expectRecord(header()).expectRecord(textRecord("config"));
  script->expectWrite("CMD TEST").expectRecord(header()).expectRecord(textRecord("test"));
  AgentRequests requests(std::move(access), [] { return std::optional<QString>(QStringLiteral("secret")); });
  QStringList texts;
  requests.askText(QStringLiteral("CMD CONFIG"), [&](const AgentAnswer& a) { texts << a.text; });
  requests.askText(QStringLiteral("CMD TEST"), [&](const AgentAnswer& a) { texts << a.text; });
  QVERIFY(requests.busy());
  QVERIFY(QTest::qWaitFor([&] { return texts.size() == 2; }, 2000));
  QCOMPARE(texts, (QStringList{QStringLiteral("config"), QStringLiteral("test")}));
  QVERIFY(!requests.busy());
  QVERIFY2(script->mismatches().empty(), qPrintable(desktop::test::mismatchText(*script)));
}

// ---- the stored key ---------------------------------------------------------

void AgentLinkTest::storedKey_data() {
  QTest::addColumn<QString>("registry");  // the Parameters key's lines; "-": no file
  QTest::addColumn<int>("outcome");
  QTest::addColumn<QString>("key");
  QTest::addColumn<QString>("reason");  // a part of it
  QTest::newRow("set") << QStringLiteral("\"OpenKey\"=\"secret\"") << int(StoredKey::Found) << QStringLiteral("secret")
                       << QString();
  QTest::newRow("longer than 16") << QStringLiteral("\"OpenKey\"=\"Typed-Password-Longer-Than-16\"")
                                  << int(StoredKey::Found) << QStringLiteral("Typed-Password-L") << QString();
  QTest::newRow("not set") << QString() << int(StoredKey::Missing) << QString()
                           << QStringLiteral("\"OpenKey\" is not set in ");
  QTest::newRow("empty") << QStringLiteral("\"OpenKey\"=\"\"") << int(StoredKey::Missing) << QString()
                         << QStringLiteral("is empty; set a password with Settings");
}

void AgentLinkTest::storedKey() {
  QFETCH(QString, registry);
  QFETCH(int, outcome);
  QFETCH(QString, key);
  QFETCH(QString, reason);
  desktop::test::TestRoot root(false, QString());
  QFile file(root.path() + QStringLiteral("/etc/veltris/registry.reg"));
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\r\n%1\r\n")
                 .arg(registry)
                 .toUtf8());
  file.close();
  const StoredKey stored = readStoredKey();
  QCOMPARE(int(stored.outcome), outcome);
  QCOMPARE(stored.key, key);
  QVERIFY2(reason.isEmpty() ? stored.reason.isEmpty() : stored.reason.contains(reason), qPrintable(stored.reason));
}

QTEST_MAIN(AgentLinkTest)
#include "agent_link_test.moc"
