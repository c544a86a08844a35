#pragma once
// The install-time settings dialog: its checks in order, the folder question,
// and what reaches the registry.
#include <QObject>
#include <memory>

#include "setup/tests/setup_world.h"

namespace veltris::setup::testing {

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void checksInOrderAndFocus_data();
  void checksInOrderAndFocus();
  void opensWithTheDefaultFolderOnAnEmptyRegistry();
  void folderQuestionAndCreation_data();
  void folderQuestionAndCreation();
  void acceptedSettingsAreStoredAsTyped();
  void unwritableRegistryEndsSetup();

 private:
  std::unique_ptr<SetupWorld> world_;
};

}  // namespace veltris::setup::testing
