#pragma once
// The console's per-user single-instance channel: the first console listens on
// veltris::consoleChannelPath(); a client that sends the raise request gets
// that console's window raised and the answer back. Further consoles (started
// with "&New") run without listening.
#include <QObject>

class QLocalServer;
class QWidget;

namespace veltris::console {

class SingleInstanceChannel : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstanceChannel(QWidget* window);
  // Listens unless a live console already does; a stale socket is replaced.
  bool listen();
  bool listening() const;

 signals:
  void raised();

 private:
  void answer();
  QWidget* window_;
  QLocalServer* server_;
};

}  // namespace veltris::console
