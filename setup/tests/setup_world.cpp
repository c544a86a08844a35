#include "setup/tests/setup_world.h"

#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "setup/dialogs.h"
#include "setup/installer.h"
#include "setup/settings_dialog.h"

namespace veltris::setup::testing {

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& p, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
  fs::permissions(p, perms);
}

// A tool stand-in: logs its arguments; systemctl keeps the unit's state in a file.
std::string recorder(const fs::path& dir, const char* tool) {
  std::ostringstream s;
  s << "#!/bin/sh\necho \"$*\" >> '" << (dir / tool).string() << ".calls'\n";
  if (std::string(tool) == "systemctl") {
    const std::string state = (dir / "state").string();
    s << "case \"$1\" in\n"
      << "  show) echo LoadState=loaded; echo \"ActiveState=$(cat '" << state << "' 2>/dev/null || echo inactive)\";;\n"
      << "  start) echo active > '" << state << "';;\n"
      // SETUP_TEST_HOLD: a stop waits (at most 10 s) until that file exists, and says whether it came.
      << "  stop) if [ -n \"$SETUP_TEST_HOLD\" ]; then : > \"$SETUP_TEST_HOLD.held\"; i=0\n"
      << "          while [ ! -e \"$SETUP_TEST_HOLD\" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
      << "          if [ -e \"$SETUP_TEST_HOLD\" ]; then echo released; else echo timeout; fi > \"$SETUP_TEST_HOLD.result\"\n"
      << "        fi; echo inactive > '" << state << "';;\n"
      << "esac\n";
  }
  s << "exit 0\n";
  return s.str();
}

}  // namespace

SetupWorld::SetupWorld() {
  char pattern[] = "/tmp/veltris-setup-XXXXXX";
  dir_ = ::mkdtemp(pattern);
  root_ = dir_ / "root";
  dist_ = dir_ / "dist";
  temp_ = dir_ / "tmp";
  bin_ = dir_ / "bin";
  for (const fs::path& p : {root_ / "var/lib/veltris", temp_, bin_}) fs::create_directories(p);
  for (const char* tool : {"systemctl", "setcap"}) writeFile(bin_ / tool, recorder(dir_, tool), fs::perms::owner_all);
  oldPath_ = std::getenv("PATH");
  ::setenv("PATH", (bin_.string() + ":" + oldPath_).c_str(), 1);
  ::setenv("VELTRIS_ROOT", root_.c_str(), 1);
  ::setenv("TMPDIR", temp_.c_str(), 1);
  folder_ = QString::fromStdString((root_ / "var/lib/veltris/VELTRIS History").string() + "/");

  env_.programFolder = QString::fromStdString(dist_.string());
  env_.manager = &manager_;
  env_.pace = 0;
  env_.startDetached = [this](const QString& program, const QStringList& arguments, const QString&) {
    started_ << (program + " " + arguments.join(' ')).trimmed();
    return true;
  };
  env_.mayInstall = [](const QString&) { return true; };
  env_.hasSystemd = [] { return true; };
}

SetupWorld::~SetupWorld() {
  ::setenv("PATH", oldPath_.c_str(), 1);
  ::unsetenv("VELTRIS_ROOT");
  ::unsetenv("TMPDIR");
  fs::remove_all(dir_);
}

void SetupWorld::makeDistribution(const QString& leaveOut, const std::string& agentText) {
  const std::map<std::string, std::string> files = {
      {"TapsorSv", "#!/bin/sh\necho " + agentText + "\n"},
      {"TapsorCC", "#!/bin/sh\nexec \"$@\"\n"},
      {"veltris-tray", "#!/bin/sh\necho tray\n"},
      {"veltris-settings-helper", "#!/bin/sh\necho helper\n"},
      {"veltris-tray.desktop", "[Desktop Entry]\nExec=veltris-tray\n"},
      {"org.quorvik.veltris.settings.policy", "<policyconfig/>\n"},
      {"help/index.html", "<html><body>VELTRIS help</body></html>\n"},
      {"README.TXT", "VELTRIS\n"},
      {"SetupCL", "#!/bin/sh\nexit 0\n"},
      {"SetupCL.LST", "usr/local/bin/VELTRIS\n"},
      {"VELTRS1.tar.gz", "archive"},
  };
  for (const auto& [name, text] : files)
    if (QString::fromStdString(name) != leaveOut) writeFile(dist_ / name, text, fs::perms::owner_all);
}

int SetupWorld::runSetup(bool agent, bool advanced) {
  env_.showComponents = [this, agent, advanced](ComponentsDialog& dialog) {
    ++componentRuns_;
    if (agent) dialog.agentBox()->click();
    if (advanced) dialog.advancedBox()->click();
    QCOMPARE(dialog.continueButton()->isEnabled(), agent || advanced);
    dialog.continueClicked();
    if (dialog.result() != QDialog::Accepted) dialog.reject();  // then Exit
  };
  env_.showSettings = [this](InstallSettingsDialog& dialog) {
    dialog.passwordBox()->setText(password_);
    dialog.confirmBox()->setText(password_.toLower());
    dialog.directoryBox()->setText(folder_);
    dialog.ok();
    if (dialog.result() != QDialog::Accepted && !dialog.exitRequested()) dialog.done(QDialog::Rejected);
  };
  return run();
}

int SetupWorld::run() {
  markedSteps_.clear();
  Installer installer(env_);
  QObject::connect(&installer, &Installer::stepMarked, [this](int step) { markedSteps_.push_back(step); });
  QSignalSpy finished(&installer, &Installer::finished);
  installer.start();
  if (!finished.isEmpty()) return -2;  // the flow starts from the event loop, never inside start()
  if (!finished.wait(60000)) return -1;
  return finished.at(0).at(0).toInt();
}

std::string SetupWorld::calls(const char* tool) const { return read(dir_ / (std::string(tool) + ".calls")); }

std::string SetupWorld::read(const fs::path& p) const {
  std::ifstream in(p);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path SetupWorld::installed(const std::string& relative) const {
  return root_ / (std::string(VELTRIS_SETUP_PREFIX).substr(1) + "/" + relative);
}

void SetupWorld::setServiceState(const char* state) { std::ofstream(dir_ / "state") << state << "\n"; }

}  // namespace veltris::setup::testing
