// The refused-key rule and where the local agent counts as installed.
#include <QDir>
#include <QFile>
#include <QtTest>

#include "desktop/agent_facts.h"
#include "desktop/key_refusals.h"
#include "desktop/testing/test_support.h"

using namespace veltris::desktop;

class KeyRefusalsTest : public QObject {
  Q_OBJECT
 private slots:
  void sameKeyAsTheAgentSeesIt_data();
  void sameKeyAsTheAgentSeesIt();
  void refusedKeyWaitsForTheUserOrOneLockOutPeriod();
  void installedHere_data();
  void installedHere();
};

void KeyRefusalsTest::sameKeyAsTheAgentSeesIt_data() {
  QTest::addColumn<QString>("a");
  QTest::addColumn<QString>("b");
  QTest::addColumn<bool>("same");
  QTest::newRow("equal") << "secret" << "secret" << true;
  QTest::newRow("case") << "Secret" << "sECRET" << true;
  QTest::newRow("beyond 16") << "0123456789abcdefXYZ" << "0123456789ABCDEF" << true;
  QTest::newRow("differs") << "secret" << "secret2" << false;
  QTest::newRow("empty") << "" << "x" << false;
}

void KeyRefusalsTest::sameKeyAsTheAgentSeesIt() {
  QFETCH(QString, a);
  QFETCH(QString, b);
  QFETCH(bool, same);
  QCOMPARE(sameAccessKey(a, b), same);
}

void KeyRefusalsTest::refusedKeyWaitsForTheUserOrOneLockOutPeriod() {
  KeyRefusals r;
  QVERIFY(r.maySend("key", 0));
  r.refused("key", 1000);
  struct Probe {
    const char* key;
    int64_t now;
    bool may;
  };
  const Probe first[] = {{"key", 1000, false}, {"KEY", 1030, false}, {"key", 1060, false},
                         {"key", 1061, true},  {"other", 1000, true}};
  for (const Probe& p : first) QVERIFY2(r.maySend(p.key, p.now) == p.may, p.key);
  r.refused("key", 1061);  // the retry was refused too: only the user offers it now
  QVERIFY(!r.retryAt("key"));
  QVERIFY(!r.maySend("key", 100000));
  r.cleared("KEY");
  QVERIFY(r.maySend("key", 1062));
  r.refused("a", 10);
  r.refused("b", 20);  // another key replaces the record
  QVERIFY(r.maySend("a", 20));
  QCOMPARE(*r.retryAt("b"), int64_t{20 + kAgentLockoutSeconds + 1});
}

void KeyRefusalsTest::installedHere_data() {
  QTest::addColumn<QString>("file");  // made below the root; "" for none
  QTest::addColumn<bool>("title");
  QTest::addColumn<bool>("installed");
  QTest::newRow("nothing") << "" << false << false;
  QTest::newRow("SETUP's Title") << "" << true << true;
  QTest::newRow("packaged unit") << "usr/lib/systemd/system/TapsorSv.service" << false << true;
  QTest::newRow("unit of -install") << "etc/systemd/system/TapsorSv.service" << false << true;
  QTest::newRow("a running agent's sockets") << "run/veltris/epmapper" << false << true;
}

void KeyRefusalsTest::installedHere() {
  QFETCH(QString, file);
  QFETCH(bool, title);
  QFETCH(bool, installed);
  test::TestRoot root(title);
  if (!file.isEmpty()) {
    const QString path = root.path() + QLatin1Char('/') + file;
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }
  QCOMPARE(agentInstalledHere(), installed);
  QVERIFY(agentKeyReadable());
}

QTEST_MAIN(KeyRefusalsTest)
#include "key_refusals_test.moc"
