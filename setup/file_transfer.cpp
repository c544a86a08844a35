#include "setup/file_transfer.h"

#include <QPointer>
#include <QProgressDialog>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdio>

#include "desktop/messages.h"

namespace veltris::setup {
namespace {

// The worker's answer: empty when every file is in place, else the reason.
QString transfer(QPromise<QString>& promise, const TransferJob& job) {
  QString failure;
  const bool done = transferFiles(job.list, job.from, job.to, job.how, failure, [&](int count, int total) {
    if (count == 0) promise.setProgressRange(0, total);
    promise.setProgressValue(count);
  });
  return done ? QString() : failure;
}

QProgressDialog* progressWindow(QWidget* owner, const QString& title) {
  auto* window = new QProgressDialog(title, QString(), 0, 0, owner);
  window->setWindowTitle(title);
  window->setWindowModality(Qt::NonModal);  // its owner is modal already
  window->setMinimumDuration(0);
  window->setMinimumWidth(320);  // room for the whole title in the frame
  window->setAutoClose(false);
  window->setAutoReset(false);
  window->show();
  return window;
}

}  // namespace

void transferWithRetry(StepRunner& steps, QWidget* owner, const TransferJob& job, StepRunner::Step next) {
  QPointer<QProgressDialog> window;
  if (!job.progressTitle.isEmpty()) window = progressWindow(owner, job.progressTitle);
  auto finished = [&steps, owner, job, next, window](const QString& failure) {
    delete window.data();
    if (failure.isEmpty()) return next();
    std::fprintf(stderr, "SETUP: %s\n", qPrintable(failure));
    if (desktop::ask(owner, desktop::MessageIcon::Stop, SetupText::tr("VELTRIS Setup Error"),
                     SetupText::tr("Failed to copy files"), desktop::MessageButtons::RetryCancel) != desktop::Answer::Retry)
      throw SetupExit{1};
    transferWithRetry(steps, owner, job, next);
  };
  auto* watcher = steps.whenDone(QtConcurrent::run([job](QPromise<QString>& promise) {
    promise.addResult(transfer(promise, job));
  }), std::move(finished));
  if (window) {
    QObject::connect(watcher, &QFutureWatcherBase::progressRangeChanged, window, &QProgressDialog::setRange);
    QObject::connect(watcher, &QFutureWatcherBase::progressValueChanged, window, &QProgressDialog::setValue);
  }
}

}  // namespace veltris::setup
