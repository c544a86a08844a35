#pragma once
// The agent's settings form without its widgets: the fields, their texts, the
// checks of OK in their order and every message the dialog shows. The tray's
// Settings dialog and SETUP's install-time dialog lay out the same form and
// differ only in where they read and write and in what a failure ends.
//
// How a dialog uses it (the tray's Settings, over its SettingsStore):
//   AgentSettingsForm::Values v = AgentSettingsForm::loaded(storedKey, storedFolder);
//   ... boxes named fieldName(Field::...), labels from text(Text::...), max length kMaxText ...
//   OK:
//   if (auto problem = AgentSettingsForm::check(v)) { ask(this, problem->icon, caption(),
//       problem->text); focus the box of problem->focus; return; }
//   folder: store.checkFolder(v.directory) -> Missing:
//       ask(this, MessageIcon::Question, caption(), createQuestion(folder), MessageButtons::YesNo)
//       No: focus Directory; Yes and store.createFolder fails: createFailed()
//   write: KeyFailed -> keyFailed(), WriteFailed -> writeFailed(); done -> success() (tray only).
#include <QCoreApplication>
#include <QString>
#include <optional>

#include "desktop/messages.h"

namespace veltris::desktop {

class AgentSettingsForm {
  Q_DECLARE_TR_FUNCTIONS(AgentSettingsForm)

 public:
  enum class Field { Password, Confirmation, Directory };
  enum class Text {
    RemoteGroup,     // group box "Remote Connection Settings"
    PasswordNotice,  // the words above the password boxes
    PasswordLabel,
    ConfirmLabel,
    HistoryGroup,
    HistoryNotice,
    DirectoryLabel,
    Ok,
    Cancel,
  };
  // Longest text a box takes, and longest value read back from the registry.
  static constexpr int kMaxText = 255;

  struct Values {
    QString password, confirmation, directory;
  };
  // A failed check: its message, icon and the box that gets the focus.
  struct Problem {
    std::optional<Field> focus;  // none: the focus stays where it is
    MessageIcon icon;
    QString text;
  };

  static QString caption();  // of the agent's dialog and of all the form's messages
  static QString text(Text which);
  static QString fieldName(Field field);  // the boxes' objectName()s

  // The boxes as a dialog opens: the stored key in both password boxes, the
  // stored folder or the default one.
  static Values loaded(const QString& storedKey, const QString& storedFolder);
  // "VELTRIS History" below the Windows directory, ending in a separator.
  static QString defaultDirectory();

  // OK's checks in order; the first that fails, or none. With `keyKept` (a
  // stored key the user may not read, both boxes left empty) the password
  // checks are skipped: the stored key stays.
  static std::optional<Problem> check(const Values& values, bool keyKept = false);
  // A folder the agent may never write its history into, or none.
  static std::optional<Problem> folderRefusal(const QString& folder);

  static QString createQuestion(const QString& folder);  // Yes/No, question icon
  static Problem createFailed();
  static Problem keyFailed();
  static Problem writeFailed();
  static QString success();  // the agent's dialog only; no icon
};

}  // namespace veltris::desktop
