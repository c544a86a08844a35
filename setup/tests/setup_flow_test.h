#pragma once
// SETUP end to end, offscreen, against a temporary root with recording
// systemctl and setcap: the install flows the installer must get right.
#include <QObject>
#include <memory>

#include "setup/tests/setup_world.h"

namespace veltris::setup::testing {

class SetupFlowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void firstInstallPutsTheAgentInPlaceAndStartsIt();
  void installedAgentRunsFromTheRoot();
  void secondInstallReplacesFilesRestartsTheAgentAndLeavesTheDriver();
  void serviceStepsRunOffTheWindowThread();
  void historyFolderOutsideTheStateDirectoryIsOpenedToTheService();
  void theAgentComponentInstallsTheTaskbarIcon();
  void defaultFolderIsMadeWithItsParentsInAFreshRoot();
  void oldDriverVersionIsRemovedAndInstalledAgain();
  void missingFileStopsBeforeItsGroupIsCopied_data();
  void missingFileStopsBeforeItsGroupIsCopied();
  void boxesGoThroughTheDesktopPrompter_data();
  void boxesGoThroughTheDesktopPrompter();
  void startedFromTheTemporaryFolderCopiesInsteadOfMoving();
  void advancedToolsAndTheirContinuation();
  void withoutSystemdOnlyTheAdvancedToolsCanBeChosen();
  void withoutAuthorityItOffersToRestartThroughPkexec();

 private:
  std::unique_ptr<SetupWorld> world_;
};

}  // namespace veltris::setup::testing
