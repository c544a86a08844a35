#pragma once
// A file group copied (or moved) on a worker as one step of the flow: a simple
// progress window follows the worker through queued signals, and a failure
// asks "Failed to copy files" with Retry (the step again) or Cancel (exit).
#include <QString>

#include "setup/file_lists.h"
#include "setup/step_runner.h"

class QWidget;

namespace veltris::setup {

struct TransferJob {
  FileList list;
  QString from, to;
  Transfer how = Transfer::Copy;
  QString progressTitle;  // names the simple progress window; empty: none
};

// Starts `job`; `next` runs on the UI thread once the files are in place.
// `owner` owns the progress window and the message box and outlives the step.
void transferWithRetry(StepRunner& steps, QWidget* owner, const TransferJob& job, StepRunner::Step next);

}  // namespace veltris::setup
