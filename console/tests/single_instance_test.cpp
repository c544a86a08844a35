// The single-instance channel: a second console raises the first, and the
// channel's socket stays in a folder of the user's own.
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include "common/console_channel.h"
#include "console/core/single_instance.h"
#include "console/tests/window_parts.h"
#include "desktop/testing/test_support.h"

using namespace veltris;
using namespace veltris::console;
using namespace veltris::desktop::test;
using veltris::console::testing::listened;

class SingleInstanceTest : public QObject {
  Q_OBJECT
 private slots:
  void aSecondConsoleRaisesTheFirst();
  void channelStaysPrivate();
};

void SingleInstanceTest::aSecondConsoleRaisesTheFirst() {
  TestRoot root;
  QWidget window;
  SingleInstanceChannel first(&window);
  QVERIFY(listened(first));
  QWidget other;
  SingleInstanceChannel second(&other);
  QVERIFY(!listened(second));  // a live console owns the channel
  QSignalSpy raised(&first, &SingleInstanceChannel::raised);
  QLocalSocket client;
  client.connectToServer(QString::fromStdString(veltris::consoleChannelPath()));
  QVERIFY(client.waitForConnected(2000));
  client.write(veltris::kConsoleRaiseRequest);
  QTRY_VERIFY(client.bytesAvailable() >= 3);
  QCOMPARE(client.readAll(), QByteArray(veltris::kConsoleRaiseAnswer));
  QCOMPARE(raised.count(), 1);
}

// Without XDG_RUNTIME_DIR the channel lives in a 0700 folder of the user's own
// under TMPDIR; a folder or socket that is not the user's is never used.
void SingleInstanceTest::channelStaysPrivate() {
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  const QByteArray savedTmp = qgetenv("TMPDIR");
  QTemporaryDir tmp;
  qputenv("TMPDIR", tmp.path().toUtf8());
  qputenv("XDG_RUNTIME_DIR", tmp.path().toUtf8());  // a folder others may write: not taken
  ::chmod(tmp.path().toUtf8().constData(), 0777);
  const std::string folder = tmp.path().toStdString() + "/veltris-" + std::to_string(::getuid());
  QCOMPARE(QString::fromStdString(veltris::consoleChannelPath()), QString::fromStdString(folder + "/veltris-console.sock"));
  struct stat st {};
  QCOMPARE(::stat(folder.c_str(), &st), 0);
  QCOMPARE(st.st_mode & 0777, 0700u);
  {
    QWidget window;
    SingleInstanceChannel channel(&window);
    QVERIFY(listened(channel));
  }
  // A plain file where the socket goes, and a folder someone else may enter, are refused.
  QFile planted(QString::fromStdString(folder + "/veltris-console.sock"));
  QFile::remove(planted.fileName());
  QVERIFY(planted.open(QIODevice::WriteOnly));
  planted.close();
  {
    QWidget window;
    SingleInstanceChannel channel(&window);
    QVERIFY(!listened(channel));
    QVERIFY(planted.exists());
  }
  QFile::remove(planted.fileName());
  if (::getuid() == 0) {
    QVERIFY(::chown(folder.c_str(), 65534, 65534) == 0);
    QCOMPARE(QString::fromStdString(veltris::consoleChannelPath()), QString());
    QWidget window;
    SingleInstanceChannel channel(&window);
    QVERIFY(!listened(channel));
  }
  qputenv("XDG_RUNTIME_DIR", savedRuntime);
  if (savedRuntime.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
  qputenv("TMPDIR", savedTmp);
  if (savedTmp.isEmpty()) qunsetenv("TMPDIR");
}

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
