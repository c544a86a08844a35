#include "setup/settings_dialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "common/registry_names.h"
#include "desktop/messages.h"
#include "platform/registry/registry.h"
#include "platform/service/history_folder.h"
#include "setup/registry_file.h"

namespace veltris::setup {
namespace {

using desktop::MessageButtons;
using desktop::MessageIcon;

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

QLineEdit* textBox(desktop::AgentSettingsForm::Field field, bool password) {
  auto* box = new QLineEdit;
  box->setObjectName(desktop::AgentSettingsForm::fieldName(field));
  box->setMaxLength(desktop::AgentSettingsForm::kMaxText);
  if (password) box->setEchoMode(QLineEdit::Password);
  return box;
}

}  // namespace

InstallSettingsDialog::InstallSettingsDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  using Text = Form::Text;
  setWindowTitle(tr("VELTRIS Monitoring Agent Settings"));
  setObjectName(QStringLiteral("dlgInstallSettings"));

  auto* remote = new QGroupBox(Form::text(Text::RemoteGroup));
  auto* remoteGrid = new QGridLayout(remote);
  remoteGrid->addWidget(wrapped(Form::text(Text::PasswordNotice)), 0, 0, 1, 2);
  password_ = textBox(Form::Field::Password, true);
  confirm_ = textBox(Form::Field::Confirmation, true);
  remoteGrid->addWidget(rightAligned(Form::text(Text::PasswordLabel)), 1, 0);
  remoteGrid->addWidget(password_, 1, 1);
  remoteGrid->addWidget(rightAligned(Form::text(Text::ConfirmLabel)), 2, 0);
  remoteGrid->addWidget(confirm_, 2, 1);

  auto* history = new QGroupBox(Form::text(Text::HistoryGroup));
  auto* historyGrid = new QGridLayout(history);
  historyGrid->addWidget(wrapped(Form::text(Text::HistoryNotice)), 0, 0, 1, 2);
  directory_ = textBox(Form::Field::Directory, false);
  historyGrid->addWidget(rightAligned(Form::text(Text::DirectoryLabel)), 1, 0);
  historyGrid->addWidget(directory_, 1, 1);

  auto* okButton = new QPushButton(Form::text(Text::Ok));
  okButton->setObjectName(QStringLiteral("btnOK"));
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
  desktop::beep();
}

void InstallSettingsDialog::load() {
  reg::Registry registry = reg::Registry::system();
  std::string key, folder;
  registry.queryString(kParametersKey, kOpenKeyValue, key);
  registry.queryString(kParametersKey, kDataPathValue, folder);
  const Form::Values values = Form::loaded(QString::fromStdString(key), QString::fromStdString(folder));
  password_->setText(values.password);
  confirm_->setText(values.confirmation);
  directory_->setText(values.directory);
}

QLineEdit* InstallSettingsDialog::box(Form::Field field) const {
  switch (field) {
    case Form::Field::Password: return password_;
    case Form::Field::Confirmation: return confirm_;
    case Form::Field::Directory: return directory_;
  }
  return nullptr;
}

void InstallSettingsDialog::stay(const Form::Problem& problem) {
  desktop::ask(this, problem.icon, Form::caption(), problem.text);
  if (problem.focus) box(*problem.focus)->setFocus();
}

void InstallSettingsDialog::fail(const Form::Problem& problem) {
  desktop::ask(this, problem.icon, Form::caption(), problem.text);
  exitRequested_ = true;
  done(QDialog::Rejected);
}

bool InstallSettingsDialog::checkFolder(const QString& folder) {
  if (const auto refusal = Form::folderRefusal(folder)) {
    stay(*refusal);
    return false;
  }
  const QString remembered = QDir::currentPath();
  if (!QDir::setCurrent(folder)) {
    if (desktop::ask(this, MessageIcon::Question, Form::caption(), Form::createQuestion(folder),
                     MessageButtons::YesNo) != desktop::Answer::Yes) {
      directory_->setFocus();
      return false;
    }
    std::string error;
    if (!service::createHistoryFolder(folder.toStdString(), error)) {
      std::fprintf(stderr, "SETUP: %s\n", error.c_str());
      stay(Form::createFailed());
      return false;
    }
  }
  QDir::setCurrent(remembered);  // back to the setup folder
  return true;
}

void InstallSettingsDialog::ok() {
  const Form::Values values{password_->text(), confirm_->text(), directory_->text()};
  if (const auto problem = Form::check(values)) {
    stay(*problem);
    return;
  }
  if (!checkFolder(values.directory)) return;

  reg::Registry registry = reg::Registry::system();
  if (!prepareRegistryFile() || registry.createKey(kParametersKey) != reg::kSuccess) {
    fail(Form::keyFailed());
    return;
  }
  if (registry.setString(kParametersKey, kDataPathValue, values.directory.toStdString()) != reg::kSuccess ||
      registry.setString(kParametersKey, kOpenKeyValue, values.password.toStdString()) != reg::kSuccess) {
    fail(Form::writeFailed());
    return;
  }
  accept();
}

void InstallSettingsDialog::closeEvent(QCloseEvent* event) {
  if (result() == QDialog::Accepted || exitRequested_) event->accept();
  else event->ignore();
}

}  // namespace veltris::setup
