#include "tray/settings_store.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <sstream>

#include "platform/registry/registry.h"
#include "platform/system_root.h"
#include "common/registry_names.h"
#include "tray/settings_protocol.h"

#ifndef VELTRIS_SETTINGS_HELPER
#define VELTRIS_SETTINGS_HELPER "/usr/libexec/veltris/veltris-settings-helper"
#endif

namespace veltris::tray {
namespace {

// The registry file, or its folder when it does not exist yet, is writable by us.
bool mayWriteRegistry() {
  if (::geteuid() == 0) return true;
  const std::filesystem::path file = platform::registryFile();
  if (::access(file.c_str(), F_OK) == 0) return ::access(file.c_str(), W_OK) == 0;
  return ::access(file.parent_path().c_str(), W_OK) == 0;
}

class Texts {
  Q_DECLARE_TR_FUNCTIONS(SettingsStore)
 public:
  static QString dismissed() { return tr("pkexec: the authentication was dismissed (exit 126)"); }
  static QString notAuthorised() {
    return tr("pkexec: not authorised, or the settings helper could not be run (exit 127)");
  }
  static QString abnormal() { return tr("pkexec ended abnormally"); }
  static QString cannotRun(const QString& program, const QString& why) {
    return tr("Cannot run %1: %2").arg(program, why);
  }
};

QString installedHelper() { return QStringLiteral(VELTRIS_SETTINGS_HELPER); }

}  // namespace

QString settingsHelperPath() {
  const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/veltris-settings-helper");
  if (QFileInfo(beside).isExecutable()) return beside;
  return installedHelper();
}

QString pkexecFailure(int exitCode, const QString& standardError) {
  QString what;
  if (exitCode == helper::kNotAuthorised) what = Texts::dismissed();
  if (exitCode == helper::kAuthFailed) what = Texts::notAuthorised();
  if (what.isEmpty()) return standardError;
  return standardError.isEmpty() ? what : what + QLatin1Char('\n') + standardError;
}

HelperSettingsStore::HelperSettingsStore(QString helperPath) : helperPath_(std::move(helperPath)) {}

void HelperSettingsStore::read(QObject* context, std::function<void(const StoredSettings&)> done) {
  reg::Registry registry = reg::Registry::system();
  StoredSettings stored;
  std::string key, path;
  const long keyRc = registry.queryString(kParametersKey, kOpenKeyValue, key);
  if (keyRc != reg::kAccessDenied) {
    const long pathRc = registry.queryString(kParametersKey, kDataPathValue, path);
    stored.read = (keyRc == reg::kSuccess || keyRc == reg::kFileNotFound) &&
                  (pathRc == reg::kSuccess || pathRc == reg::kFileNotFound);
    stored.keyKnown = stored.read;
    stored.password = QString::fromStdString(key).left(helper::kMaxValueLength);
    stored.keyStored = !key.empty();
    stored.dataPath = QString::fromStdString(path).left(helper::kMaxValueLength);
    if (!stored.read) stored.error = QString::fromStdString(registry.lastError());
    done(stored);
    return;
  }
  // Not ours to read: the helper tells the folder and whether a key is set, never the key.
  auto* process = new QProcess(context);
  process->setProgram(QStringLiteral("pkexec"));
  process->setArguments({installedHelper(), QStringLiteral("read")});
  QObject::connect(process, &QProcess::finished, context, [process, done](int code, QProcess::ExitStatus status) {
    StoredSettings stored;
    const QByteArray out = process->readAllStandardOutput();
    const QString err = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
    helper::StoredSettings parsed;
    std::istringstream lines(out.toStdString());
    if (status == QProcess::NormalExit && code == helper::kDone && helper::parseStored(lines, parsed)) {
      stored.read = true;
      stored.keyStored = parsed.keyStored;
      stored.dataPath = QString::fromStdString(parsed.dataPath);
    } else {
      stored.error = status == QProcess::NormalExit ? pkexecFailure(code, err) : Texts::abnormal();
    }
    process->deleteLater();
    done(stored);
  });
  QObject::connect(process, &QProcess::errorOccurred, context, [process, done](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    StoredSettings stored;
    stored.error = Texts::cannotRun(process->program(), process->errorString());
    process->deleteLater();
    done(stored);
  });
  process->start();
  process->closeWriteChannel();
}

// pkexec waits for the password for as long as the user takes: the helper runs
// while the windows go on, and its end is a signal.
void HelperSettingsStore::run(const QStringList& arguments, const QByteArray& input, QObject* context,
                              std::function<void(int, const QString&)> done) {
  auto* process = new QProcess(context);
  const bool direct = mayWriteRegistry();
  if (direct) {
    process->setProgram(helperPath_);
    process->setArguments(arguments);
  } else {
    // pkexec runs only the installed helper that the polkit action names.
    process->setProgram(QStringLiteral("pkexec"));
    process->setArguments(QStringList{installedHelper()} + arguments);
  }
  QObject::connect(process, &QProcess::started, process, [process, input] {
    process->write(input);
    process->closeWriteChannel();
  });
  QObject::connect(process, &QProcess::finished, context,
                   [process, direct, done](int code, QProcess::ExitStatus status) {
                     QString error = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
                     process->deleteLater();
                     if (status != QProcess::NormalExit) return done(-1, error.isEmpty() ? Texts::abnormal() : error);
                     done(code, direct ? error : pkexecFailure(code, error));
                   });
  QObject::connect(process, &QProcess::errorOccurred, context, [process, done](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    const QString error = Texts::cannotRun(process->program(), process->errorString());
    process->deleteLater();
    done(-1, error);
  });
  process->start();
}

void HelperSettingsStore::checkFolder(const QString& path, QObject* context,
                                      std::function<void(Folder, const QString&)> done) {
  run({QStringLiteral("check"), path}, {}, context, [done](int code, const QString& error) {
    switch (code) {
      case helper::kDone: return done(Folder::Exists, error);
      case helper::kFolderMissing: return done(Folder::Missing, error);
      default: return done(Folder::Failed, error);
    }
  });
}

void HelperSettingsStore::createFolder(const QString& path, QObject* context,
                                       std::function<void(bool, const QString&)> done) {
  run({QStringLiteral("mkdir"), path}, {}, context,
      [done](int code, const QString& error) { done(code == helper::kDone, error); });
}

void HelperSettingsStore::write(const std::optional<QString>& dataPath, const std::optional<QString>& password,
                                QObject* context, std::function<void(Write, const QString&)> done) {
  helper::SettingsChange change;
  if (dataPath) change.dataPath = dataPath->toStdString();
  if (password) change.openKey = password->toStdString();
  run({QStringLiteral("write")}, QByteArray::fromStdString(helper::formatChange(change)), context,
      [done](int code, const QString& error) {
        switch (code) {
          case helper::kDone: return done(Write::Done, error);
          case helper::kKeyFailed: return done(Write::KeyFailed, error);
          case helper::kWriteFailed: return done(Write::WriteFailed, error);
          default: return done(Write::Failed, error);
        }
      });
}

}  // namespace veltris::tray
