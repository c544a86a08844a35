// What a program that is not the console needs of the session: text replies,
// the access library's result carried by a failure, and a connect in the
// background that leaves the application's cursors alone.
#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include "desktop/agent_session.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::desktop;
using namespace veltris::desktop::test;

namespace {

TextReply textRecord(const char* tag, const char* body) {
  TextReply t{};
  std::memcpy(t.tag, tag, 4);
  std::strncpy(t.text, body, sizeof t.text - 1);
  return t;
}

struct Session {
  Session() {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    session = std::make_unique<AgentSession>(std::move(owned));
    QObject::connect(session.get(), &AgentSession::failed, [this](const Failure& f) { failures.push_back(f); });
  }
  bool connectTo() {
    int result = -1;
    session->connectTo(QString(), nullptr, [&](bool ok) { result = ok ? 1 : 0; });
    return QTest::qWaitFor([&] { return result >= 0; }, 5000) && result == 1;
  }
  Reply request(RequestJob job) {
    Reply out;
    bool done = false;
    session->send(std::move(job), nullptr, [&](const Reply& r) {
      out = r;
      done = true;
    });
    QTest::qWaitFor([&] { return done; }, 5000);
    return out;
  }
  TestRoot root;
  ScriptedAccess* script;
  std::unique_ptr<AgentSession> session;
  std::vector<Failure> failures;
};

}  // namespace

class AgentSessionRepliesTest : public QObject {
  Q_OBJECT
 private slots:
  void textReplies_data();
  void textReplies();
  void failuresCarryTheLibrarysResult_data();
  void failuresCarryTheLibrarysResult();
  void waitCursor_data();
  void waitCursor();
};

void AgentSessionRepliesTest::textReplies_data() {
  QTest::addColumn<QString>("record");  // "text", "other tag", "none"
  QTest::addColumn<bool>("hasText");
  QTest::addColumn<QString>("text");
  QTest::newRow("a text reply, up to its NUL") << QStringLiteral("text") << true << QStringLiteral("line one\r\nline two");
  QTest::newRow("a record of another tag") << QStringLiteral("other tag") << false << QString();
  QTest::newRow("the reply ends after its header") << QStringLiteral("none") << false << QString();
}

void AgentSessionRepliesTest::textReplies() {
  QFETCH(QString, record);
  QFETCH(bool, hasText);
  QFETCH(QString, text);
  Session s;
  scriptConnect(*s.script);
  QVERIFY(s.connectTo());
  s.script->expectWrite("CMD CONFIG").expectRecord(header());
  if (record == QLatin1String("text")) s.script->expectRecord(textRecord("TXT4", "line one\r\nline two"));
  if (record == QLatin1String("other tag")) s.script->expectRecord(textRecord("TOT ", "x"));
  if (record == QLatin1String("none")) s.script->expectReplyEnd();
  const Reply reply = s.request(textRequest(QStringLiteral("CMD CONFIG")));
  QVERIFY(reply.ok);
  const std::optional<QString> got = replyText(reply);
  QCOMPARE(got.has_value(), hasText);
  if (hasText) QCOMPARE(*got, text);
  QVERIFY(!replyText(Reply{}));  // a failed request holds no text
  QVERIFY2(s.script->mismatches().empty(), qPrintable(mismatchText(*s.script)));
}

void AgentSessionRepliesTest::failuresCarryTheLibrarysResult_data() {
  QTest::addColumn<int>("openResult");
  QTest::addColumn<int>("writeResult");
  QTest::addColumn<int>("kind");
  QTest::addColumn<int>("code");
  QTest::newRow("open: server unavailable") << 1722 << 0 << int(Failure::OpenFailed) << 1722;
  QTest::newRow("request: call failed") << 0 << 1726 << int(Failure::RequestFailed) << 1726;
  QTest::newRow("request: negative") << 0 << -5 << int(Failure::RequestFailed) << -5;
  QTest::newRow("request: key refused") << 0 << -2 << int(Failure::KeyRefused) << 0;
}

void AgentSessionRepliesTest::failuresCarryTheLibrarysResult() {
  QFETCH(int, openResult);
  QFETCH(int, writeResult);
  QFETCH(int, kind);
  QFETCH(int, code);
  Session s;
  if (openResult != 0) {
    s.script->expectClose().expectOpen("", openResult);
    QVERIFY(!s.connectTo());
  } else {
    scriptConnect(*s.script);
    QVERIFY(s.connectTo());
    s.script->expectWrite("TOTAL", writeResult).expectClose();
    QVERIFY(!s.request({QStringLiteral("TOTAL"), {}, {}, {}, {}}).ok);
  }
  QCOMPARE(s.failures.size(), size_t{1});
  QCOMPARE(int(s.failures[0].kind), kind);
  QCOMPARE(s.failures[0].code, code);
  QTRY_VERIFY(s.script->finished());
}

void AgentSessionRepliesTest::waitCursor_data() {
  QTest::addColumn<bool>("shown");
  QTest::newRow("the console's connect shows the wait cursor") << true;
  QTest::newRow("a background connect leaves the cursors alone") << false;
}

// A window's own wait cursor (QuickLook's Test) survives a background connect
// that fails; the console's connect shows one and clears every one when it ends.
void AgentSessionRepliesTest::waitCursor() {
  QFETCH(bool, shown);
  Session s;
  s.session->setWaitCursor(shown);
  QApplication::setOverrideCursor(Qt::BusyCursor);  // the window's own
  s.script->holdNextCall();
  s.script->expectClose().expectOpen("", 1722);
  int result = -1;
  s.session->connectTo(QString(), nullptr, [&](bool ok) { result = ok ? 1 : 0; });
  QVERIFY(QApplication::overrideCursor());
  QCOMPARE(QApplication::overrideCursor()->shape(), shown ? Qt::WaitCursor : Qt::BusyCursor);
  s.script->release();
  QVERIFY(QTest::qWaitFor([&] { return result >= 0; }, 5000));
  if (shown) {
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  } else {
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
  }
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

QTEST_MAIN(AgentSessionRepliesTest)
#include "agent_session_replies_test.moc"
