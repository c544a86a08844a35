// The agent settings form: OK's checks in their order with message, icon and
// focus; the values a dialog opens with; the folder messages.
#include <QtTest>

#include "desktop/agent_settings_form.h"
#include "desktop/testing/test_support.h"

using namespace veltris::desktop;
using Form = AgentSettingsForm;

Q_DECLARE_METATYPE(Form::Field)

class AgentSettingsFormTest : public QObject {
  Q_OBJECT
 private slots:
  void checksInOrder_data();
  void checksInOrder();
  void loadedValues();
  void folderMessages();
};

void AgentSettingsFormTest::checksInOrder_data() {
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("confirmation");
  QTest::addColumn<QString>("directory");
  QTest::addColumn<QString>("message");  // empty: every check passes
  QTest::addColumn<Form::Field>("focus");
  QTest::addColumn<bool>("keyKept");
  const QString folder = QStringLiteral("/var/lib/veltris/VELTRIS History/");
  // Each row fails every later check too: the first failing check is the one shown.
  QTest::newRow("all empty") << QString() << QString() << QString() << QStringLiteral("Require Password")
                             << Form::Field::Password << false;
  QTest::newRow("no confirmation") << QStringLiteral("abc") << QString() << QString()
                                   << QStringLiteral("Require Password Confirmation") << Form::Field::Confirmation << false;
  QTest::newRow("confirmation differs") << QStringLiteral("abc") << QStringLiteral("abd") << QString()
                                        << QStringLiteral("Password Confirmation FAILED") << Form::Field::Password << false;
  QTest::newRow("confirmation longer") << QStringLiteral("abc") << QStringLiteral("abcd") << folder
                                       << QStringLiteral("Password Confirmation FAILED") << Form::Field::Password << false;
  QTest::newRow("no folder") << QStringLiteral("abc") << QStringLiteral("ABC") << QString()
                             << QStringLiteral("Require Data Path") << Form::Field::Directory << false;
  QTest::newRow("case ignored") << QStringLiteral("Secret") << QStringLiteral("sECRET") << folder << QString()
                                << Form::Field::Password << false;
  QTest::newRow("confirmation only empty") << QString() << QStringLiteral("abc") << folder
                                           << QStringLiteral("Require Password") << Form::Field::Password << false;
  // A stored key the user may not read, both boxes empty: only the folder is checked.
  QTest::newRow("key kept") << QString() << QString() << folder << QString() << Form::Field::Password << true;
  QTest::newRow("key kept, no folder") << QString() << QString() << QString() << QStringLiteral("Require Data Path")
                                       << Form::Field::Directory << true;
}

void AgentSettingsFormTest::checksInOrder() {
  QFETCH(QString, password);
  QFETCH(QString, confirmation);
  QFETCH(QString, directory);
  QFETCH(QString, message);
  QFETCH(Form::Field, focus);
  QFETCH(bool, keyKept);
  const auto problem = Form::check({password, confirmation, directory}, keyKept);
  if (message.isEmpty()) {
    QVERIFY(!problem);
    return;
  }
  QVERIFY(problem);
  QCOMPARE(problem->text, message);
  QCOMPARE(problem->icon, MessageIcon::Exclamation);
  QVERIFY(problem->focus);
  QCOMPARE(*problem->focus, focus);
  QCOMPARE(Form::caption(), QStringLiteral("VELTRIS Settings"));
}

void AgentSettingsFormTest::loadedValues() {
  test::TestRoot root;
  const QString defaultFolder = root.path() + QStringLiteral("/var/lib/veltris/VELTRIS History/");
  QCOMPARE(Form::defaultDirectory(), defaultFolder);
  struct Case {
    QString key, folder, password, directory;
  };
  const QString longKey(300, QLatin1Char('k'));
  const Case cases[] = {
      {QString(), QString(), QString(), defaultFolder},
      {QStringLiteral("SECRET"), QStringLiteral("/srv/history"), QStringLiteral("SECRET"), QStringLiteral("/srv/history")},
      {longKey, QString(), longKey.left(Form::kMaxText), defaultFolder},
  };
  for (const Case& c : cases) {
    const Form::Values v = Form::loaded(c.key, c.folder);
    QCOMPARE(v.password, c.password);
    QCOMPARE(v.confirmation, c.password);
    QCOMPARE(v.directory, c.directory);
  }
}

void AgentSettingsFormTest::folderMessages() {
  QCOMPARE(Form::createQuestion(QStringLiteral("/srv/h")),
           QStringLiteral("Data Path '/srv/h' does not exist.  Do you wish to create it ?"));
  struct Case {
    Form::Problem problem;
    const char* text;
    bool focusesDirectory;
  };
  const Case cases[] = {
      {Form::createFailed(), "Create Directory FAILED", true},
      {Form::keyFailed(), "FAILED to create/open registry key", false},
      {Form::writeFailed(), "FAILED to write parameters to registry", false},
  };
  for (const Case& c : cases) {
    QCOMPARE(c.problem.text, QString::fromLatin1(c.text));
    QCOMPARE(c.problem.icon, MessageIcon::Stop);
    QCOMPARE(c.problem.focus == Form::Field::Directory, c.focusesDirectory);
  }
  const auto refused = Form::folderRefusal(QStringLiteral("/etc/veltris-history"));
  QVERIFY(refused);
  QVERIFY(refused->text.startsWith(QStringLiteral("Data Path '/etc/veltris-history' cannot hold the history: ")));
  QCOMPARE(refused->focus, std::optional(Form::Field::Directory));
  QVERIFY(!Form::folderRefusal(QStringLiteral("/var/lib/veltris/VELTRIS History/")));
  QCOMPARE(Form::success(), QStringLiteral("Settings successfully modified.\r\n\r\nThe Password setting will take effect "
                                           "immediately.\r\nThe History Directory setting will take effect after next "
                                           "re-boot."));
}

QTEST_MAIN(AgentSettingsFormTest)
#include "agent_settings_form_test.moc"
