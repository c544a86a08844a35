#include "console/tools/tools_menu.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>

namespace veltris::console {
namespace {

const QString kTerminal = "x-terminal-emulator";

ToolCandidate program(const QStringList& command) { return {command, {command.first()}}; }

// A terminal running `script` under sh, waiting for Enter before it closes.
ToolCandidate inTerminal(const QString& script, const QStringList& needs) {
  return {{kTerminal, "-e", "sh", "-c", script + "; echo; printf 'Press Enter to close. '; read _"},
          QStringList{kTerminal} + needs};
}

}  // namespace

const QList<ToolItem>& toolItems() {
  static const QList<ToolItem> items = {
      {"mnuToolsNCPA", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "Network Control Panel"), false, true,
       {program({"nm-connection-editor"}), program({"gnome-control-center", "network"}),
        program({"systemsettings", "kcm_networkmanagement"})}},
      {"mnuToolsServer", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "Server Control Panel"), false, true,
       {inTerminal("smbstatus", {"smbstatus"}), inTerminal("net share list", {"net"})}},
      {"mnuToolsTelnet", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "Telnet"), false, true,
       {{{kTerminal, "-e", "telnet"}, {kTerminal, "telnet"}},
        {{kTerminal, "-e", "sh", "-c", "printf 'Remote login to: '; read host; exec ssh \"$host\""}, {kTerminal, "ssh"}}}},
      {"mnuToolsTaskMgr", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "Windows NT Task Manager"), false, true,
       {program({"gnome-system-monitor"}), program({"plasma-systemmonitor"}), program({"xfce4-taskmanager"}),
        program({"lxtask"}), {{kTerminal, "-e", "htop"}, {kTerminal, "htop"}}, {{kTerminal, "-e", "top"}, {kTerminal, "top"}}}},
      {"mnuToolsUserMgr", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "User Manager"), false, true,
       {program({"users-admin"}), program({"kuser"}), program({"gnome-control-center", "users"})}},
      {"mnuToolsEventViewer", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "Event Viewer "), true, true,
       {program({"gnome-logs"}), program({"ksystemlog"}), {{kTerminal, "-e", "journalctl", "-e"}, {kTerminal, "journalctl"}}}},
      {"mnuToolsWinMSD", QT_TRANSLATE_NOOP("veltris::console::ToolsMenu", "Windows NT Diagnostics "), true, true,
       {program({"hardinfo"}), program({"lshw-gtk"}), inTerminal("inxi -F", {"inxi"}),
        inTerminal("lshw -short 2>/dev/null; lscpu; lsblk", {"lshw", "lscpu", "lsblk"})}},
  };
  return items;
}

bool programOnPath(const QString& program) { return !QStandardPaths::findExecutable(program).isEmpty(); }

QStringList chooseToolCommand(const ToolItem& item, const ProgramFinder& installed) {
  for (const ToolCandidate& candidate : item.candidates) {
    bool all = true;
    for (const QString& needed : candidate.needs) all = all && installed(needed);
    if (all) return candidate.command;
  }
  return {};
}

ToolsMenu::ToolsMenu(QMenu* menu, ProgramFinder installed) : installed_(std::move(installed)) {
  for (const ToolItem& item : toolItems()) {
    QAction* action = menu->addAction(item.caption);
    action->setObjectName(item.objectName);
    actions_.append(action);
  }
  wire();
}

ToolsMenu::ToolsMenu(const QList<QAction*>& actions, ProgramFinder installed)
    : installed_(std::move(installed)), actions_(actions) {
  for (int i = 0; i < actions_.size() && i < toolItems().size(); ++i) actions_[i]->setObjectName(toolItems()[i].objectName);
  wire();
}

void ToolsMenu::wire() {
  for (int i = 0; i < actions_.size(); ++i) {
    const QStringList command = chooseToolCommand(toolItems()[i], installed_);
    commands_.append(command);
    // The console does not wait for the tool nor check that it started.
    QObject::connect(actions_[i], &QAction::triggered, actions_[i], [command] {
      if (!command.isEmpty()) QProcess::startDetached(command.first(), command.mid(1));
    });
  }
  update(true, QString());
}

void ToolsMenu::update(bool local, const QString& computerName) {
  for (int i = 0; i < actions_.size(); ++i) {
    const ToolItem& item = toolItems()[i];
    const QString caption = tr(item.caption.toUtf8().constData());
    actions_[i]->setText(item.carriesName ? caption + QStringLiteral("\\\\") + computerName : caption);
    actions_[i]->setEnabled(!commands_[i].isEmpty() && (local || !item.localOnly));
  }
}

QAction* ToolsMenu::action(const char* objectName) const {
  for (QAction* a : actions_)
    if (a->objectName() == QLatin1String(objectName)) return a;
  return nullptr;
}

QStringList ToolsMenu::commandOf(const char* objectName) const {
  for (int i = 0; i < actions_.size(); ++i)
    if (actions_[i]->objectName() == QLatin1String(objectName)) return commands_[i];
  return {};
}

}  // namespace veltris::console
