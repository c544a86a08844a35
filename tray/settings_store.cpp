#include "tray/settings_store.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QCursor>
#include <QGuiApplication>
#include <QFileInfo>
#include <QProcess>

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

QString defaultDataPath() {
  return QString::fromStdString((platform::windowsDirectory() / "VELTRIS History").string()) + "/";
}

HelperSettingsStore::HelperSettingsStore(QString helperPath) : helperPath_(std::move(helperPath)) {}

void HelperSettingsStore::read(QString& password, QString& dataPath) {
  reg::Registry registry = reg::Registry::system();
  std::string text;
  password.clear();
  dataPath.clear();
  if (registry.queryString(kParametersKey, "OpenKey", text) == reg::kSuccess)
    password = QString::fromStdString(text).left(helper::kMaxValueLength);
  if (registry.queryString(kParametersKey, "DataPath", text) == reg::kSuccess)
    dataPath = QString::fromStdString(text).left(helper::kMaxValueLength);
}

int HelperSettingsStore::run(const QStringList& arguments, const QByteArray& input, QString& error) {
  QProcess process;
  if (mayWriteRegistry()) {
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
  if (code == helper::kNotAuthorised || code == helper::kAuthFailed)
    error = "Authentication failed: the settings were not changed";
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

SettingsStore::Write HelperSettingsStore::write(const QString& dataPath, const QString& password, QString& error) {
  const helper::SettingsChange change{dataPath.toStdString(), password.toStdString()};
  switch (run({"write"}, QByteArray::fromStdString(helper::formatChange(change)), error)) {
    case helper::kDone: return Write::Done;
    case helper::kKeyFailed: return Write::KeyFailed;
    case helper::kWriteFailed: return Write::WriteFailed;
    default: return Write::Failed;
  }
}

}  // namespace veltris::tray
