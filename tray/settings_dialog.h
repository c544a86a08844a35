#pragma once
// The agent settings dialog: the password remote consoles must give and the
// history folder, laid out, checked and worded by the shared settings form,
// read and written through the settings store. The store's steps may wait for
// pkexec: the dialog stays responsive with its boxes disabled until they answer.
#include <optional>

#include <QDialog>

#include "desktop/agent_settings_form.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace veltris::tray {

class SettingsStore;
struct StoredSettings;

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  using Form = desktop::AgentSettingsForm;

  // Reads what is stored through `store`; busy until that is known.
  explicit SettingsDialog(SettingsStore& store, QWidget* parent = nullptr);

  QLineEdit* passwordBox() const { return password_; }
  QLineEdit* confirmBox() const { return confirm_; }
  QLineEdit* folderBox() const { return folder_; }
  QLabel* noteLabel() const { return note_; }
  // Waiting for the store (reading, or a helper run).
  bool busy() const { return busy_; }

 public slots:
  void accept() override;

 signals:
  // After a successful write: the access key that consoles must now give.
  void passwordChanged(const QString& password);

 private:
  // What OK is about to write: a box left as it opened is not written.
  struct Change {
    std::optional<QString> folder, password;
  };

  QLineEdit* box(Form::Field field) const;
  void stay(const Form::Problem& problem);
  void showStored(const StoredSettings& stored);
  void setBusy(bool busy, const QString& note = QString());
  void fitHeight();
  void checkFolder();
  void offerToCreate(const QString& folder);
  void writeChange();

  SettingsStore& store_;
  QLineEdit* password_;
  QLineEdit* confirm_;
  QLineEdit* folder_;
  QLabel* note_;
  QPushButton* ok_;
  bool busy_ = false;
  // What was stored when the dialog opened.
  QString storedPassword_;
  QString storedFolder_;
  bool keyHidden_ = false;  // a key is stored that this user may not read
  Change change_;
};

}  // namespace veltris::tray
