// ConnectDialog on a scripted agent: names as typed, the network browse, this
// PC with and without an agent, and the messages of failed connects.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "console/core/desktop_layer.h"
#include "console/tests/window_parts.h"
#include "console/windows/connect_dialog.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::console::testing;
using namespace veltris::desktop::test;

class ConnectDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void namesAndBrowse();
  void thisPcsMessages();
};

void ConnectDialogTest::namesAndBrowse() {
  TestRoot root;
  MessageLog messages;
  auto owned = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = owned.get();
  AgentSession connection(std::move(owned), nullptr);
  showFailures(connection);
  ConnectDialog dialog(connection, QStringLiteral("*SNAPSHOT* /tmp/x.VSN"), false);
  dialog.show();
  QVERIFY(part<QLineEdit>(dialog, "txtServer")->text().isEmpty());  // a snapshot is not offered again
  // Browse lists what the network announces; a click copies, a double-click connects.
  dialog.setBrowser([] { return BrowseResult{true, {"AGENT1", "\\\\WS2"}, {}, {}}; });
  part<QPushButton>(dialog, "btnBrowse")->click();
  QTRY_COMPARE(part<QListWidget>(dialog, "lstServers")->count(), 2);
  QCOMPARE(part<QListWidget>(dialog, "lstServers")->item(1)->text(), QStringLiteral("WS2"));
  QVERIFY(part<QListWidget>(dialog, "lstServers")->isVisible());
  dialog.setBrowser([] {
    return BrowseResult{false, {}, QStringLiteral("WNetOpenEnum"), QStringLiteral("Error: no Avahi")};
  });
  QTRY_VERIFY(part<QPushButton>(dialog, "btnBrowse")->isEnabled());
  part<QPushButton>(dialog, "btnBrowse")->click();
  QTRY_COMPARE(messages.texts, QStringList{QStringLiteral("Error: no Avahi")});
  QCOMPARE(messages.titles, QStringList{QStringLiteral("WNetOpenEnum")});
  // A name with a leading double backslash, blanks and lower case connects to the bare upper-case name.
  messages.texts.clear();
  part<QLineEdit>(dialog, "txtServer")->setText(QStringLiteral("  \\\\pc7 "));
  part<QLineEdit>(dialog, "tbxPassword")->setText(QStringLiteral("typed"));
  script->expectClose().expectOpen("PC7", 1722);
  part<QPushButton>(dialog, "btnRemote")->click();
  QTRY_COMPARE(messages.texts, (QStringList{QStringLiteral("Connection failed with retcode  1722"),
                                            QStringLiteral("Could not connect to VELTRIS Monitoring Agent on PC7")}));
  QVERIFY(dialog.isVisible());  // stays open
  // "." is this PC: the registry key serves as the password.
  messages.texts.clear();
  part<QLineEdit>(dialog, "txtServer")->setText(QStringLiteral("."));
  part<QLineEdit>(dialog, "tbxPassword")->clear();
  scriptConnect(*script, "", "SECRET");
  part<QPushButton>(dialog, "btnRemote")->click();
  QTRY_VERIFY(!dialog.isVisible());
  QVERIFY(!dialog.PubLoginCancelled);
  QCOMPARE(dialog.PubLoginServer, QString());
  QCOMPARE(dialog.PubLoginServerName, QStringLiteral("Local"));
  QVERIFY(messages.texts.isEmpty());
  QVERIFY2(script->mismatches().empty(), qPrintable(mismatchText(*script)));
  // This PC with a typed password and no readable "OpenKey": the typed one is sent.
  root.writeRegistry(true, QString());
  ConnectDialog local(connection, QString(), false);
  local.show();
  part<QLineEdit>(local, "txtServer")->setText(QStringLiteral("*"));
  part<QLineEdit>(local, "tbxPassword")->setText(QStringLiteral("typed"));
  scriptConnect(*script, "", "typed");
  part<QPushButton>(local, "btnRemote")->click();
  QTRY_VERIFY(!local.isVisible());
  QCOMPARE(local.PubLoginServerName, QStringLiteral("Local"));
  QVERIFY2(script->mismatches().empty(), qPrintable(mismatchText(*script)));
  // Without avahi-daemon the real browse says so in words.
  BrowseResult real = browseNetwork(1500);
  if (real.ok) QSKIP("avahi-daemon runs here");
  QCOMPARE(real.errorTitle, QStringLiteral("WNetOpenEnum"));
  QVERIFY2(real.errorText.startsWith(QStringLiteral("Error: ")) && real.errorText.contains(QStringLiteral("avahi-daemon")),
           qPrintable(real.errorText));
}

void ConnectDialogTest::thisPcsMessages() {
  TestRoot root(false);  // no agent on this PC
  MessageLog messages;
  auto owned = std::make_unique<ScriptedAccess>();
  ScriptedAccess* script = owned.get();
  AgentSession connection(std::move(owned), nullptr);
  showFailures(connection);
  {
    ConnectDialog dialog(connection, QString(), false);
    dialog.show();
    part<QLineEdit>(dialog, "txtServer")->setText(QStringLiteral("."));
    part<QPushButton>(dialog, "btnRemote")->click();
    QCOMPARE(messages.texts, QStringList{QStringLiteral("VELTRIS Agent is not installed on this PC.\n\n"
                                                        "Please specify a remote computer name or address.")});
    QVERIFY(dialog.isVisible());
    QVERIFY(script->played().empty());
    part<QPushButton>(dialog, "btnCancel")->click();  // not installed: cancelled
    QVERIFY(dialog.PubLoginCancelled);
    QVERIFY(!dialog.isVisible());
  }
  root.writeRegistry(true, QStringLiteral("SECRET"));
  messages.texts.clear();
  ConnectDialog dialog(connection, QString(), false);
  dialog.show();
  // "Cancel" with the agent installed tries this PC; a failure closes the dialog as cancelled.
  script->expectClose().expectOpen("", 1722);
  part<QPushButton>(dialog, "btnCancel")->click();
  QTRY_VERIFY(!dialog.isVisible());
  QCOMPARE(messages.texts, (QStringList{QStringLiteral("Connection failed with retcode  1722"),
                                        QStringLiteral("Local VELTRIS Monitoring Agent is not running")}));
  QVERIFY(dialog.PubLoginCancelled);
  QVERIFY2(script->mismatches().empty(), qPrintable(mismatchText(*script)));
}

QTEST_MAIN(ConnectDialogTest)
#include "connect_dialog_test.moc"
