#include "console/snapshots/snapshot_files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

#include "console/core/desktop_layer.h"
#include "console/snapshots/pcap_export.h"
#include "platform/system_root.h"

namespace veltris::console {

SnapshotFiles::SnapshotFiles(AgentSession& session, QWidget* window)
    : QObject(window), session_(session), window_(window) {}

QString SnapshotFiles::folder() {
  QString folder = agentDataPath();
  if (folder.isEmpty())
    folder = QString::fromStdString((platform::windowsDirectory() / "VELTRIS History").string());
  const QFileInfo info(folder);
  // The agent's folder may belong to another user; the home folder always takes a file.
  return info.isDir() && info.isWritable() ? folder : QDir::homePath();
}

void SnapshotFiles::save(const QString& path, std::function<void(bool)> done) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QFile::remove(path);  // an old file must not pass for the new one
  const std::string target = path.toStdString();
  // Always "SNAPSHOT" alone, written here: the agent writes only into its own folder.
  RequestJob job{QStringLiteral("SNAPSHOT"), {}, [target](AgentAccess& access) { access.save(target.c_str()); }};
  session_.send(std::move(job), this, [this, path, done](const Reply& reply) {
    QApplication::restoreOverrideCursor();
    const bool saved = reply.ok && QFileInfo(path).isFile() && QFileInfo(path).size() > 0;
    if (reply.ok && !saved) showMessage(window_, tr("Could not save to file ") + path, tr("VELTRIS ERROR"));
    if (done) done(saved);
  });
}

void SnapshotFiles::exportPackets(const QString& base, const QString& snapshot, std::function<void(bool)> done) {
  auto finish = [this, base, done](const QString& file) {
    const PcapExport result = exportSnapshotPackets(file.toStdString(), base.toStdString());
    if (!result.ok) {
      showMessage(window_, tr("Export Packets failed: ") + QString::fromStdString(result.error), tr("VELTRIS ERROR"));
    } else {
      QStringList lines;
      for (const ExportedDump& f : result.files)
        lines << tr("Adapter #%1: %2 packets in %3").arg(f.adapter).arg(f.frames).arg(QString::fromStdString(f.file.string()));
      showMessage(window_, lines.join(QLatin1Char('\n')), tr("Export Packets"));
    }
    if (done) done(result.ok);
  };
  if (!snapshot.isEmpty()) {
    finish(snapshot);
    return;
  }
  auto temporary = std::make_shared<QTemporaryDir>();
  const QString file = temporary->filePath(QStringLiteral("export.VSN"));
  save(file, [temporary, file, finish, done](bool saved) {
    if (saved) {
      finish(file);
    } else if (done) {
      done(false);
    }
  });
}

}  // namespace veltris::console
