#pragma once
// Where the settings dialog reads and writes: the registry for reading (when
// the user may), veltris-settings-helper for reading otherwise, for the folder
// and for the writes.
#include <QString>
#include <functional>
#include <optional>

class QObject;

namespace veltris::tray {

// What is stored, as far as this user may know it.
struct StoredSettings {
  bool read = false;      // false: nothing could be read (error says why)
  bool keyKnown = false;  // password holds the key (the user may read the registry)
  QString password;
  bool keyStored = false;  // "OpenKey" is set, whether or not it is known
  QString dataPath;        // empty when not set
  QString error;
};

class SettingsStore {
 public:
  enum class Folder { Exists, Missing, Failed };
  enum class Write { Done, KeyFailed, WriteFailed, Failed };

  virtual ~SettingsStore() = default;
  // Reads what is stored; `done` runs on the UI thread, at once or later (a
  // helper run), and not at all once `context` is gone.
  virtual void read(QObject* context, std::function<void(const StoredSettings&)> done) = 0;
  virtual Folder checkFolder(const QString& path, QString& error) = 0;
  virtual bool createFolder(const QString& path, QString& error) = 0;
  // Writes the values given; one that is not given stays as it is.
  virtual Write write(const std::optional<QString>& dataPath, const std::optional<QString>& password,
                      QString& error) = 0;
};

// Runs the helper directly when the user may write the registry file (root,
// or a test's private system root), otherwise through pkexec.
class HelperSettingsStore final : public SettingsStore {
 public:
  explicit HelperSettingsStore(QString helperPath);

  void read(QObject* context, std::function<void(const StoredSettings&)> done) override;
  Folder checkFolder(const QString& path, QString& error) override;
  bool createFolder(const QString& path, QString& error) override;
  Write write(const std::optional<QString>& dataPath, const std::optional<QString>& password,
              QString& error) override;

 private:
  int run(const QStringList& arguments, const QByteArray& input, QString& error);

  QString helperPath_;
};

// The helper next to this program, else the installed one.
QString settingsHelperPath();
// The default history folder: "VELTRIS History" below the Windows directory, ending in a separator.
QString defaultDataPath();
// What a run of the helper through pkexec ended with, for the user: pkexec's own
// exit codes named, its message as it is.
QString pkexecFailure(int exitCode, const QString& standardError);

}  // namespace veltris::tray
