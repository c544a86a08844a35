#pragma once
// A temporary world for SETUP: a system root, a distribution folder, a
// temporary folder, and recording stand-ins for systemctl and setcap on PATH
// (setcap to show that SETUP never calls it).
#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/service/service_manager.h"
#include "setup/installer.h"
#include "desktop/testing/scripted_prompter.h"

namespace veltris::setup::testing {

using desktop::Answer;
using desktop::test::ScriptedPrompter;

class SetupWorld : public ::testing::Test {
 protected:
  SetupWorld();
  ~SetupWorld() override;

  // The distribution folder as make-release makes it; `leaveOut` names a file not to put there.
  void makeDistribution(const QString& leaveOut = QString(), const std::string& agentText = "agent-1");
  // One SETUP run: the components to tick, the password and folder to type.
  int runSetup(bool agent, bool advanced);

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
