#pragma once
// A temporary world for SETUP: a system root, a distribution folder, a
// temporary folder, and recording stand-ins for systemctl and setcap on PATH
// (setcap to show that SETUP never calls it).
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>
#include <vector>

#include "desktop/testing/scripted_prompter.h"
#include "platform/service/service_manager.h"
#include "setup/setup_environment.h"

namespace veltris::setup::testing {

using desktop::Answer;
using desktop::test::ScriptedPrompter;

class SetupWorld {
 public:
  SetupWorld();
  ~SetupWorld();
  SetupWorld(const SetupWorld&) = delete;
  SetupWorld& operator=(const SetupWorld&) = delete;

  // The distribution folder as make-release makes it; `leaveOut` names a file not to put there.
  void makeDistribution(const QString& leaveOut = QString(), const std::string& agentText = "agent-1");
  // One SETUP run that ticks these components and types password_ and folder_.
  int runSetup(bool agent, bool advanced);
  // One SETUP run with the dialogs' hooks as they are: its exit status (-1: it never ended).
  int run();

  std::string calls(const char* tool) const;  // the recorded command lines, one per line
  std::string read(const std::filesystem::path& p) const;
  std::filesystem::path installed(const std::string& relative) const;  // below root + prefix
  void setServiceState(const char* state);

  std::filesystem::path dir_, root_, dist_, temp_, bin_;
  ScriptedPrompter prompter_;  // answers every box SETUP shows
  service::SystemdManager manager_;
  SetupEnvironment env_;
  QString password_ = "Secret-Key-20-chars!", folder_;
  std::vector<int> markedSteps_;
  QStringList started_;  // programs started without waiting
  int componentRuns_ = 0;
  std::string oldPath_;
};

}  // namespace veltris::setup::testing
