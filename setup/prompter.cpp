#include "setup/prompter.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace veltris::setup {

Answer MessageBoxPrompter::show(QWidget* owner, Icon icon, const QString& caption, const QString& text, Buttons buttons) {
  QMessageBox box(owner);
  box.setWindowTitle(caption);
  box.setText(QString(text).replace("\r\n", "\n"));
  switch (icon) {
    case Icon::Stop: box.setIcon(QMessageBox::Critical); break;
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::None: break;
  }
  switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case Buttons::RetryCancel: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Retry: return Answer::Retry;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: return Answer::Ok;
  }
}

void MessageBoxPrompter::beep() { QApplication::beep(); }

void failAndExit(Prompter& prompter, QWidget* owner, const QString& text) {
  std::fprintf(stderr, "SETUP: %s\n", qPrintable(QString(text).replace("\r\n", " ")));
  prompter.show(owner, Icon::Stop, "VELTRIS Setup Error", text, Buttons::Ok);
  throw SetupExit{1};
}

}  // namespace veltris::setup
