#include "setup/installer.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <thread>

#include "common/agent_service.h"
#include "common/registry_names.h"
#include "desktop/messages.h"
#include "platform/registry/registry.h"
#include "platform/service/history_folder.h"
#include "platform/service/service_manager.h"
#include "platform/service/systemctl.h"
#include "platform/system_root.h"
#include "setup/dialogs.h"
#include "setup/registry_file.h"
#include "setup/settings_dialog.h"
#include "setup/setup_exit.h"

namespace veltris::setup {
namespace {

using desktop::Answer;
using desktop::MessageButtons;
using desktop::MessageIcon;

// What the driver's setup script writes: the component is in place and current.
// Capture needs nothing installed: the service runs as root with the unit's
// capability set, and the program file gets no capabilities of its own.
constexpr char kDriverTitle[] = "Tapsor Packet Capture (Linux packet sockets)";
constexpr uint32_t kDriverMajorVersion = 1, kDriverMinorVersion = 1;

QString canonical(const QString& folder) {
  const QString path = QFileInfo(folder).canonicalFilePath();
  return path.isEmpty() ? QDir::cleanPath(folder) : path;
}

}  // namespace

SetupEnvironment desktopEnvironment(service::ServiceManager& manager) {
  SetupEnvironment env;
  env.programFolder = QCoreApplication::applicationDirPath();
  env.manager = &manager;
  env.wait = [](int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  };
  env.startDetached = [](const QString& program, const QStringList& arguments, const QString& folder) {
    return QProcess::startDetached(program, arguments, folder);
  };
  env.runComponents = [](ComponentsDialog& dialog) { return dialog.exec(); };
  env.runSettings = [](InstallSettingsDialog& dialog) { return dialog.exec(); };
  env.mayInstall = [](const QString& root) {
    if (::geteuid() == 0) return true;
    return QDir::cleanPath(root) != "/" && ::access(QFile::encodeName(root).constData(), W_OK) == 0;
  };
  env.hasSystemd = [] { return service::runSystemctl({"--version"}).exitCode == 0; };
  return env;
}

int Installer::run() {
  try {
    startChecks();
    if (readInstallAdvanced()) {
      if (desktop::ask(nullptr, MessageIcon::Question, tr("VELTRIS Setup"),
                       tr("Do you want to continue with the installation of VELTRIS Advanced support tools ?"),
                       MessageButtons::YesNo) == Answer::Yes) {
        installAdvancedTools(nullptr);
        return 0;
      }
    }
    chooseComponents();
    return 0;
  } catch (const SetupExit& exit) {
    return exit.status;
  }
}

// ---- Start --------------------------------------------------------------------------

void Installer::startChecks() {
  QString failure;
  if (!findFolders(folders_, env_.programFolder, failure)) failAndExit(nullptr, failure);

  utsname system{};
  if (::uname(&system) != 0) failAndExit(nullptr, tr("Could not determine Operating System Version"));
  if (QString::fromLatin1(system.sysname) != QLatin1String("Linux")) failAndExit(nullptr, tr("Operating System version is not supported"));
  agentSupported_ = env_.hasSystemd();
  // Without systemd only the advanced tools can be installed, as on a system without services.
  if (agentSupported_ && !env_.mayInstall(folders_.root)) {
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
  QDir::setCurrent(folders_.setup);
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
  ComponentsDialog dialog(agentSupported_, [this, folder] {
    return env_.startDetached(QStringLiteral("xdg-open"), {QStringLiteral("README.TXT")}, folder);
  });
  if (env_.runComponents(dialog) != QDialog::Accepted) return;  // Exit or the close box
  const bool agent = dialog.agentBox()->isChecked(), advanced = dialog.advancedBox()->isChecked();

  checkFiles(&dialog, helpList(), folders_.setup);
  transferWithRetry(&dialog, helpList(), folders_.setup, folders_.data(), Transfer::Copy,
                    tr("Copying VELTRIS Help Files"));
  dialog.hide();
  if (agent) installAgent();
  if (advanced) installAdvancedTools(nullptr);
}

// ---- Agent install --------------------------------------------------------------------------

void Installer::installAgent() {
  if (!agentSupported_) {
    desktop::ask(nullptr, MessageIcon::None, tr("VELTRIS Setup"),
                 tr("This version of VELTRIS Agent is only supported on Linux with systemd"));
    return;
  }
  checkFiles(nullptr, agentFilesList(), folders_.setup);
  checkFiles(nullptr, taskbarList(), folders_.setup);
  {
    ProgressDialog progress;
    progress.setModal(true);
    progress.show();
    installSteps(progress);
    progress.close();
  }
  desktop::ask(nullptr, MessageIcon::None, tr("VELTRIS Setup"),
               tr("VELTRIS Monitoring Agent Install complete\r\n\r\n\r\n"
                  "To invoke VELTRIS, double-click or right-click the LAN taskbar icon.\r\n\r\n"
                  "The LAN taskbar icon starts at each login. To start it now, run '%1 &' as yourself (not as root).\r\n\r\n"
                  "To un-install VELTRIS, run 'TapsorSv -remove' as root and delete its files.")
                   .arg(folders_.trayProgram()));
}

void Installer::mark(ProgressDialog& progress, int step, int milliseconds) {
  env_.wait(milliseconds);
  progress.markStep(static_cast<ProgressDialog::Step>(step));
}

void Installer::installSteps(ProgressDialog& progress) {
  const bool fromTemp = canonical(folders_.temp) == canonical(folders_.setup);

  mark(progress, ProgressDialog::CopyFiles, 1000);
  if (!fromTemp) {
    const QString title = tr("Copying VELTRIS Agent Files to Temp directory");
    transferWithRetry(&progress, taskbarList(), folders_.setup, folders_.temp, Transfer::Copy, title);
    transferWithRetry(&progress, agentFilesList(), folders_.setup, folders_.temp, Transfer::Copy, title);
  }

  mark(progress, ProgressDialog::StopOld, 1000);
  stopOldAgent(progress);

  mark(progress, ProgressDialog::InstallDriver, 1000);
  placeTaskbarFiles(progress, fromTemp);
  transferWithRetry(&progress, agentFilesList(), folders_.temp, folders_.programs(),
                    fromTemp ? Transfer::Copy : Transfer::Move, QString());
  env_.wait(1000);
  networkComponent(progress);

  mark(progress, ProgressDialog::SpecifySettings, 2000);
  {
    InstallSettingsDialog settings(&progress);
    env_.runSettings(settings);
    if (settings.exitRequested()) throw SetupExit{1};
  }
  allowHistoryFolder();

  startAgent(progress);
}

void Installer::stopOldAgent(ProgressDialog& progress) {
  service::ServiceManager& manager = *env_.manager;
  if (manager.connect() != 0) {
    desktop::ask(&progress, MessageIcon::Stop, tr("VELTRIS ERROR"), tr("Could not open Service Control Manager"));
    return;
  }
  if (manager.openService(kServiceName) == 0 && manager.stopService(kServiceName) == 0) {
    // Its files are replaced next: let it end first (at most 10 seconds).
    uint32_t state = service::kStopPending;
    for (int i = 0; i < 40 && manager.queryState(kServiceName, state) == 0 && state != service::kStopped; ++i)
      env_.wait(250);
  }
  if (manager.openService(kDriverServiceName) == 0) manager.stopService(kDriverServiceName);
}

void Installer::startAgent(ProgressDialog& progress) {
  service::ServiceManager& manager = *env_.manager;
  std::thread starter;
  if (manager.connect() != 0)
    desktop::ask(&progress, MessageIcon::Stop, tr("VELTRIS ERROR"), tr("Could not open Service Control Manager"));
  else
    starter = std::thread([&manager] { manager.startService(kServiceName); });  // errors ignored
  mark(progress, ProgressDialog::StartNew, 2000);
  env_.wait(10000);
  if (starter.joinable()) starter.join();
}

// ---- The network component: the driver's keys and the taskbar files -------------------------

void Installer::networkComponent(ProgressDialog& progress) {
  reg::Registry registry = reg::Registry::system();
  std::string title;
  uint32_t major = 0, minor = 0;
  registry.queryString(kTapsorVersionKey, "Title", title);
  if (registry.queryNumber(kTapsorVersionKey, "MajorVersion", major) != reg::kSuccess) major = 0;
  if (registry.queryNumber(kTapsorVersionKey, "MinorVersion", minor) != reg::kSuccess) minor = 0;
  if (title.empty()) {
    addComponent(progress);
  } else if (major == 0 || minor == 0) {
    removeComponent();
    addComponent(progress);
  }
  registerService(progress);
}

void Installer::addComponent(ProgressDialog& progress) {
  reg::Registry registry = reg::Registry::system();
  if (registry.createKey(kTapsorVersionKey) != reg::kSuccess ||
      registry.setString(kTapsorVersionKey, "Title", kDriverTitle) != reg::kSuccess ||
      registry.setNumber(kTapsorVersionKey, "MajorVersion", kDriverMajorVersion) != reg::kSuccess ||
      registry.setNumber(kTapsorVersionKey, "MinorVersion", kDriverMinorVersion) != reg::kSuccess)
    failAndExit(&progress, tr("FAILED to write parameters to registry"));
}

// An older install's keys go; its program file was replaced above, and with it
// any capabilities an earlier SETUP had granted.
void Installer::removeComponent() { reg::Registry::system().deleteKey(kTapsorVersionKey); }

// The LAN taskbar icon: each file of the list into its own folder.
void Installer::placeTaskbarFiles(ProgressDialog& progress, bool fromTemp) {
  for (const Placement& placement : taskbarPlacements(folders_))
    transferWithRetry(&progress, FileList{{placement.name}}, folders_.temp, placement.folder,
                      fromTemp ? Transfer::Copy : Transfer::Move, QString());
}

// The service registration that the driver's setup did on NT: the unit, once.
void Installer::registerService(ProgressDialog& progress) {
  service::ServiceManager& manager = *env_.manager;
  if (manager.openService(kServiceName) == 0) return;
  const service::ServiceConfig config{kServiceName, kDisplayName, folders_.agentProgram().toStdString(),
                                      {kServiceDependencies.begin(), kServiceDependencies.end()}};
  if (long rc = manager.createService(config); rc != 0)
    desktop::ask(&progress, MessageIcon::Exclamation, tr("VELTRIS Setup Warning"),
                 tr("CreateService failed - %1").arg(QString::fromStdString(service::systemErrorText(rc))));
}

// The service sees a read-only system apart from its state directory: a history
// folder elsewhere is opened to it by a drop-in beside the unit.
void Installer::allowHistoryFolder() {
  std::string folder;
  reg::Registry::system().queryString(kParametersKey, kDataPathValue, folder);
  const service::DropInResult dropIn = service::updateHistoryDropIn(folder);
  QString failure = QString::fromStdString(dropIn.error);
  if (dropIn.ok && dropIn.change != service::DropInChange::Unchanged)
    failure = QString::fromStdString(service::reloadAgentUnit(false).error);
  if (!failure.isEmpty())
    desktop::ask(nullptr, MessageIcon::Exclamation, tr("VELTRIS Setup Warning"),
                 tr("The agent may not write its history to %1:\r\n%2").arg(QString::fromStdString(folder), failure));
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
