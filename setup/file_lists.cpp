#include "setup/file_lists.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/system_root.h"
#include "desktop/messages.h"
#include "setup/setup_exit.h"

#ifndef VELTRIS_SETUP_PREFIX
#define VELTRIS_SETUP_PREFIX "/usr/local"
#endif

namespace veltris::setup {

QString SetupFolders::programs() const { return QDir::cleanPath(root + "/" + prefix + "/sbin"); }
QString SetupFolders::data() const { return QDir::cleanPath(root + "/" + prefix + "/share/veltris"); }
QString SetupFolders::trayProgram() const { return QDir::cleanPath(prefix + "/bin/veltris-tray"); }

QList<Placement> taskbarPlacements(const SetupFolders& folders) {
  const QString top = QDir::cleanPath(folders.root + "/" + folders.prefix);
  return {
      {"veltris-tray", top + "/bin"},
      {"veltris-settings-helper", top + "/libexec/veltris"},
      {"veltris-tray.desktop", QDir::cleanPath(folders.root + "/etc/xdg/autostart")},
      {"org.quorvik.veltris.settings.policy", QDir::cleanPath(folders.root + "/usr/share/polkit-1/actions")},
  };
}

bool findFolders(SetupFolders& folders, const QString& programFolder, QString& failure) {
  folders.setup = QDir::cleanPath(programFolder);
  if (programFolder.isEmpty()) {
    failure = SetupText::tr("GetModuleFileName failed");
    return false;
  }
  folders.temp = QDir::cleanPath(QDir::tempPath());
  if (folders.temp.isEmpty() || !QFileInfo(folders.temp).isDir()) {
    failure = SetupText::tr("GetTempPath failed");
    return false;
  }
  folders.root = QString::fromStdString(platform::systemRoot().string());
  folders.prefix = VELTRIS_SETUP_PREFIX;
  return true;
}

const FileList& helpList() {
  static const FileList list{{"help"}};
  return list;
}
const FileList& agentFilesList() {
  static const FileList list{{"TapsorSv", "TapsorCC"}};
  return list;
}
const FileList& taskbarList() {
  static const FileList list{{"veltris-tray", "veltris-settings-helper", "veltris-tray.desktop",
                              "org.quorvik.veltris.settings.policy"}};
  return list;
}
const FileList& advancedToolsList() {
  static const FileList list{{"SetupCL", "SetupCL.LST", "VELTRS1.tar.gz"}};
  return list;
}

QString firstMissing(const FileList& list, const QString& directory) {
  for (const QString& name : list.names)
    if (!QFileInfo::exists(directory + "/" + name)) return name;
  return {};
}

void checkFiles(QWidget* owner, const FileList& list, const QString& directory) {
  const QString missing = firstMissing(list, directory);
  if (!missing.isEmpty())
    failAndExit(owner, SetupText::tr("Could not find file %1 in directory %2").arg(missing, directory));
}

namespace {

// One file into place: written beside the target, then renamed over it.
bool replaceFile(const QString& source, const QString& target, QString& failure) {
  const QString staged = target + ".setup-new";
  QFile::remove(staged);
  if (!QFile::copy(source, staged)) {
    failure = QString("cannot write %1").arg(staged);
    return false;
  }
  QFile::setPermissions(staged, QFile(source).permissions());
  if (::rename(QFile::encodeName(staged).constData(), QFile::encodeName(target).constData()) != 0) {
    failure = QString("cannot replace %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
    QFile::remove(staged);
    return false;
  }
  return true;
}

bool copyTree(const QString& source, const QString& target, QString& failure) {
  if (!QFileInfo(source).isDir()) return replaceFile(source, target, failure);
  if (!QDir().mkpath(target)) {
    failure = QString("cannot create %1").arg(target);
    return false;
  }
  const QDir dir(source);
  for (const QString& entry : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
    if (!copyTree(dir.filePath(entry), target + "/" + entry, failure)) return false;
  return true;
}

}  // namespace

bool transferFiles(const FileList& list, const QString& from, const QString& to, Transfer how, QString& failure) {
  if (!QDir().mkpath(to)) {
    failure = QString("cannot create %1").arg(to);
    return false;
  }
  for (const QString& name : list.names) {
    const QString source = from + "/" + name;
    if (!copyTree(source, to + "/" + name, failure)) return false;
    if (how == Transfer::Move && !(QFileInfo(source).isDir() ? QDir(source).removeRecursively() : QFile::remove(source))) {
      failure = QString("cannot remove %1").arg(source);
      return false;
    }
  }
  return true;
}

void transferWithRetry(QWidget* owner, const FileList& list, const QString& from, const QString& to, Transfer how,
                       const QString& progressTitle) {
  for (;;) {
    QString failure;
    bool done = false;
    {
      std::unique_ptr<QProgressDialog> progress;
      if (!progressTitle.isEmpty()) {
        progress = std::make_unique<QProgressDialog>(progressTitle, QString(), 0, 0, owner);
        progress->setWindowTitle(progressTitle);
        progress->setMinimumDuration(0);
        progress->show();
      }
      // The copy runs on a worker; the progress dialog keeps painting meanwhile.
      QFutureWatcher<bool> watcher;
      QEventLoop loop;
      QObject::connect(&watcher, &QFutureWatcher<bool>::finished, &loop, &QEventLoop::quit);
      watcher.setFuture(QtConcurrent::run([&] { return transferFiles(list, from, to, how, failure); }));
      if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
      done = watcher.result();
    }
    if (done) return;
    std::fprintf(stderr, "SETUP: %s\n", qPrintable(failure));
    if (desktop::ask(owner, desktop::MessageIcon::Stop, SetupText::tr("VELTRIS Setup Error"),
                     SetupText::tr("Failed to copy files"), desktop::MessageButtons::RetryCancel) != desktop::Answer::Retry)
      throw SetupExit{1};
  }
}

}  // namespace veltris::setup
