#pragma once
// The file groups: the check names the first missing file; a transfer
// replaces files by rename, so a program that runs keeps its old file; a
// transfer as a step runs on a worker that feeds its progress window, and a
// failure's Retry starts it again.
#include <QObject>
#include <filesystem>

namespace veltris::setup::testing {

class FileListsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void checkNamesTheFirstMissingFileInListOrder_data();
  void checkNamesTheFirstMissingFileInListOrder();
  void moveReplacesByRenameAndCopyKeepsTheSource();
  void failureSaysWhatCouldNotBeWritten();
  void transferFeedsItsProgressWindow();
  void failedTransferAsksRetryOrCancel_data();
  void failedTransferAsksRetryOrCancel();

 private:
  QString at(const char* sub) const;
  std::filesystem::path dir_;
};

}  // namespace veltris::setup::testing
