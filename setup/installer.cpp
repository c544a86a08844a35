#include "setup/installer.h"

#include <sys/utsname.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include "common/registry_names.h"
#include "desktop/messages.h"
#include "platform/registry/registry.h"
#include "setup/agent_install.h"
#include "setup/dialogs.h"
#include "setup/file_transfer.h"
#include "setup/registry_file.h"
#include "setup/setup_exit.h"

namespace veltris::setup {
namespace {

using desktop::Answer;
using desktop::MessageButtons;
using desktop::MessageIcon;

}  // namespace

Installer::Installer(SetupEnvironment env, QObject* parent)
    : QObject(parent), env_(std::move(env)), steps_(env_.pace) {
  connect(&steps_, &StepRunner::finished, this, [this](int status) {
    closeWindows();
    emit finished(status);
  });
}

Installer::~Installer() {
  delete components_.data();
  delete agent_.data();
}

void Installer::start() {
  steps_.runAfter(0, [this] { startChecks(); });
}

void Installer::closeWindows() {
  if (components_) {
    components_->hide();
    components_->deleteLater();
  }
  if (agent_) agent_->deleteLater();  // with its progress dialog
}

// ---- Start --------------------------------------------------------------------------

void Installer::startChecks() {
  QString failure;
  if (!findFolders(folders_, env_.programFolder, failure)) failAndExit(nullptr, failure);

  utsname system{};
  if (::uname(&system) != 0) failAndExit(nullptr, tr("Could not determine Operating System Version"));
  if (QString::fromLatin1(system.sysname) != QLatin1String("Linux")) failAndExit(nullptr, tr("Operating System version is not supported"));
  steps_.whenDone(QtConcurrent::run(env_.hasSystemd), [this](bool hasSystemd) { systemChecked(hasSystemd); });
}

void Installer::systemChecked(bool hasSystemd) {
  // Without systemd only the advanced tools can be installed, as on a system without services.
  agentSupported_ = hasSystemd;
  if (agentSupported_ && !env_.mayInstall(folders_.root)) return restartThroughPkexec();
  QDir::setCurrent(folders_.setup);

  if (readInstallAdvanced() &&
      desktop::ask(nullptr, MessageIcon::Question, tr("VELTRIS Setup"),
                   tr("Do you want to continue with the installation of VELTRIS Advanced support tools ?"),
                   MessageButtons::YesNo) == Answer::Yes) {
    installAdvancedTools(nullptr);
    return steps_.end(0);
  }
  chooseComponents();
}

void Installer::restartThroughPkexec() {
  const QString pkexec = QStandardPaths::findExecutable("pkexec");
  if (pkexec.isEmpty()) failAndExit(nullptr, tr("Installation requires ADMINISTRATOR authority"));
  const QString offer = tr("Installation requires ADMINISTRATOR authority\r\n\r\nStart SETUP again as root (pkexec) ?");
  if (desktop::ask(nullptr, MessageIcon::Stop, tr("VELTRIS Setup Error"), offer, MessageButtons::YesNo) != Answer::Yes)
    throw SetupExit{1};
  // pkexec clears the environment: pass on the display and the target root.
  QStringList arguments{QStringLiteral("env")};
  for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "VELTRIS_ROOT"})
    if (qEnvironmentVariableIsSet(name)) arguments << QStringLiteral("%1=%2").arg(QLatin1String(name), qEnvironmentVariable(name));
  arguments << QCoreApplication::applicationFilePath();
  if (!env_.startDetached(pkexec, arguments, folders_.setup))
    failAndExit(nullptr, tr("Installation requires ADMINISTRATOR authority"));
  throw SetupExit{0};
}

bool Installer::readInstallAdvanced() {
  reg::Registry registry = reg::Registry::system();
  if (!prepareRegistryFile() || registry.createKey(kParametersKey) != reg::kSuccess)
    failAndExit(nullptr, tr("FAILED to create/open registry key"));
  uint32_t advanced = 0;
  if (registry.queryNumber(kParametersKey, "InstallAdvanced", advanced) != reg::kSuccess) advanced = 0;
  registry.deleteValue(kParametersKey, "InstallAdvanced");
  return advanced != 0;
}

// ---- Components dialog ------------------------------------------------------------------

void Installer::chooseComponents() {
  const QString folder = folders_.setup;
  components_ = new ComponentsDialog(agentSupported_, [this, folder] {
    return env_.startDetached(QStringLiteral("xdg-open"), {QStringLiteral("README.TXT")}, folder);
  });
  // Queued: the flow goes on from the event loop, not from inside the dialog's button.
  connect(components_, &QDialog::finished, this,
          [this](int result) { steps_.run([this, result] { componentsChosen(result); }); }, Qt::QueuedConnection);
  env_.showComponents(*components_);
}

void Installer::componentsChosen(int result) {
  if (result != QDialog::Accepted) return steps_.end(0);  // Exit or the close box
  const bool agent = components_->agentBox()->isChecked();
  advancedChosen_ = components_->advancedBox()->isChecked();

  checkFiles(components_, helpList(), folders_.setup);
  const TransferJob help{helpList(), folders_.setup, folders_.data(), Transfer::Copy, tr("Copying VELTRIS Help Files")};
  transferWithRetry(steps_, components_, help, [this, agent] {
    components_->hide();
    components_->deleteLater();
    if (agent) return installAgent();
    afterAgent();
  });
}

// ---- Agent install --------------------------------------------------------------------------

void Installer::installAgent() {
  if (!agentSupported_) {
    desktop::ask(nullptr, MessageIcon::None, tr("VELTRIS Setup"),
                 tr("This version of VELTRIS Agent is only supported on Linux with systemd"));
    return afterAgent();
  }
  checkFiles(nullptr, agentFilesList(), folders_.setup);
  checkFiles(nullptr, taskbarList(), folders_.setup);
  agent_ = new AgentInstall(env_, folders_, steps_, this);
  connect(agent_, &AgentInstall::stepMarked, this, &Installer::stepMarked);
  agent_->start([this] { agentInstalled(); });
}

void Installer::agentInstalled() {
  desktop::ask(nullptr, MessageIcon::None, tr("VELTRIS Setup"),
               tr("VELTRIS Monitoring Agent Install complete\r\n\r\n\r\n"
                  "To invoke VELTRIS, double-click or right-click the LAN taskbar icon.\r\n\r\n"
                  "The LAN taskbar icon starts at each login. To start it now, run '%1 &' as yourself (not as root).\r\n\r\n"
                  "To un-install VELTRIS, run 'TapsorSv -remove' as root and delete its files.")
                   .arg(folders_.trayProgram()));
  afterAgent();
}

void Installer::afterAgent() {
  if (advancedChosen_) installAdvancedTools(nullptr);
  steps_.end(0);
}

// ---- Advanced support tools ---------------------------------------------------------------

void Installer::installAdvancedTools(QWidget* owner) {
  checkFiles(owner, advancedToolsList(), folders_.setup);
  reg::Registry registry = reg::Registry::system();
  if (!prepareRegistryFile() || registry.createKey(kParametersKey) != reg::kSuccess)
    failAndExit(owner, tr("FAILED to open registry key"));
  if (registry.setNumber(kParametersKey, "InstallAdvanced", 1) != reg::kSuccess)
    failAndExit(owner, tr("FAILED to write parameters to registry"));
  if (!env_.startDetached(folders_.setup + QStringLiteral("/SetupCL"), {}, folders_.setup))
    failAndExit(owner, tr("Failed to run SetupCL"));
}

}  // namespace veltris::setup
