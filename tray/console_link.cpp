#include "tray/console_link.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include "common/console_channel.h"

namespace veltris::tray {

QString locateConsole() {
  const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/VELTRIS");
  if (QFileInfo(beside).isExecutable()) return beside;
  return QStandardPaths::findExecutable(QStringLiteral("VELTRIS"));
}

bool startConsole(const QString& program) {
  return !program.isEmpty() && QProcess::startDetached(program, {});
}

// The key goes out as the connection allows; the socket ends with the console's
// answer, an error, or after a few seconds, whichever comes first.
bool handKeyToConsole(const QString& key) {
  const std::string path = consoleChannelPath();
  // Nothing listens where no socket is; another user's socket is never used.
  if (path.empty() || !QFileInfo::exists(QString::fromStdString(path)) || !channelSocketUsable(path)) return false;
  auto* socket = new QLocalSocket(QCoreApplication::instance());
  const QByteArray request = QByteArray(kConsoleKeyRequest) + key.toUtf8() + '\n';
  QObject::connect(socket, &QLocalSocket::connected, socket, [socket, request] { socket->write(request); });
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
    if (socket->peek(64).contains('\n')) socket->deleteLater();
  });
  QObject::connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
  QTimer::singleShot(3000, socket, &QObject::deleteLater);
  socket->connectToServer(QString::fromStdString(path));
  return true;
}

void searchConsole(bool raise, QObject* context, ConsoleFound found) {
  auto* socket = new QLocalSocket(context ? context : QCoreApplication::instance());
  // Ends the search once: with the answer, an error, or the time limit.
  auto finish = [socket, found = std::move(found), done = std::make_shared<bool>(false)](bool result) {
    if (*done) return;
    *done = true;
    socket->deleteLater();
    found(result);
  };
  const std::string path = consoleChannelPath();
  if (path.empty() || !channelSocketUsable(path)) {  // never another user's socket
    QTimer::singleShot(0, socket, [finish] { finish(false); });
    return;
  }
  QObject::connect(socket, &QLocalSocket::connected, socket, [socket, raise, finish] {
    if (!raise) {
      socket->disconnectFromServer();
      return finish(true);
    }
    socket->write(kConsoleRaiseRequest);
  });
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, finish] {
    const QByteArray answer = socket->peek(64);
    if (answer.contains('\n')) finish(answer == kConsoleRaiseAnswer);
  });
  QObject::connect(socket, &QLocalSocket::errorOccurred, socket, [finish] { finish(false); });
  QTimer::singleShot(1500, socket, [finish] { finish(false); });
  // Connected from the event loop: a refused connect reports no sooner than an answer.
  QTimer::singleShot(0, socket, [socket, path] { socket->connectToServer(QString::fromStdString(path)); });
}

}  // namespace veltris::tray
