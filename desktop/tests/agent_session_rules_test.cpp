// The session's rules for replies and requests: generations, views, requests
// held behind "OPEN", refresh keys, snapshot failures and an abandoned request.
#include <QElapsedTimer>
#include <QtTest>

#include "desktop/agent_session.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::desktop;
using namespace veltris::desktop::test;

namespace {

struct Fixture {
  Fixture() {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    session = std::make_unique<AgentSession>(std::move(owned));
    showFailures(*session);
  }
  bool connect(const QString& name = QString()) {
    int result = -1;
    session->connectTo(name, nullptr, [&](bool ok) { result = ok ? 1 : 0; });
    return QTest::qWaitFor([&] { return result >= 0; }, 5000) && result == 1;
  }
  bool held() { return QTest::qWaitFor([&] { return script->holding(); }, 5000); }
  int writes(const std::string& text) const {
    const std::vector<std::string> played = script->played();
    return static_cast<int>(std::count(played.begin(), played.end(), "write " + text));
  }
  TestRoot root;
  MessageLog messages;
  ScriptedAccess* script;
  std::unique_ptr<AgentSession> session;
};

View view(View::Kind kind, const char* day, uint64_t serial) { return View{kind, QString::fromLatin1(day), serial}; }

}  // namespace

Q_DECLARE_METATYPE(veltris::desktop::View)
Q_DECLARE_METATYPE(veltris::desktop::Delivery)

class AgentSessionRulesTest : public QObject {
  Q_OBJECT
 private slots:
  void deliveryRules_data();
  void deliveryRules();
  void anOvertakenConnectStaysSilent();
  void requestsWaitForOpen();
  void requestsWaitingForAFailedOpenAreDropped();
  void aReplyForAnotherTimeBaseIsDropped();
  void aRefreshInFlightIsNotSentTwice();
  void aSnapshotSaysItIsCorruptOnce();
  void aDamagedSnapshotIsCorrupt();
  void destroyingDuringAHeldRequestReturnsAtOnce();
};

void AgentSessionRulesTest::deliveryRules_data() {
  QTest::addColumn<quint64>("askedGeneration");
  QTest::addColumn<View>("askedView");
  QTest::addColumn<quint64>("generation");
  QTest::addColumn<View>("current");
  QTest::addColumn<Delivery>("delivery");
  const View none;
  const View live = view(View::RealTime, "", 1);
  const View day = view(View::Day, "20261130", 2);
  QTest::newRow("same generation, no view") << 3ull << none << 3ull << live << Delivery::Deliver;
  QTest::newRow("same generation and view") << 3ull << live << 3ull << live << Delivery::Deliver;
  QTest::newRow("a day asked, real time now") << 3ull << day << 3ull << live << Delivery::DropView;
  QTest::newRow("real time asked, a day now") << 3ull << live << 3ull << day << Delivery::DropView;
  QTest::newRow("same day chosen again") << 3ull << day << 3ull << view(View::Day, "20261130", 4)
                                         << Delivery::DropView;
  QTest::newRow("older generation, no view") << 2ull << none << 3ull << live << Delivery::DropGeneration;
  QTest::newRow("older generation, same view") << 2ull << live << 3ull << live << Delivery::DropGeneration;
}

void AgentSessionRulesTest::deliveryRules() {
  QFETCH(quint64, askedGeneration);
  QFETCH(View, askedView);
  QFETCH(quint64, generation);
  QFETCH(View, current);
  QFETCH(Delivery, delivery);
  QCOMPARE(deliveryOf(askedGeneration, askedView, generation, current), delivery);
}

void AgentSessionRulesTest::anOvertakenConnectStaysSilent() {
  Fixture f;
  f.script->expectClose().expectOpen("SLOW", 1722);
  scriptConnect(*f.script, "*SNAPSHOT* /tmp/a.VSN", "");
  f.script->holdNextCall();
  int slowDone = 0;
  f.session->connectTo(QStringLiteral("SLOW"), nullptr, [&](bool) { ++slowDone; });
  QVERIFY(f.held());
  int snapshotResult = -1;
  f.session->connectTo(QStringLiteral("*SNAPSHOT* /tmp/a.VSN"), nullptr,
                       [&](bool ok) { snapshotResult = ok ? 1 : 0; });
  f.script->release();
  QTRY_COMPARE(snapshotResult, 1);
  QTest::qWait(20);
  QCOMPARE(slowDone, 0);                   // the overtaken connect reports nothing
  QCOMPARE(f.messages.texts, QStringList{});  // not "Connection failed with retcode  1722"
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionRulesTest::requestsWaitForOpen() {
  Fixture f;
  scriptConnect(*f.script, "", "SECRET");
  f.script->expectWrite("DETAILS  0").expectRecord(header()).expectReplyEnd();
  f.script->holdNextCall();
  bool connected = false;
  f.session->connectTo(QString(), nullptr, [&](bool ok) { connected = ok; });
  QVERIFY(f.held());
  bool answered = false;
  QVERIFY(f.session->send({QStringLiteral("DETAILS  0"), {}, {}, {}, {}}, nullptr,
                          [&](const Reply& reply) { answered = reply.ok; }));
  f.script->release();
  QTRY_VERIFY(answered);
  QVERIFY(connected);
  const std::vector<std::string> played = f.script->played();
  const auto open = std::find(played.begin(), played.end(), "write OPEN SECRET");
  const auto details = std::find(played.begin(), played.end(), "write DETAILS  0");
  QVERIFY(open < details);
  QVERIFY(f.messages.texts.isEmpty());
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionRulesTest::requestsWaitingForAFailedOpenAreDropped() {
  Fixture f;
  f.session->setPassword(QStringLiteral("wrong"));
  f.script->expectClose().expectOpen("PC9").expectWrite("OPEN wrong", -2);
  f.script->holdNextCall();
  int connected = -1;
  f.session->connectTo(QStringLiteral("PC9"), nullptr, [&](bool ok) { connected = ok; });
  QVERIFY(f.held());
  bool answered = false;
  f.session->send({QStringLiteral("OID"), {}, {}, {}, {}}, nullptr, [&](const Reply&) { answered = true; });
  f.script->release();
  QTRY_COMPARE(connected, 0);
  QTRY_VERIFY(!f.session->busy());
  QVERIFY(!answered);
  QCOMPARE(f.writes("OID"), 0);
  QCOMPARE(f.messages.texts, QStringList{QStringLiteral("Security check FAILED")});
}

void AgentSessionRulesTest::aReplyForAnotherTimeBaseIsDropped() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connect());
  f.session->setView(View::RealTime);
  f.script->expectWrite("STATS_PRO  5").expectRecord(header()).expectReplyEnd();
  f.script->expectWrite("TPS 20261130").expectRecord(header()).expectReplyEnd();
  f.script->holdNextCall();
  QStringList shown;
  f.session->send({QStringLiteral("STATS_PRO  5"), {}, {}, f.session->view(), {}}, nullptr,
                  [&](const Reply&) { shown << QStringLiteral("real time"); });
  QVERIFY(f.held());
  f.session->setView(View::Day, QStringLiteral("20261130"));  // a day picked while the poll runs
  f.session->send({QStringLiteral("TPS 20261130"), {}, {}, f.session->view(), {}}, nullptr,
                  [&](const Reply&) { shown << QStringLiteral("day"); });
  f.script->release();
  QTRY_COMPARE(shown, QStringList{QStringLiteral("day")});
  QTRY_VERIFY(!f.session->busy());
  QCOMPARE(shown, QStringList{QStringLiteral("day")});
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionRulesTest::aRefreshInFlightIsNotSentTwice() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connect());
  f.script->expectWrite("DETAILS  7").expectRecord(header()).expectReplyEnd();
  f.script->expectWrite("DETAILS  10").expectRecord(header()).expectReplyEnd();
  f.script->holdNextCall();
  int replies = 0;
  const RequestJob job{QStringLiteral("DETAILS  7"), {}, {}, {}, QStringLiteral("DETAILS")};
  QVERIFY(f.session->send(job, nullptr, [&](const Reply&) { ++replies; }));
  QVERIFY(f.held());
  QVERIFY(!f.session->send(job, nullptr, [&](const Reply&) { ++replies; }));  // "&Refresh" meanwhile
  f.script->release();
  QTRY_COMPARE(replies, 1);
  // Once answered, the next refresh goes out.
  QVERIFY(f.session->send({QStringLiteral("DETAILS  10"), {}, {}, {}, QStringLiteral("DETAILS")}, nullptr,
                          [&](const Reply&) { ++replies; }));
  QTRY_COMPARE(replies, 2);
  QCOMPARE(f.writes("DETAILS  7"), 1);
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionRulesTest::aSnapshotSaysItIsCorruptOnce() {
  Fixture f;
  const std::string file = "*SNAPSHOT* /tmp/no-oid.VSN";
  f.script->expectClose().expectOpen(file).expectWrite("OPEN ").expectRecord(header(0));
  QVERIFY(f.connect(QString::fromStdString(file)));
  f.script->expectWrite("OID", 1);  // the snapshot holds no adapter records
  for (int i = 0; i < 4; ++i) f.script->expectWrite("STATS_PRO  0", 1);
  f.script->expectWrite("TOTAL").expectRecord(header(0));
  int failures = 0;
  f.session->send({QStringLiteral("OID"), {}, {}, {}, {}}, nullptr, [&](const Reply& r) { failures += !r.ok; });
  for (int i = 0; i < 4; ++i)  // a poll a second
    f.session->send({QStringLiteral("STATS_PRO  0"), {}, {}, {}, {}}, nullptr,
                    [&](const Reply& r) { failures += !r.ok; });
  bool totals = false;
  f.session->send({QStringLiteral("TOTAL"), {}, {}, {}, {}}, nullptr, [&](const Reply& r) { totals = r.ok; });
  QTRY_VERIFY(totals);  // the snapshot still answers what it holds
  QCOMPARE(failures, 5);
  QCOMPARE(f.messages.texts, QStringList{QStringLiteral("SnapShot file is corrupt")});
  QVERIFY(f.session->isOpen());
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionRulesTest::aDamagedSnapshotIsCorrupt() {
  Fixture f;
  f.script->expectClose().expectOpen("*SNAPSHOT* /tmp/damaged.VSN", -4);
  QVERIFY(!f.connect(QStringLiteral("*SNAPSHOT* /tmp/damaged.VSN")));
  QCOMPARE(f.messages.texts, QStringList{QStringLiteral("SnapShot file is corrupt")});
}

void AgentSessionRulesTest::destroyingDuringAHeldRequestReturnsAtOnce() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connect());
  f.script->expectWrite("CMD PING 10.0.0.9");
  f.script->holdNextCall();  // a command that hangs on the agent
  bool answered = false;
  f.session->send({QStringLiteral("CMD PING 10.0.0.9"), {}, {}, {}, {}}, nullptr,
                  [&](const Reply&) { answered = true; });
  QVERIFY(f.held());
  QElapsedTimer clock;
  clock.start();
  f.session->close();
  f.session.reset();
  QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
  QTest::qWait(20);
  QVERIFY(!answered);
  // The abandoned request thread stays blocked in the access library until the process ends.
}

QTEST_MAIN(AgentSessionRulesTest)
#include "agent_session_rules_test.moc"
