#pragma once
// Snapshot files: the watched agent's snapshot saved by the console, and the
// packets of a snapshot exported as capture files.
#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace veltris::desktop {
class AgentSession;
}

namespace veltris::console {

class SnapshotFiles : public QObject {
  Q_OBJECT
 public:
  // Messages go to `window`, which owns this.
  SnapshotFiles(desktop::AgentSession& session, QWidget* window);

  // The folder the snapshot dialogs start in.
  static QString folder();
  // "SNAPSHOT" of the session into `path`; `done` says whether the file was written.
  void save(const QString& path, std::function<void(bool)> done = {});
  // The packets of the snapshot file `snapshot` (empty: the live agent's,
  // saved to a temporary file first) as `base`_N.pcap, one per adapter.
  void exportPackets(const QString& base, const QString& snapshot, std::function<void(bool)> done = {});

 private:
  desktop::AgentSession& session_;
  QWidget* window_;
};

}  // namespace veltris::console
