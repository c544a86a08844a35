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

bool searchConsole(bool raise) {
  const std::string path = consoleChannelPath();
  if (path.empty() || !channelSocketUsable(path)) return false;  // never another user's socket
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(path));
  if (!socket.waitForConnected(500)) return false;
  if (!raise) {
    socket.disconnectFromServer();
    return true;
  }
  socket.write(kConsoleRaiseRequest);
  if (!socket.waitForBytesWritten(500)) return false;
  QByteArray answer;
  while (!answer.contains('\n') && socket.waitForReadyRead(1000)) answer += socket.readAll();
  return answer == kConsoleRaiseAnswer;
}

}  // namespace veltris::tray
