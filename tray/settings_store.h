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
  // Every answer runs on the UI thread, at once or later (a helper run through
  // pkexec waits for the user), and not at all once `context` is gone. `error`
  // tells why a step failed, as the helper or pkexec said it.

  // Reads what is stored.
  virtual void read(QObject* context, std::function<void(const StoredSettings&)> done) = 0;
  virtual void checkFolder(const QString& path, QObject* context,
                           std::function<void(Folder, const QString& error)> done) = 0;
  virtual void createFolder(const QString& path, QObject* context,
                            std::function<void(bool made, const QString& error)> done) = 0;
  // Writes the values given; one that is not given stays as it is.
  virtual void write(const std::optional<QString>& dataPath, const std::optional<QString>& password,
                     QObject* context, std::function<void(Write, const QString& error)> done) = 0;
};

// Runs the helper directly when the user may write the registry file (root,
// or a test's private system root), otherwise through pkexec.
class HelperSettingsStore final : public SettingsStore {
 public:
  explicit HelperSettingsStore(QString helperPath);

  void read(QObject* context, std::function<void(const StoredSettings&)> done) override;
  void checkFolder(const QString& path, QObject* context,
                   std::function<void(Folder, const QString& error)> done) override;
  void createFolder(const QString& path, QObject* context,
                    std::function<void(bool made, const QString& error)> done) override;
  void write(const std::optional<QString>& dataPath, const std::optional<QString>& password, QObject* context,
             std::function<void(Write, const QString& error)> done) override;

 private:
  // Runs the helper with `arguments` and `input`; `done` gets its exit code
  // (-1 when it could not run or crashed) and what it or pkexec said.
  void run(const QStringList& arguments, const QByteArray& input, QObject* context,
           std::function<void(int code, const QString& error)> done);

  QString helperPath_;
};

// The helper next to this program, else the installed one.
QString settingsHelperPath();
// What a run of the helper through pkexec ended with, for the user: pkexec's own
// exit codes named, its message as it is.
QString pkexecFailure(int exitCode, const QString& standardError);

}  // namespace veltris::tray
