#include "setup/settings_dialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/registry/registry.h"
#include "platform/service/history_folder.h"
#include "platform/system_root.h"
#include "setup/prompter.h"
#include "setup/registry_file.h"

namespace veltris::setup {
namespace {

constexpr char kCaption[] = "VELTRIS Settings";
constexpr int kMaxText = 255;

QLabel* wrapped(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  return label;
}

QLabel* rightAligned(const QString& text) {
  auto* label = new QLabel(text);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

InstallSettingsDialog::InstallSettingsDialog(Prompter& prompter, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), prompter_(prompter) {
  setWindowTitle(tr("VELTRIS Monitoring Agent Settings"));
  setObjectName("dlgInstallSettings");

  auto* remote = new QGroupBox(tr("Remote Connection Settings"));
  auto* remoteGrid = new QGridLayout(remote);
  remoteGrid->addWidget(
      wrapped("A password is required in order to protect against unauthorized remote connections to the Agent."), 0, 0, 1, 2);
  password_ = new QLineEdit;
  password_->setObjectName("tbxPassword");
  password_->setEchoMode(QLineEdit::Password);
  password_->setMaxLength(kMaxText);
  confirm_ = new QLineEdit;
  confirm_->setObjectName("tbxConfirm");
  confirm_->setEchoMode(QLineEdit::Password);
  confirm_->setMaxLength(kMaxText);
  remoteGrid->addWidget(rightAligned("Password:"), 1, 0);
  remoteGrid->addWidget(password_, 1, 1);
  remoteGrid->addWidget(rightAligned("Confirm Password:"), 2, 0);
  remoteGrid->addWidget(confirm_, 2, 1);

  auto* history = new QGroupBox(tr("History Settings"));
  auto* historyGrid = new QGridLayout(history);
  historyGrid->addWidget(wrapped("History information for the last month is automatically maintained in order to "
                                 "establish a baseline of network activity for this PC .  This typically requires "
                                 "less than 1 MB of disk space."),
                         0, 0, 1, 2);
  directory_ = new QLineEdit;
  directory_->setObjectName("tbxDirectory");
  directory_->setMaxLength(kMaxText);
  historyGrid->addWidget(rightAligned("Directory:"), 1, 0);
  historyGrid->addWidget(directory_, 1, 1);

  auto* okButton = new QPushButton(tr("&OK"));
  okButton->setObjectName("btnOK");
  okButton->setDefault(true);
  connect(okButton, &QPushButton::clicked, this, &InstallSettingsDialog::ok);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(okButton);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(remote);
  layout->addWidget(history);
  layout->addLayout(buttons);
  setMinimumWidth(420);
  load();
  prompter_.beep();
}

void InstallSettingsDialog::load() {
  reg::Registry registry = reg::Registry::system();
  std::string key, folder;
  registry.queryString(kParametersKey, "OpenKey", key);
  registry.queryString(kParametersKey, "DataPath", folder);
  if (folder.empty()) folder = (platform::windowsDirectory() / "VELTRIS History").string() + "/";
  password_->setText(QString::fromStdString(key).left(kMaxText));
  confirm_->setText(password_->text());
  directory_->setText(QString::fromStdString(folder).left(kMaxText));
}

void InstallSettingsDialog::stay(QLineEdit* focus) { focus->setFocus(); }

void InstallSettingsDialog::fail(const QString& text) {
  prompter_.show(this, Icon::Stop, kCaption, text, Buttons::Ok);
  exitRequested_ = true;
  done(QDialog::Rejected);
}

bool InstallSettingsDialog::checkFolder(const QString& folder) {
  if (const std::string why = service::historyFolderRefusal(folder.toStdString()); !why.empty()) {
    prompter_.show(this, Icon::Stop, kCaption,
                   QString("Data Path '%1' cannot hold the history: %2").arg(folder, QString::fromStdString(why)),
                   Buttons::Ok);
    stay(directory_);
    return false;
  }
  const QString remembered = QDir::currentPath();
  bool usable = QDir::setCurrent(folder);
  if (!usable) {
    const QString question = QString("Data Path '%1' does not exist.  Do you wish to create it ?").arg(folder);
    if (prompter_.show(this, Icon::Question, kCaption, question, Buttons::YesNo) != Answer::Yes) {
      stay(directory_);
      return false;
    }
    std::string error;
    if (!service::createHistoryFolder(folder.toStdString(), error)) {
      std::fprintf(stderr, "SETUP: %s\n", error.c_str());
      prompter_.show(this, Icon::Stop, kCaption, "Create Directory FAILED", Buttons::Ok);
      stay(directory_);
      return false;
    }
  }
  QDir::setCurrent(remembered);  // back to the setup folder
  return true;
}

void InstallSettingsDialog::ok() {
  const QString password = password_->text(), confirmation = confirm_->text(), folder = directory_->text();
  struct Check {
    bool failed;
    const char* message;
    QLineEdit* focus;
  };
  const Check checks[] = {
      {password.isEmpty(), "Require Password", password_},
      {confirmation.isEmpty(), "Require Password Confirmation", confirm_},
      {password.compare(confirmation, Qt::CaseInsensitive) != 0, "Password Confirmation FAILED", password_},
      {folder.isEmpty(), "Require Data Path", directory_},
  };
  for (const Check& check : checks) {
    if (check.failed) {
      prompter_.show(this, Icon::Exclamation, kCaption, check.message, Buttons::Ok);
      stay(check.focus);
      return;
    }
  }
  if (!checkFolder(folder)) return;

  reg::Registry registry = reg::Registry::system();
  if (!prepareRegistryFile() || registry.createKey(kParametersKey) != reg::kSuccess) {
    fail("FAILED to create/open registry key");
    return;
  }
  if (registry.setString(kParametersKey, "DataPath", folder.toStdString()) != reg::kSuccess ||
      registry.setString(kParametersKey, "OpenKey", password.toStdString()) != reg::kSuccess) {
    fail("FAILED to write parameters to registry");
    return;
  }
  accept();
}

void InstallSettingsDialog::closeEvent(QCloseEvent* event) {
  if (result() == QDialog::Accepted || exitRequested_) event->accept();
  else event->ignore();
}

}  // namespace veltris::setup
