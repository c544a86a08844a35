#include "console/core/single_instance.h"

#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "common/console_channel.h"

namespace veltris::console {
namespace {

// Whether a console answers on `path`: the socket's own signals end the wait,
// at most `timeoutMs` later. Runs before the window is shown.
bool consoleAnswers(const QString& path, int timeoutMs) {
  QLocalSocket probe;
  QEventLoop loop;
  bool connected = false;
  QObject::connect(&probe, &QLocalSocket::connected, &loop, [&] {
    connected = true;
    loop.quit();
  });
  QObject::connect(&probe, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  probe.connectToServer(path);
  if (probe.state() == QLocalSocket::ConnectingState) loop.exec(QEventLoop::ExcludeUserInputEvents);
  connected = connected || probe.state() == QLocalSocket::ConnectedState;
  probe.abort();
  return connected;
}

}  // namespace

SingleInstanceChannel::SingleInstanceChannel(QWidget* window)
    : QObject(window), window_(window), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &SingleInstanceChannel::answer);
}

bool SingleInstanceChannel::listen() {
  const std::string channel = veltris::consoleChannelPath();
  // No private folder, or something there that is not this user's socket: run without the channel.
  if (channel.empty() || !veltris::channelSocketUsable(channel)) return false;
  const QString path = QString::fromStdString(channel);
  // Listening would replace another console's socket: ask first.
  if (consoleAnswers(path, 500)) return false;  // another console owns the channel
  QLocalServer::removeServer(path);  // a stale socket
  return server_->listen(path);
}

bool SingleInstanceChannel::listening() const { return server_->isListening(); }

void SingleInstanceChannel::answer() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QPointer<QLocalSocket> guard(socket);
    connect(socket, &QLocalSocket::readyRead, this, [this, guard] {
      if (!guard || !guard->canReadLine()) return;
      QByteArray line = guard->readLine(veltris::kConsoleChannelLineLimit);
      if (line.startsWith(veltris::kConsoleKeyRequest) && line.endsWith('\n')) {
        const QString key = QString::fromUtf8(line.mid(4).chopped(1));
        if (!key.isEmpty()) {
          emit keyOffered(key);
          guard->write(veltris::kConsoleRaiseAnswer);
          guard->flush();
        }
      } else if (line == QByteArray(veltris::kConsoleRaiseRequest)) {
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
        emit raised();
        guard->write(veltris::kConsoleRaiseAnswer);
        guard->flush();
      }
      guard->disconnectFromServer();
    });
  }
}

}  // namespace veltris::console
