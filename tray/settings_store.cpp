#include "tray/settings_store.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QCursor>
#include <QGuiApplication>
#include <QFileInfo>
#include <QProcess>
#include <sstream>

#include "desktop/agent_settings_form.h"
#include "platform/registry/registry.h"
#include "platform/system_root.h"
#include "tray/agent_link.h"
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

}  // namespace

QString settingsHelperPath() {
  const QString beside = QCoreApplication::applicationDirPath() + "/veltris-settings-helper";
  if (QFileInfo(beside).isExecutable()) return beside;
  return VELTRIS_SETTINGS_HELPER;
}

QString defaultDataPath() { return desktop::AgentSettingsForm::defaultDirectory(); }

QString pkexecFailure(int exitCode, const QString& standardError) {
  QString what;
  if (exitCode == helper::kNotAuthorised) what = "pkexec: the authentication was dismissed (exit 126)";
  if (exitCode == helper::kAuthFailed)
    what = "pkexec: not authorised, or the settings helper could not be run (exit 127)";
  if (what.isEmpty()) return standardError;
  return standardError.isEmpty() ? what : what + "\n" + standardError;
}

HelperSettingsStore::HelperSettingsStore(QString helperPath) : helperPath_(std::move(helperPath)) {}

void HelperSettingsStore::read(QObject* context, std::function<void(const StoredSettings&)> done) {
  reg::Registry registry = reg::Registry::system();
  StoredSettings stored;
  std::string key, path;
  const long keyRc = registry.queryString(kParametersKey, "OpenKey", key);
  if (keyRc != reg::kAccessDenied) {
    const long pathRc = registry.queryString(kParametersKey, "DataPath", path);
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
  process->setProgram("pkexec");
  process->setArguments({VELTRIS_SETTINGS_HELPER, "read"});
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
      stored.error = status == QProcess::NormalExit ? pkexecFailure(code, err) : "pkexec ended abnormally";
    }
    process->deleteLater();
    done(stored);
  });
  QObject::connect(process, &QProcess::errorOccurred, context, [process, done](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    StoredSettings stored;
    stored.error = "Cannot run pkexec: " + process->errorString();
    process->deleteLater();
    done(stored);
  });
  process->start();
  process->closeWriteChannel();
}

int HelperSettingsStore::run(const QStringList& arguments, const QByteArray& input, QString& error) {
  QProcess process;
  const bool direct = mayWriteRegistry();
  if (direct) {
    process.setProgram(helperPath_);
    process.setArguments(arguments);
  } else {
    // pkexec runs only the installed helper that the polkit action names.
    process.setProgram("pkexec");
    process.setArguments(QStringList{VELTRIS_SETTINGS_HELPER} + arguments);
  }
  // pkexec waits for the password for as long as the user takes: the
  // windows keep painting while the helper runs, the pointer shows it is busy.
  QEventLoop loop;
  bool failedToStart = false;
  QObject::connect(&process, &QProcess::started, &process, [&] {
    process.write(input);
    process.closeWriteChannel();
  });
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    failedToStart = true;
    loop.quit();
  });
  QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
  process.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  QGuiApplication::restoreOverrideCursor();
  if (failedToStart) {
    error = "Cannot run " + process.program() + ": " + process.errorString();
    return -1;
  }
  error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
  if (process.exitStatus() != QProcess::NormalExit) return -1;
  const int code = process.exitCode();
  if (!direct) error = pkexecFailure(code, error);
  return code;
}

SettingsStore::Folder HelperSettingsStore::checkFolder(const QString& path, QString& error) {
  switch (run({"check", path}, {}, error)) {
    case helper::kDone: return Folder::Exists;
    case helper::kFolderMissing: return Folder::Missing;
    default: return Folder::Failed;
  }
}

bool HelperSettingsStore::createFolder(const QString& path, QString& error) {
  return run({"mkdir", path}, {}, error) == helper::kDone;
}

SettingsStore::Write HelperSettingsStore::write(const std::optional<QString>& dataPath,
                                                const std::optional<QString>& password, QString& error) {
  helper::SettingsChange change;
  if (dataPath) change.dataPath = dataPath->toStdString();
  if (password) change.openKey = password->toStdString();
  switch (run({"write"}, QByteArray::fromStdString(helper::formatChange(change)), error)) {
    case helper::kDone: return Write::Done;
    case helper::kKeyFailed: return Write::KeyFailed;
    case helper::kWriteFailed: return Write::WriteFailed;
    default: return Write::Failed;
  }
}

}  // namespace veltris::tray
