#pragma once
// Dialog 103: the install-time twin of the agent's settings dialog. Same texts,
// checks and messages; only an OK button, no close box; a failed registry
// write ends SETUP.
#include <QDialog>

#include "desktop/agent_settings_form.h"

class QLineEdit;

namespace veltris::setup {

class InstallSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit InstallSettingsDialog(QWidget* owner);

  QLineEdit* passwordBox() const { return password_; }
  QLineEdit* confirmBox() const { return confirm_; }
  QLineEdit* directoryBox() const { return directory_; }
  // Set when a registry failure means SETUP must exit.
  bool exitRequested() const { return exitRequested_; }

  // OK: the checks; the registry is written and the dialog accepted only when all pass.
  void ok();

 protected:
  void reject() override {}  // no Cancel: Escape does nothing
  void closeEvent(QCloseEvent* event) override;

 private:
  using Form = desktop::AgentSettingsForm;
  void load();
  bool checkFolder(const QString& folder);
  void stay(const Form::Problem& problem);
  void fail(const Form::Problem& problem);
  QLineEdit* box(Form::Field field) const;

  QLineEdit* password_;
  QLineEdit* confirm_;
  QLineEdit* directory_;
  bool exitRequested_ = false;
};

}  // namespace veltris::setup
