#include "desktop/agent_settings_form.h"

#include "platform/service/history_folder.h"
#include "platform/system_root.h"

namespace veltris::desktop {

QString AgentSettingsForm::caption() { return tr("VELTRIS Settings"); }

QString AgentSettingsForm::text(Text which) {
  switch (which) {
    case Text::RemoteGroup: return tr("Remote Connection Settings");
    case Text::PasswordNotice:
      return tr("A password is required in order to protect against unauthorized remote connections to the Agent.");
    case Text::PasswordLabel: return tr("Password:");
    case Text::ConfirmLabel: return tr("Confirm Password:");
    case Text::HistoryGroup: return tr("History Settings");
    case Text::HistoryNotice:
      return tr("History information for the last month is automatically maintained in order to establish a "
                "baseline of network activity for this PC .  This typically requires less than 1 MB of disk space.");
    case Text::DirectoryLabel: return tr("Directory:");
    case Text::Ok: return tr("&OK");
    case Text::Cancel: return tr("&Cancel");
  }
  return {};
}

QString AgentSettingsForm::fieldName(Field field) {
  switch (field) {
    case Field::Password: return QStringLiteral("tbxPassword");
    case Field::Confirmation: return QStringLiteral("tbxConfirm");
    case Field::Directory: return QStringLiteral("tbxDirectory");
  }
  return {};
}

QString AgentSettingsForm::defaultDirectory() {
  return QString::fromStdString((platform::windowsDirectory() / "VELTRIS History").string()) + QLatin1Char('/');
}

AgentSettingsForm::Values AgentSettingsForm::loaded(const QString& storedKey, const QString& storedFolder) {
  Values v;
  v.password = storedKey.left(kMaxText);
  v.confirmation = v.password;
  v.directory = storedFolder.isEmpty() ? defaultDirectory() : storedFolder.left(kMaxText);
  return v;
}

std::optional<AgentSettingsForm::Problem> AgentSettingsForm::check(const Values& v, bool keyKept) {
  if (keyKept) {
    if (v.directory.isEmpty()) return Problem{Field::Directory, MessageIcon::Exclamation, tr("Require Data Path")};
    return std::nullopt;
  }
  if (v.password.isEmpty()) return Problem{Field::Password, MessageIcon::Exclamation, tr("Require Password")};
  if (v.confirmation.isEmpty())
    return Problem{Field::Confirmation, MessageIcon::Exclamation, tr("Require Password Confirmation")};
  if (v.password.compare(v.confirmation, Qt::CaseInsensitive) != 0)
    return Problem{Field::Password, MessageIcon::Exclamation, tr("Password Confirmation FAILED")};
  if (v.directory.isEmpty()) return Problem{Field::Directory, MessageIcon::Exclamation, tr("Require Data Path")};
  return std::nullopt;
}

std::optional<AgentSettingsForm::Problem> AgentSettingsForm::folderRefusal(const QString& folder) {
  const std::string why = service::historyFolderRefusal(folder.toStdString());
  if (why.empty()) return std::nullopt;
  return Problem{Field::Directory, MessageIcon::Stop,
                 tr("Data Path '%1' cannot hold the history: %2").arg(folder, QString::fromStdString(why))};
}

QString AgentSettingsForm::createQuestion(const QString& folder) {
  return tr("Data Path '%1' does not exist.  Do you wish to create it ?").arg(folder);
}

AgentSettingsForm::Problem AgentSettingsForm::createFailed() {
  return {Field::Directory, MessageIcon::Stop, tr("Create Directory FAILED")};
}

AgentSettingsForm::Problem AgentSettingsForm::keyFailed() {
  return {std::nullopt, MessageIcon::Stop, tr("FAILED to create/open registry key")};
}

AgentSettingsForm::Problem AgentSettingsForm::writeFailed() {
  return {std::nullopt, MessageIcon::Stop, tr("FAILED to write parameters to registry")};
}

QString AgentSettingsForm::success() {
  return tr("Settings successfully modified.\r\n\r\nThe Password setting will take effect immediately.\r\n"
            "The History Directory setting will take effect after next re-boot.");
}

}  // namespace veltris::desktop
