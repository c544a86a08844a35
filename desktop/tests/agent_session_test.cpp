// Connect, Request and ConnectionLost through a scripted agent: every message
// word for word, the order of the access calls, and the request thread.
#include <QSignalSpy>
#include <QtTest>

#include "desktop/agent_session.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::desktop;
using namespace veltris::desktop::test;

namespace {

struct Fixture {
  explicit Fixture(bool installed = true, const QString& key = QStringLiteral("SECRET")) : root(installed, key) {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    connection = std::make_unique<AgentSession>(std::move(owned), nullptr);
    showFailures(*connection);
  }
  // Connect, waiting for its result.
  bool connectTo(const QString& name) {
    int result = -1;
    connection->connectTo(name, nullptr, [&](bool ok) { result = ok ? 1 : 0; });
    if (!QTest::qWaitFor([&] { return result >= 0; }, 5000)) return false;
    return result == 1;
  }
  Reply request(const QString& text, std::vector<ReadStep> steps = {}) {
    Reply out;
    bool done = false;
    connection->send({text, std::move(steps), {}}, nullptr, [&](const Reply& r) {
      out = r;
      done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000)) out.ok = false;
    return out;
  }
  TestRoot root;
  MessageLog messages;
  ScriptedAccess* script;
  std::unique_ptr<AgentSession> connection;
};

}  // namespace

class AgentSessionTest : public QObject {
  Q_OBJECT
 private slots:
  void connectsToTheLocalAgentWithTheRegistryKey();
  void openFailures_data();
  void openFailures();
  void noPasswordAnywhere();
  void wrongPasswordOnOpenIsAMessageOnly();
  void versionMismatch();
  void requestFailures_data();
  void requestFailures();
  void exitAndDumpAreSpecial();
  void snapshotMessages();
  void replyStatusCarriesStateAndTime();
  void recordsAreReadByStep();
  void requestsRunInOrderOffTheUiThread();
  void queuedRequestsOfALostConnectionAreDropped();
};

void AgentSessionTest::connectsToTheLocalAgentWithTheRegistryKey() {
  Fixture f;
  scriptConnect(*f.script, "", "SECRET");
  QVERIFY(f.connectTo(QString()));
  QVERIFY(f.script->finished());
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
  QCOMPARE(f.connection->password(), QStringLiteral("SECRET"));
  QVERIFY(f.messages.texts.isEmpty());
  // A typed password wins over the registry; the name is passed trimmed.
  f.connection->setPassword(QStringLiteral("typed"));
  scriptConnect(*f.script, "HOST7", "typed");
  QVERIFY(f.connectTo(QStringLiteral("  HOST7 ")));
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::openFailures_data() {
  QTest::addColumn<int>("result");
  QTest::addColumn<QString>("message");
  QTest::newRow("-1 is silent") << -1 << QString();
  QTest::newRow("1722") << 1722 << QStringLiteral("Connection failed with retcode  1722");
  QTest::newRow("-7") << -7 << QStringLiteral("Connection failed with retcode -7");
}

void AgentSessionTest::openFailures() {
  QFETCH(int, result);
  QFETCH(QString, message);
  Fixture f;
  f.script->expectClose().expectOpen("PC9", result);
  QVERIFY(!f.connectTo(QStringLiteral("PC9")));
  QCOMPARE(f.messages.texts, message.isEmpty() ? QStringList{} : QStringList{message});
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::noPasswordAnywhere() {
  Fixture f(true, QString());
  QVERIFY(!f.connectTo(QString()));
  QCOMPARE(f.messages.texts, QStringList{QStringLiteral("Please specify a PASSWORD")});
  QVERIFY(f.script->played().empty());  // nothing was opened
}

void AgentSessionTest::wrongPasswordOnOpenIsAMessageOnly() {
  Fixture f;
  QSignalSpy lost(f.connection.get(), &AgentSession::lost);
  f.connection->setPassword(QStringLiteral("wrong"));
  f.script->expectClose().expectOpen("PC9").expectWrite("OPEN wrong", -2);
  QVERIFY(!f.connectTo(QStringLiteral("PC9")));
  QCOMPARE(f.messages.texts, QStringList{QStringLiteral("Security check FAILED")});
  QCOMPARE(lost.count(), 0);
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::versionMismatch() {
  Fixture f;
  QSignalSpy lost(f.connection.get(), &AgentSession::lost);
  f.script->expectClose().expectOpen("OLDPC").expectWrite("OPEN SECRET").expectRecord(header(4, "19980101"));
  f.script->expectClose();  // ConnectionLost closes
  QVERIFY(!f.connectTo(QStringLiteral("OLDPC")));
  QTRY_COMPARE(lost.count(), 1);
  QCOMPARE(f.messages.texts,
           QStringList{QStringLiteral("VELTRIS CLIENT version 19990415 does not match VELTRIS Monitoring Agent "
                                      "version 19980101")});
  QTRY_VERIFY(f.script->finished());
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::requestFailures_data() {
  QTest::addColumn<int>("writeResult");
  QTest::addColumn<bool>("headerOk");
  QTest::addColumn<QString>("message");
  QTest::newRow("key refused") << -2 << true << QStringLiteral("Security check FAILED");
  QTest::newRow("1726") << 1726 << true
                        << QStringLiteral("Request to VELTRIS Monitoring Agent failed with retcode  1726 x6BE");
  QTest::newRow("-5") << -5 << true
                      << QStringLiteral("Request to VELTRIS Monitoring Agent failed with retcode -5 xFFFFFFFB");
  QTest::newRow("no TASK header") << 0 << false
                                  << QStringLiteral("Could not determine VERSION of VELTRIS Monitoring Agent");
}

void AgentSessionTest::requestFailures() {
  QFETCH(int, writeResult);
  QFETCH(bool, headerOk);
  QFETCH(QString, message);
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connectTo(QString()));
  QSignalSpy lost(f.connection.get(), &AgentSession::lost);
  QSignalSpy cleared(f.connection.get(), &AgentSession::statusCleared);
  f.script->expectWrite("TOTAL", writeResult);
  if (writeResult == 0) f.script->expectRecord(headerOk ? header() : ReplyHeader{});
  f.script->expectClose();
  Reply reply = f.request(QStringLiteral("TOTAL"));
  QVERIFY(!reply.ok);
  QCOMPARE(f.messages.texts, QStringList{message});
  QCOMPARE(lost.count(), 1);
  QCOMPARE(cleared.count(), 1);
  QVERIFY(!f.connection->isOpen());
  QTRY_VERIFY(f.script->finished());
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::exitAndDumpAreSpecial() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connectTo(QString()));
  f.script->expectWrite("EXIT", 1726);
  QVERIFY(!f.request(QStringLiteral("EXIT")).ok);
  f.script->expectWrite("EXIT").expectRecord(ReplyHeader{});
  QVERIFY(!f.request(QStringLiteral("EXIT")).ok);
  f.script->expectWrite("DUMP");  // no header read
  QVERIFY(f.request(QStringLiteral("DUMP")).ok);
  QVERIFY(f.messages.texts.isEmpty());
  QVERIFY(f.script->finished());
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::snapshotMessages() {
  const QString file = QStringLiteral("*SNAPSHOT* /tmp/day.VSN");
  {
    Fixture f;  // a snapshot with another version
    f.script->expectClose().expectOpen(file.toStdString()).expectWrite("OPEN ").expectRecord(header(0, "19970707"));
    QVERIFY(!f.connectTo(file));
    QCOMPARE(f.messages.texts,
             QStringList{QStringLiteral("VELTRIS CLIENT version 19990415 does not match Snapshot version 19970707")});
    QVERIFY(f.connection->snapshot());
    QVERIFY(f.connection->password().isEmpty());
  }
  {
    Fixture f;  // first record not TASK
    f.script->expectClose().expectOpen(file.toStdString()).expectWrite("OPEN ").expectRecord(ReplyHeader{});
    QVERIFY(!f.connectTo(file));
    QCOMPARE(f.messages.texts, QStringList{QStringLiteral("SnapShot file is corrupt")});
  }
  {
    Fixture f;  // a failed command against a snapshot is silent and keeps the connection
    f.script->expectClose().expectOpen(file.toStdString()).expectWrite("OPEN ").expectRecord(header(0));
    QVERIFY(f.connectTo(file));
    QSignalSpy status(f.connection.get(), &AgentSession::replyStatus);
    f.script->expectWrite("CMD NETSTAT -n", 1);
    QVERIFY(!f.request(QStringLiteral("CMD NETSTAT -n")).ok);
    QVERIFY(f.messages.texts.isEmpty());
    QVERIFY(f.connection->isOpen());
    f.script->expectWrite("TOTAL").expectRecord(header(7));
    QVERIFY(f.request(QStringLiteral("TOTAL")).ok);
    QCOMPARE(status.count(), 0);  // no status picture for a snapshot
  }
}

void AgentSessionTest::replyStatusCarriesStateAndTime() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connectTo(QString()));
  QSignalSpy status(f.connection.get(), &AgentSession::replyStatus);
  f.script->expectWrite("TOTAL").expectRecord(header(9, "19990415", "23:59:01"));
  QVERIFY(f.request(QStringLiteral("TOTAL")).ok);
  QCOMPARE(status.count(), 1);
  QCOMPARE(status[0][0].toInt(), 9);
  QCOMPARE(status[0][1].toString(), QStringLiteral("23:59:01"));
}

void AgentSessionTest::recordsAreReadByStep() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connectTo(QString()));
  Counts c;
  c.sequence = 77;
  f.script->expectWrite("HISTORY_LIST").expectRecord(header()).expectRecord(totals(c));
  f.script->expectRecord(historyDay("20261130")).expectRecord(historyDay("20261201")).expectReplyEnd();
  Reply reply = f.request(QStringLiteral("HISTORY_LIST"),
                          {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                           {{'H', 'I', 'S', 'T'}, sizeof(HistoryDayRecord), ReadStep::WhileTag}});
  QVERIFY(reply.ok);
  TotalsRecord t{};
  QVERIFY(reply.first(0, t));
  QCOMPARE(t.sequence.get(), 77u);
  auto days = reply.records<HistoryDayRecord>(1);
  QCOMPARE(days.size(), size_t{2});
  QCOMPARE(QByteArray(days[1].day, 8), QByteArray("20261201"));
  // A single record of the wrong tag is kept for the caller and ends the reply.
  f.script->expectWrite("TOTAL").expectRecord(header()).expectRecord(historyDay("20261130")).expectReplyEnd();
  reply = f.request(QStringLiteral("TOTAL"), {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                                             {{'S', 'T', 'A', 'T'}, sizeof(PartnerStatRecord), ReadStep::WhileTag}});
  QVERIFY(reply.ok);
  QCOMPARE(reply.count(0), size_t{1});
  QCOMPARE(reply.count(1), size_t{0});
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

void AgentSessionTest::requestsRunInOrderOffTheUiThread() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connectTo(QString()));
  QStringList order;
  f.script->expectWrite("TOTAL").expectRecord(header()).expectWrite("OID").expectRecord(header());
  f.script->holdNextCall();  // a slow agent
  f.connection->send({QStringLiteral("TOTAL"), {}, {}}, nullptr, [&](const Reply&) { order << "TOTAL"; });
  f.connection->send({QStringLiteral("OID"), {}, {}}, nullptr, [&](const Reply&) { order << "OID"; });
  QTest::qWait(50);  // the UI thread runs while the agent holds the request
  QVERIFY(f.connection->busy());
  QVERIFY(order.isEmpty());
  f.script->release();
  QTRY_COMPARE(order, (QStringList{"TOTAL", "OID"}));
  QVERIFY(!f.connection->busy());
}

void AgentSessionTest::queuedRequestsOfALostConnectionAreDropped() {
  Fixture f;
  scriptConnect(*f.script);
  QVERIFY(f.connectTo(QString()));
  f.script->expectWrite("TOTAL", 1726).expectClose();
  f.script->holdNextCall();
  int failed = 0;
  bool oidAnswered = false;
  f.connection->send({QStringLiteral("TOTAL"), {}, {}}, nullptr, [&](const Reply& r) { failed += !r.ok; });
  f.connection->send({QStringLiteral("OID"), {}, {}}, nullptr, [&](const Reply&) { oidAnswered = true; });
  f.script->release();
  QTRY_COMPARE(failed, 1);
  QTRY_VERIFY(f.script->finished());
  QTRY_VERIFY(!f.connection->busy());
  QVERIFY(!oidAnswered);  // dropped with its generation, never answered
  QCOMPARE(f.messages.texts.size(), 1);  // one message, OID never sent
  QVERIFY2(f.script->mismatches().empty(), qPrintable(mismatchText(*f.script)));
}

QTEST_MAIN(AgentSessionTest)
#include "agent_session_test.moc"
