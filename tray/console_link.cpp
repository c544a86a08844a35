#include "tray/console_link.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>

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

bool handKeyToConsole(const QString& key) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(consoleChannelPath()));
  if (!socket.waitForConnected(500)) return false;
  socket.write(QByteArray(kConsoleKeyRequest) + key.toUtf8() + '\n');
  if (!socket.waitForBytesWritten(500)) return false;
  QByteArray answer;
  while (!answer.contains('\n') && socket.waitForReadyRead(1000)) answer += socket.readAll();
  return answer == kConsoleRaiseAnswer;
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
