#pragma once
// Dialog 101 (components) and dialog 102 (progress) of SETUP.
#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace veltris::setup {

class ComponentsDialog : public QDialog {
  Q_OBJECT
 public:
  // agentSupported: false on a Linux without systemd (only the advanced tools can be chosen).
  // readme: starts the text viewer on README.TXT; false when it could not.
  ComponentsDialog(bool agentSupported, std::function<bool()> readme, QWidget* owner = nullptr);

  QCheckBox* agentBox() const { return agent_; }
  QCheckBox* advancedBox() const { return advanced_; }
  QPushButton* continueButton() const { return continue_; }
  QPushButton* readmeButton() const { return readme_; }

  void continueClicked();

 private:
  void updateContinue();

  std::function<bool()> openReadme_;
  QCheckBox* agent_;
  QCheckBox* advanced_;
  QPushButton* continue_;
  QPushButton* readme_;
};

class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  enum Step { CopyFiles, StopOld, InstallDriver, SpecifySettings, StartNew, kSteps };
  explicit ProgressDialog(QWidget* owner = nullptr);

  // The step under way: its label in the bold form of the dialog font.
  void markStep(Step step);
  int markedStep() const { return marked_; }
  QLabel* label(Step step) const { return labels_[step]; }

 protected:
  void reject() override {}  // no close box, and Escape does not end it: the installer closes it

 private:
  QLabel* labels_[kSteps];
  int marked_ = -1;
};

}  // namespace veltris::setup
