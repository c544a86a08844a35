#pragma once
// The console's per-user single-instance channel: the first console listens on
// veltris::consoleChannelPath(); a client that sends the raise request gets
// that console's window raised and the answer back; one that sends "KEY" and a
// password hands over a new key of this PC's agent. Further consoles (started
// with "&New") run without listening.
#include <QObject>

class QLocalServer;
class QWidget;

namespace veltris::console {

class SingleInstanceChannel : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstanceChannel(QWidget* window);
  // Listens unless a live console already does; a stale socket of this user
  // is replaced. Returns at once; listenDone() tells the outcome: false when
  // another console answered, the channel has no private folder, or its name
  // is taken by anything but this user's socket.
  void listen();
  bool listening() const;

 signals:
  void listenDone(bool listening);
  void raised();
  // A new access key of the agent on this PC (from its settings dialog).
  void keyOffered(const QString& key);

 private:
  void answer();
  QWidget* window_;
  QLocalServer* server_;
};

}  // namespace veltris::console
