#include "setup/agent_install.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>
#include <cmath>
#include <thread>

#include "common/agent_service.h"
#include "common/registry_names.h"
#include "desktop/messages.h"
#include "platform/registry/registry.h"
#include "platform/service/history_folder.h"
#include "platform/service/service_manager.h"
#include "setup/file_transfer.h"
#include "setup/settings_dialog.h"

namespace veltris::setup {
namespace {

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

// ---- Worker jobs: they touch files, the registry and systemctl, never a window ----

// The stop control to the agent and the driver; false when there is no service manager.
bool stopServices(service::ServiceManager& manager, double pace) {
  if (manager.connect() != 0) return false;
  if (manager.openService(kServiceName) == 0 && manager.stopService(kServiceName) == 0) {
    // Its files are replaced next: let it end first (at most 10 seconds).
    const auto poll = std::chrono::milliseconds(std::lround(250 * pace));
    uint32_t state = service::kStopPending;
    for (int i = 0; i < 40 && manager.queryState(kServiceName, state) == 0 && state != service::kStopped; ++i)
      std::this_thread::sleep_for(poll);
  }
  if (manager.openService(kDriverServiceName) == 0) manager.stopService(kDriverServiceName);
  return true;
}

bool writeDriverKeys(reg::Registry& registry) {
  return registry.createKey(kTapsorVersionKey) == reg::kSuccess &&
         registry.setString(kTapsorVersionKey, "Title", kDriverTitle) == reg::kSuccess &&
         registry.setNumber(kTapsorVersionKey, "MajorVersion", kDriverMajorVersion) == reg::kSuccess &&
         registry.setNumber(kTapsorVersionKey, "MinorVersion", kDriverMinorVersion) == reg::kSuccess;
}

struct DriverSetUp {
  bool keysWritten = true;
  long createError = 0;  // CreateService's error, 0 when registered or already there
};

// The network component: the driver's keys when missing or old (an older
// install's keys go first), then the service registration that the driver's
// setup did on NT: the unit, once.
DriverSetUp setUpDriver(service::ServiceManager& manager, const std::string& agentProgram) {
  DriverSetUp result;
  reg::Registry registry = reg::Registry::system();
  std::string title;
  uint32_t major = 0, minor = 0;
  registry.queryString(kTapsorVersionKey, "Title", title);
  if (registry.queryNumber(kTapsorVersionKey, "MajorVersion", major) != reg::kSuccess) major = 0;
  if (registry.queryNumber(kTapsorVersionKey, "MinorVersion", minor) != reg::kSuccess) minor = 0;
  if (title.empty()) {
    result.keysWritten = writeDriverKeys(registry);
  } else if (major == 0 || minor == 0) {
    registry.deleteKey(kTapsorVersionKey);
    result.keysWritten = writeDriverKeys(registry);
  }
  if (!result.keysWritten || manager.openService(kServiceName) == 0) return result;
  const service::ServiceConfig config{kServiceName, kDisplayName, agentProgram,
                                      {kServiceDependencies.begin(), kServiceDependencies.end()}};
  result.createError = manager.createService(config);
  return result;
}

struct HistoryAccess {
  QString folder, failure;  // failure empty when the service may write there
};

// The service sees a read-only system apart from its state directory: a history
// folder elsewhere is opened to it by a drop-in beside the unit.
HistoryAccess openHistoryFolder() {
  std::string folder;
  reg::Registry::system().queryString(kParametersKey, kDataPathValue, folder);
  const service::DropInResult dropIn = service::updateHistoryDropIn(folder);
  std::string failure = dropIn.error;
  if (dropIn.ok && dropIn.change != service::DropInChange::Unchanged) failure = service::reloadAgentUnit(false).error;
  return {QString::fromStdString(folder), QString::fromStdString(failure)};
}

}  // namespace

AgentInstall::AgentInstall(const SetupEnvironment& env, const SetupFolders& folders, StepRunner& steps, QObject* parent)
    : QObject(parent), env_(env), folders_(folders), steps_(steps) {}

AgentInstall::~AgentInstall() { delete progress_.data(); }  // the settings dialog with it

void AgentInstall::start(StepRunner::Step done) {
  done_ = std::move(done);
  fromTemp_ = canonical(folders_.temp) == canonical(folders_.setup);
  progress_ = new ProgressDialog;
  progress_->setModal(true);
  progress_->show();
  mark(ProgressDialog::CopyFiles, 1000, [this] { copyToTemp(); });
}

// To mark a step: wait, then show its label in bold.
void AgentInstall::mark(ProgressDialog::Step step, int milliseconds, StepRunner::Step next) {
  steps_.runAfter(milliseconds, [this, step, next = std::move(next)] {
    progress_->markStep(step);
    emit stepMarked(step);
    next();
  });
}

void AgentInstall::copyToTemp() {
  StepRunner::Step stop = [this] { mark(ProgressDialog::StopOld, 1000, [this] { stopOldAgent(); }); };
  if (fromTemp_) return stop();
  const QString title = tr("Copying VELTRIS Agent Files to Temp directory");
  transferWithRetry(steps_, progress_, {taskbarList(), folders_.setup, folders_.temp, Transfer::Copy, title},
                    [this, title, stop] {
                      transferWithRetry(steps_, progress_,
                                        {agentFilesList(), folders_.setup, folders_.temp, Transfer::Copy, title}, stop);
                    });
}

void AgentInstall::stopOldAgent() {
  service::ServiceManager* manager = env_.manager;
  const double pace = env_.pace;
  steps_.whenDone(QtConcurrent::run([manager, pace] { return stopServices(*manager, pace); }), [this](bool opened) {
    if (!opened)
      desktop::ask(progress_, MessageIcon::Stop, tr("VELTRIS ERROR"), tr("Could not open Service Control Manager"));
    mark(ProgressDialog::InstallDriver, 1000, [this] { placeFiles(0); });
  });
}

// The LAN taskbar icon, each file into its own folder, then the agent's files.
void AgentInstall::placeFiles(int placement) {
  const Transfer how = fromTemp_ ? Transfer::Copy : Transfer::Move;
  const QList<Placement> placements = taskbarPlacements(folders_);
  if (placement < placements.size()) {
    const Placement& p = placements[placement];
    transferWithRetry(steps_, progress_, {FileList{{p.name}}, folders_.temp, p.folder, how, QString()},
                      [this, placement] { placeFiles(placement + 1); });
    return;
  }
  transferWithRetry(steps_, progress_, {agentFilesList(), folders_.temp, folders_.programs(), how, QString()},
                    [this] { steps_.runAfter(1000, [this] { networkComponent(); }); });
}

void AgentInstall::networkComponent() {
  service::ServiceManager* manager = env_.manager;
  const std::string program = folders_.agentProgram().toStdString();
  steps_.whenDone(QtConcurrent::run([manager, program] { return setUpDriver(*manager, program); }),
                  [this](const DriverSetUp& driver) {
                    if (!driver.keysWritten) failAndExit(progress_, tr("FAILED to write parameters to registry"));
                    if (driver.createError != 0)
                      desktop::ask(progress_, MessageIcon::Exclamation, tr("VELTRIS Setup Warning"),
                                   tr("CreateService failed - %1")
                                       .arg(QString::fromStdString(service::systemErrorText(driver.createError))));
                    mark(ProgressDialog::SpecifySettings, 2000, [this] { askSettings(); });
                  });
}

void AgentInstall::askSettings() {
  settings_ = new InstallSettingsDialog(progress_);
  // Queued: the flow goes on from the event loop, not from inside the dialog's OK.
  connect(settings_, &QDialog::finished, this, [this] { steps_.run([this] { settingsClosed(); }); },
          Qt::QueuedConnection);
  env_.showSettings(*settings_);
}

void AgentInstall::settingsClosed() {
  const bool exitRequested = settings_->exitRequested();
  settings_->deleteLater();
  if (exitRequested) throw SetupExit{1};
  allowHistoryFolder();
}

void AgentInstall::allowHistoryFolder() {
  steps_.whenDone(QtConcurrent::run(openHistoryFolder), [this](const HistoryAccess& access) {
    if (!access.failure.isEmpty())
      desktop::ask(nullptr, MessageIcon::Exclamation, tr("VELTRIS Setup Warning"),
                   tr("The agent may not write its history to %1:\r\n%2").arg(access.folder, access.failure));
    startAgent();
  });
}

// The service starts on a worker of its own (errors ignored) while the last
// step is marked; the dialog closes 10 seconds later, once the start returned.
void AgentInstall::startAgent() {
  service::ServiceManager* manager = env_.manager;
  steps_.whenDone(QtConcurrent::run([manager] { return manager->connect() == 0; }), [this, manager](bool connected) {
    if (!connected)
      desktop::ask(progress_, MessageIcon::Stop, tr("VELTRIS ERROR"), tr("Could not open Service Control Manager"));
    else
      starting_ = QtConcurrent::run([manager] { return manager->startService(kServiceName); });
    startRequested_ = connected;
    mark(ProgressDialog::StartNew, 2000, [this] { steps_.runAfter(10000, [this] { closeWhenStarted(); }); });
  });
}

void AgentInstall::closeWhenStarted() {
  auto close = [this] {
    progress_->hide();  // its close is refused: only the installer ends it
    progress_->deleteLater();
    done_();
  };
  if (!startRequested_) return close();
  steps_.whenDone(starting_, [close](long) { close(); });
}

}  // namespace veltris::setup
