#include "setup/file_lists.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "platform/system_root.h"
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

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

int countFiles(const QString& source) {
  if (!QFileInfo(source).isDir()) return 1;
  int count = 0;
  for (const QString& entry : entries(source)) count += countFiles(source + "/" + entry);
  return count;
}

struct Tally {
  const TransferProgress& report;
  int done = 0, total = 0;
  void fileDone() {
    ++done;
    if (report) report(done, total);
  }
};

bool copyTree(const QString& source, const QString& target, Tally& tally, QString& failure) {
  if (!QFileInfo(source).isDir()) {
    if (!replaceFile(source, target, failure)) return false;
    tally.fileDone();
    return true;
  }
  if (!QDir().mkpath(target)) {
    failure = QString("cannot create %1").arg(target);
    return false;
  }
  for (const QString& entry : entries(source))
    if (!copyTree(source + "/" + entry, target + "/" + entry, tally, failure)) return false;
  return true;
}

}  // namespace

bool transferFiles(const FileList& list, const QString& from, const QString& to, Transfer how, QString& failure,
                   const TransferProgress& progress) {
  if (!QDir().mkpath(to)) {
    failure = QString("cannot create %1").arg(to);
    return false;
  }
  Tally tally{progress};
  for (const QString& name : list.names) tally.total += countFiles(from + "/" + name);
  if (progress) progress(0, tally.total);
  for (const QString& name : list.names) {
    const QString source = from + "/" + name;
    if (!copyTree(source, to + "/" + name, tally, failure)) return false;
    if (how == Transfer::Move && !(QFileInfo(source).isDir() ? QDir(source).removeRecursively() : QFile::remove(source))) {
      failure = QString("cannot remove %1").arg(source);
      return false;
    }
  }
  return true;
}

}  // namespace veltris::setup
