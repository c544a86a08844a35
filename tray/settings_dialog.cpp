#include "tray/settings_dialog.h"

#include <QDialogButtonBox>
#include <optional>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "tray/pictures.h"
#include "tray/settings_store.h"

namespace veltris::tray {
namespace {

constexpr char kCaption[] = "VELTRIS Settings";
constexpr int kMaxText = 255;

QLineEdit* textBox(const char* name, bool password) {
  auto* box = new QLineEdit;
  box->setObjectName(name);
  box->setMaxLength(kMaxText);
  if (password) box->setEchoMode(QLineEdit::Password);
  return box;
}

QLabel* wrapped(const char* text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  return label;
}

}  // namespace

SettingsDialog::SettingsDialog(SettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
  setObjectName("frmSettings");
  setWindowTitle(kCaption);
  setWindowIcon(applicationIcon());
  setAttribute(Qt::WA_DeleteOnClose);
  password_ = textBox("tbxPassword", true);
  confirm_ = textBox("tbxConfirm", true);
  folder_ = textBox("tbxDirectory", false);

  auto* remote = new QGroupBox(tr("Remote Connection Settings"));
  auto* remoteForm = new QFormLayout(remote);
  remoteForm->addRow(wrapped("A password is required in order to protect against unauthorized remote "
                             "connections to the Agent."));
  remoteForm->addRow("Password:", password_);
  remoteForm->addRow("Confirm Password:", confirm_);

  auto* history = new QGroupBox(tr("History Settings"));
  auto* historyForm = new QFormLayout(history);
  historyForm->addRow(wrapped("History information for the last month is automatically maintained in order to "
                              "establish a baseline of network activity for this PC .  This typically requires "
                              "less than 1 MB of disk space."));
  historyForm->addRow("Directory:", folder_);
  for (QFormLayout* form : {remoteForm, historyForm}) form->setLabelAlignment(Qt::AlignRight);

  note_ = new QLabel;
  note_->setObjectName("lblNote");
  note_->setWordWrap(true);
  note_->hide();

  auto* buttons = new QDialogButtonBox;
  ok_ = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
  ok_->setDefault(true);
  buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
  buttons->setCenterButtons(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(remote);
  layout->addWidget(history);
  layout->addWidget(note_);
  layout->addWidget(buttons);
  setFixedWidth(400);

  message_ = [this](QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, kCaption, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  };

  setBusy(true);
  store_.read(this, [this](const StoredSettings& stored) { showStored(stored); });
}

void SettingsDialog::setBusy(bool busy) {
  busy_ = busy;
  for (QWidget* w : {static_cast<QWidget*>(password_), static_cast<QWidget*>(confirm_),
                     static_cast<QWidget*>(folder_), static_cast<QWidget*>(ok_)})
    w->setEnabled(!busy);
  if (busy) {
    setCursor(Qt::BusyCursor);
    note_->setText(tr("Reading the stored settings ..."));
    note_->show();
  } else {
    unsetCursor();
  }
}

void SettingsDialog::showStored(const StoredSettings& stored) {
  storedFolder_ = stored.dataPath;
  storedPassword_ = stored.keyKnown ? stored.password : QString();
  keyHidden_ = stored.keyStored && !stored.keyKnown;
  password_->setText(storedPassword_);
  confirm_->setText(storedPassword_);
  folder_->setText(stored.dataPath.isEmpty() ? defaultDataPath() : stored.dataPath);
  if (keyHidden_) {
    for (QLineEdit* box : {password_, confirm_}) box->setPlaceholderText(tr("(set; type a new one to change it)"));
  }
  setBusy(false);
  if (!stored.read) {
    note_->setText(tr("The stored settings could not be read: ") + stored.error);
  } else if (keyHidden_) {
    note_->setText(tr("A password is set. Leave the boxes empty to keep it."));
  } else {
    note_->clear();
    note_->hide();
  }
}

bool SettingsDialog::failCheck(QLineEdit* focus, const QString& text, QMessageBox::Icon icon) {
  message_(icon, text, QMessageBox::Ok);
  if (focus) focus->setFocus();
  return false;
}

// The folder must exist; one missing level may be created on request.
bool SettingsDialog::folderReady(const QString& folder) {
  QString error;
  switch (store_.checkFolder(folder, error)) {
    case SettingsStore::Folder::Exists: return true;
    case SettingsStore::Folder::Failed: return failCheck(folder_, error, QMessageBox::Critical);
    case SettingsStore::Folder::Missing: break;
  }
  const QString question = QString("Data Path '%1' does not exist.  Do you wish to create it ?").arg(folder);
  if (message_(QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    folder_->setFocus();
    return false;
  }
  if (!store_.createFolder(folder, error)) return failCheck(folder_, tr("Create Directory FAILED"), QMessageBox::Critical);
  return true;
}

void SettingsDialog::accept() {
  if (busy_) return;
  const QString password = password_->text();
  const QString confirm = confirm_->text();
  const QString folder = folder_->text();
  // A stored key that this user may not see is kept while both boxes stay empty.
  const bool keepKey = keyHidden_ && password.isEmpty() && confirm.isEmpty();
  if (!keepKey) {
    if (password.isEmpty()) return void(failCheck(password_, tr("Require Password")));
    if (confirm.isEmpty()) return void(failCheck(confirm_, tr("Require Password Confirmation")));
    if (password.compare(confirm, Qt::CaseInsensitive) != 0)
      return void(failCheck(password_, tr("Password Confirmation FAILED")));
  }
  if (folder.isEmpty()) return void(failCheck(folder_, tr("Require Data Path")));

  std::optional<QString> newFolder, newPassword;
  if (folder != storedFolder_) newFolder = folder;
  if (!keepKey && password != storedPassword_) newPassword = password;
  if (!newFolder && !newPassword) return QDialog::accept();  // nothing changed, nothing written
  if (newFolder && !folderReady(folder)) return;

  QString error;
  switch (store_.write(newFolder, newPassword, error)) {
    case SettingsStore::Write::Done: break;
    case SettingsStore::Write::KeyFailed:
      return void(failCheck(nullptr, tr("FAILED to create/open registry key"), QMessageBox::Critical));
    case SettingsStore::Write::WriteFailed:
      return void(failCheck(nullptr, tr("FAILED to write parameters to registry"), QMessageBox::Critical));
    case SettingsStore::Write::Failed: return void(failCheck(nullptr, error, QMessageBox::Critical));
  }
  if (newPassword) emit passwordChanged(password);
  message_(QMessageBox::NoIcon,
           "Settings successfully modified.\r\n\r\nThe Password setting will take effect immediately.\r\n"
           "The History Directory setting will take effect after next re-boot.",
           QMessageBox::Ok);
  QDialog::accept();
}

}  // namespace veltris::tray
