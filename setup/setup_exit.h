#pragma once
// How SETUP ends early: a message box through the desktop's prompter, then the
// exit status travels up to Installer::run as an exception.
#include <QCoreApplication>
#include <QString>

class QWidget;

namespace veltris::setup {

// "exit" in the install flow: SETUP ends at once with this status.
struct SetupExit {
  int status;
};

// The translation context of SETUP's texts outside its dialogs.
class SetupText {
  Q_DECLARE_TR_FUNCTIONS(SetupText)
};

// The message box "VELTRIS Setup Error" with a stop icon, then exit.
[[noreturn]] void failAndExit(QWidget* owner, const QString& text);

}  // namespace veltris::setup
