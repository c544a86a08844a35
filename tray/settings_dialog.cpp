#include "tray/settings_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/messages.h"
#include "tray/pictures.h"
#include "tray/settings_store.h"

namespace veltris::tray {
namespace {

using desktop::MessageButtons;
using desktop::MessageIcon;
using Form = desktop::AgentSettingsForm;

QLineEdit* textBox(Form::Field field, bool password) {
  auto* box = new QLineEdit;
  box->setObjectName(Form::fieldName(field));
  box->setMaxLength(Form::kMaxText);
  if (password) box->setEchoMode(QLineEdit::Password);
  return box;
}

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

SettingsDialog::SettingsDialog(SettingsStore& store, QWidget* parent) : QDialog(parent), store_(store) {
  using Text = Form::Text;
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(Form::caption());
  setWindowIcon(applicationIcon());
  setAttribute(Qt::WA_DeleteOnClose);
  password_ = textBox(Form::Field::Password, true);
  confirm_ = textBox(Form::Field::Confirmation, true);
  folder_ = textBox(Form::Field::Directory, false);

  auto* remote = new QGroupBox(Form::text(Text::RemoteGroup));
  auto* remoteGrid = new QGridLayout(remote);
  remoteGrid->addWidget(wrapped(Form::text(Text::PasswordNotice)), 0, 0, 1, 2);
  QLabel* confirmLabel = rightAligned(Form::text(Text::ConfirmLabel));
  remoteGrid->addWidget(rightAligned(Form::text(Text::PasswordLabel)), 1, 0);
  remoteGrid->addWidget(password_, 1, 1);
  remoteGrid->addWidget(confirmLabel, 2, 0);
  remoteGrid->addWidget(confirm_, 2, 1);

  auto* history = new QGroupBox(Form::text(Text::HistoryGroup));
  auto* historyGrid = new QGridLayout(history);
  historyGrid->addWidget(wrapped(Form::text(Text::HistoryNotice)), 0, 0, 1, 2);
  historyGrid->addWidget(rightAligned(Form::text(Text::DirectoryLabel)), 1, 0);
  historyGrid->addWidget(folder_, 1, 1);
  // The three boxes line up, as in the form.
  for (QGridLayout* grid : {remoteGrid, historyGrid}) grid->setColumnMinimumWidth(0, confirmLabel->sizeHint().width());

  note_ = new QLabel;
  note_->setObjectName(QStringLiteral("lblNote"));
  note_->setWordWrap(true);
  note_->hide();

  auto* buttons = new QDialogButtonBox;
  ok_ = buttons->addButton(Form::text(Text::Ok), QDialogButtonBox::AcceptRole);
  ok_->setObjectName(QStringLiteral("btnOK"));
  ok_->setDefault(true);
  buttons->addButton(Form::text(Text::Cancel), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("btnCancel"));
  buttons->setCenterButtons(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(remote);
  layout->addWidget(history);
  layout->addWidget(note_);
  layout->addWidget(buttons);
  setFixedWidth(400);

  setBusy(true, tr("Reading the stored settings ..."));
  store_.read(this, [this](const StoredSettings& stored) { showStored(stored); });
}

QLineEdit* SettingsDialog::box(Form::Field field) const {
  switch (field) {
    case Form::Field::Password: return password_;
    case Form::Field::Confirmation: return confirm_;
    case Form::Field::Directory: return folder_;
  }
  return nullptr;
}

// The boxes and OK wait while the store works; Cancel stays.
void SettingsDialog::setBusy(bool busy, const QString& note) {
  busy_ = busy;
  for (QWidget* w : {static_cast<QWidget*>(password_), static_cast<QWidget*>(confirm_),
                     static_cast<QWidget*>(folder_), static_cast<QWidget*>(ok_)})
    w->setEnabled(!busy);
  if (busy) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
  note_->setText(note);
  note_->setVisible(!note.isEmpty());
  fitHeight();
}

// Wrapped texts take the height they need at the dialog's width: a note of
// several lines makes the dialog taller rather than the notices shorter.
void SettingsDialog::fitHeight() {
  layout()->activate();
  const int height = layout()->totalHeightForWidth(width());
  if (height <= 0) return;
  setMinimumHeight(height);
  resize(width(), height);
}

void SettingsDialog::showStored(const StoredSettings& stored) {
  storedFolder_ = stored.dataPath;
  storedPassword_ = stored.keyKnown ? stored.password : QString();
  keyHidden_ = stored.keyStored && !stored.keyKnown;
  const Form::Values values = Form::loaded(storedPassword_, stored.dataPath);
  password_->setText(values.password);
  confirm_->setText(values.confirmation);
  folder_->setText(values.directory);
  if (!stored.read) {
    // Nothing known of what is stored: only what the user types is written.
    storedFolder_ = values.directory;
    keyHidden_ = true;
  }
  if (keyHidden_) {
    for (QLineEdit* b : {password_, confirm_}) b->setPlaceholderText(tr("(set; type a new one to change it)"));
  }
  if (!stored.read) {
    setBusy(false, tr("The stored settings could not be read: ") + stored.error);
  } else if (keyHidden_) {
    setBusy(false, tr("A password is set. Leave the boxes empty to keep it."));
  } else {
    setBusy(false);
  }
}

void SettingsDialog::stay(const Form::Problem& problem) {
  desktop::ask(this, problem.icon, Form::caption(), problem.text);
  if (problem.focus) box(*problem.focus)->setFocus();
}

void SettingsDialog::accept() {
  if (busy_) return;
  const Form::Values values{password_->text(), confirm_->text(), folder_->text()};
  // A stored key that this user may not see is kept while both boxes stay empty.
  const bool keyKept = keyHidden_ && values.password.isEmpty() && values.confirmation.isEmpty();
  if (const auto problem = Form::check(values, keyKept)) return stay(*problem);

  change_ = {};
  if (values.directory != storedFolder_) change_.folder = values.directory;
  if (!keyKept && values.password != storedPassword_) change_.password = values.password;
  if (!change_.folder && !change_.password) return QDialog::accept();  // nothing changed, nothing written
  if (!change_.folder) return writeChange();
  if (const auto refusal = Form::folderRefusal(*change_.folder)) return stay(*refusal);
  checkFolder();
}

// The folder must exist; a missing one may be created on request.
void SettingsDialog::checkFolder() {
  const QString folder = *change_.folder;
  setBusy(true, tr("Checking the folder ..."));
  store_.checkFolder(folder, this, [this, folder](SettingsStore::Folder state, const QString& error) {
    setBusy(false);
    switch (state) {
      case SettingsStore::Folder::Exists: return writeChange();
      case SettingsStore::Folder::Missing: return offerToCreate(folder);
      case SettingsStore::Folder::Failed: return stay({Form::Field::Directory, MessageIcon::Stop, error});
    }
  });
}

void SettingsDialog::offerToCreate(const QString& folder) {
  if (desktop::ask(this, MessageIcon::Question, Form::caption(), Form::createQuestion(folder),
                   MessageButtons::YesNo) != desktop::Answer::Yes) {
    folder_->setFocus();
    return;
  }
  setBusy(true, tr("Creating the folder ..."));
  store_.createFolder(folder, this, [this](bool made, const QString& error) {
    setBusy(false);
    if (made) return writeChange();
    Form::Problem problem = Form::createFailed();
    if (!error.isEmpty()) problem.text += QStringLiteral("\n\n") + error;
    stay(problem);
  });
}

void SettingsDialog::writeChange() {
  setBusy(true, tr("Writing the settings ..."));
  store_.write(change_.folder, change_.password, this, [this](SettingsStore::Write result, const QString& error) {
    setBusy(false);
    switch (result) {
      case SettingsStore::Write::Done: break;
      case SettingsStore::Write::KeyFailed: return stay(Form::keyFailed());
      case SettingsStore::Write::WriteFailed: return stay(Form::writeFailed());
      case SettingsStore::Write::Failed: return stay({std::nullopt, MessageIcon::Stop, error});
    }
    if (change_.password) emit passwordChanged(*change_.password);
    desktop::ask(this, MessageIcon::None, Form::caption(), Form::success());
    QDialog::accept();
  });
}

}  // namespace veltris::tray
