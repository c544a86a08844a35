// The message seam: an installed prompter answers every box, the recorder
// answers without loops, and uninstalling restores the one before.
#include <QtTest>

#include "desktop/messages.h"
#include "desktop/testing/scripted_prompter.h"

using namespace veltris::desktop;

class MessagesTest : public QObject {
  Q_OBJECT
 private slots:
  void scriptedAnswers();
  void recorderAnswers();
  void promptersNest();
};

void MessagesTest::scriptedAnswers() {
  test::ScriptedPrompter prompter;
  prompter.answer(QStringLiteral("Retry?"), Answer::Retry);
  struct Case {
    MessageButtons buttons;
    const char* text;
    Answer answer;
  };
  const Case cases[] = {
      {MessageButtons::Ok, "Plain", Answer::Ok},
      {MessageButtons::YesNo, "Create?", Answer::Yes},
      {MessageButtons::YesNoCancel, "Save?", Answer::Yes},
      {MessageButtons::RetryCancel, "Copy failed", Answer::Cancel},
      {MessageButtons::RetryCancel, "Retry? scripted", Answer::Retry},
  };
  for (const Case& c : cases)
    QCOMPARE(ask(nullptr, MessageIcon::Stop, QStringLiteral("T"), QString::fromLatin1(c.text), c.buttons), c.answer);
  showMessage(nullptr, QStringLiteral("Last"));
  beep();
  QCOMPARE(prompter.shown.size(), std::size(cases) + 1);
  QCOMPARE(prompter.shown.back().title, kMessageTitle);
  QCOMPARE(prompter.shown.back().icon, MessageIcon::None);
  QCOMPARE(prompter.shown[1].buttons, MessageButtons::YesNo);
  QCOMPARE(prompter.beeps, 1);
}

void MessagesTest::recorderAnswers() {
  QStringList texts;
  setMessageHandler([&](QWidget*, const QString& text, const QString&) { texts << text; });
  QCOMPARE(ask(nullptr, MessageIcon::Question, QString(), QStringLiteral("a"), MessageButtons::YesNo), Answer::Yes);
  QCOMPARE(ask(nullptr, MessageIcon::Stop, QString(), QStringLiteral("b"), MessageButtons::RetryCancel), Answer::Cancel);
  setMessageHandler({});
  QCOMPARE(texts, QStringList({QStringLiteral("a"), QStringLiteral("b")}));
  QVERIFY(dynamic_cast<MessageBoxPrompter*>(&prompter()));
}

void MessagesTest::promptersNest() {
  test::ScriptedPrompter outer;
  {
    test::ScriptedPrompter inner;
    showMessage(nullptr, QStringLiteral("inner"));
    QCOMPARE(inner.shown.size(), size_t(1));
  }
  showMessage(nullptr, QStringLiteral("outer"));
  QCOMPARE(outer.shown.size(), size_t(1));
  QCOMPARE(outer.shown[0].text, QStringLiteral("outer"));
}

QTEST_MAIN(MessagesTest)
#include "messages_test.moc"
