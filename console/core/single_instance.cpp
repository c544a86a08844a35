#include "console/core/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "common/console_channel.h"

namespace veltris::console {

SingleInstanceChannel::SingleInstanceChannel(QWidget* window)
    : QObject(window), window_(window), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &SingleInstanceChannel::answer);
}

void SingleInstanceChannel::listen() {
  const std::string channel = veltris::consoleChannelPath();
  // No private folder, or something there that is not this user's socket: run without the channel.
  if (channel.empty() || !veltris::channelSocketUsable(channel)) {
    QTimer::singleShot(0, this, [this] { emit listenDone(false); });
    return;
  }
  const QString path = QString::fromStdString(channel);
  // Listening would replace another console's socket: ask it first. The
  // socket's signals, or 500 ms without an answer, decide.
  auto* probe = new QLocalSocket(this);
  auto* patience = new QTimer(probe);
  patience->setSingleShot(true);
  auto decided = std::make_shared<bool>(false);
  auto decide = [this, probe, path, decided](bool answered) {
    if (*decided) return;
    *decided = true;
    probe->abort();
    probe->deleteLater();
    if (answered) return emit listenDone(false);  // another console owns the channel
    QLocalServer::removeServer(path);  // a stale socket
    emit listenDone(server_->listen(path));
  };
  connect(probe, &QLocalSocket::connected, this, [decide] { decide(true); });
  connect(probe, &QLocalSocket::errorOccurred, this, [decide] { decide(false); });
  connect(patience, &QTimer::timeout, this, [decide] { decide(false); });
  patience->start(500);
  probe->connectToServer(path);
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
