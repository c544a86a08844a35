#pragma once
// The agent settings dialog: the password remote consoles must give and the
// history folder, checked in order and written through the settings store.
#include <functional>

#include <QDialog>
#include <QMessageBox>

class QLabel;
class QLineEdit;
class QPushButton;

namespace veltris::tray {

class SettingsStore;
struct StoredSettings;

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows a message with the dialog's caption; returns the button pressed.
  using MessageHook = std::function<QMessageBox::StandardButton(QMessageBox::Icon icon, const QString& text,
                                                                QMessageBox::StandardButtons buttons)>;

  // Reads what is stored through `store`; busy until that is known.
  explicit SettingsDialog(SettingsStore& store, QWidget* parent = nullptr);
  void setMessageHook(MessageHook hook) { message_ = std::move(hook); }

  QLineEdit* passwordBox() const { return password_; }
  QLineEdit* confirmBox() const { return confirm_; }
  QLineEdit* folderBox() const { return folder_; }
  QLabel* noteLabel() const { return note_; }
  // Still reading what is stored.
  bool busy() const { return busy_; }

 public slots:
  void accept() override;

 signals:
  // After a successful write: the access key that consoles must now give.
  void passwordChanged(const QString& password);

 private:
  bool failCheck(QLineEdit* focus, const QString& text, QMessageBox::Icon icon = QMessageBox::Warning);
  bool folderReady(const QString& folder);
  void showStored(const StoredSettings& stored);
  void setBusy(bool busy);

  SettingsStore& store_;
  QLineEdit* password_;
  QLineEdit* confirm_;
  QLineEdit* folder_;
  QLabel* note_;
  QPushButton* ok_;
  MessageHook message_;
  bool busy_ = false;
  // What was stored when the dialog opened: a box left as it was is not written.
  QString storedPassword_;
  QString storedFolder_;
  bool keyHidden_ = false;  // a key is stored that this user may not read
};

}  // namespace veltris::tray
