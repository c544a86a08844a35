#pragma once
// Where the settings dialog reads and writes: the registry for reading (when
// the user may), and veltris-settings-helper for the folder and the writes.
#include <QString>

namespace veltris::tray {

class SettingsStore {
 public:
  enum class Folder { Exists, Missing, Failed };
  enum class Write { Done, KeyFailed, WriteFailed, Failed };

  virtual ~SettingsStore() = default;
  // "OpenKey" and "DataPath" as stored; empty when absent or not readable.
  virtual void read(QString& password, QString& dataPath) = 0;
  virtual Folder checkFolder(const QString& path, QString& error) = 0;
  virtual bool createFolder(const QString& path, QString& error) = 0;
  virtual Write write(const QString& dataPath, const QString& password, QString& error) = 0;
};

// Runs the helper directly when the user may write the registry file (root,
// or a test's private system root), otherwise through pkexec.
class HelperSettingsStore final : public SettingsStore {
 public:
  explicit HelperSettingsStore(QString helperPath);

  void read(QString& password, QString& dataPath) override;
  Folder checkFolder(const QString& path, QString& error) override;
  bool createFolder(const QString& path, QString& error) override;
  Write write(const QString& dataPath, const QString& password, QString& error) override;

 private:
  int run(const QStringList& arguments, const QByteArray& input, QString& error);

  QString helperPath_;
};

// The helper next to this program, else the installed one.
QString settingsHelperPath();
// The default history folder: "VELTRIS History" below the Windows directory, ending in a separator.
QString defaultDataPath();

}  // namespace veltris::tray
