#pragma once
// The agent settings dialog: the password remote consoles must give and the
// history folder, checked in order and written through the settings store.
#include <functional>

#include <QDialog>
#include <QMessageBox>

class QLineEdit;

namespace veltris::tray {

class SettingsStore;

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows a message with the dialog's caption; returns the button pressed.
  using MessageHook = std::function<QMessageBox::StandardButton(QMessageBox::Icon icon, const QString& text,
                                                                QMessageBox::StandardButtons buttons)>;

  SettingsDialog(SettingsStore& store, QString knownPassword = {}, QWidget* parent = nullptr);
  void setMessageHook(MessageHook hook) { message_ = std::move(hook); }

  QLineEdit* passwordBox() const { return password_; }
  QLineEdit* confirmBox() const { return confirm_; }
  QLineEdit* folderBox() const { return folder_; }

 public slots:
  void accept() override;

 signals:
  // After a successful write: the access key that consoles must now give.
  void passwordChanged(const QString& password);

 private:
  bool failCheck(QLineEdit* focus, const QString& text, QMessageBox::Icon icon = QMessageBox::Warning);
  bool folderReady(const QString& folder);

  SettingsStore& store_;
  QLineEdit* password_;
  QLineEdit* confirm_;
  QLineEdit* folder_;
  MessageHook message_;
};

}  // namespace veltris::tray
