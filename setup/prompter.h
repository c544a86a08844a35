#pragma once
// Every message box SETUP shows goes through a Prompter, so the install flow
// can be driven by a script in tests and by QMessageBox on the desktop.
#include <QString>

class QWidget;

namespace veltris::setup {

enum class Icon { None, Stop, Exclamation, Question, Information };
enum class Buttons { Ok, YesNo, RetryCancel };
enum class Answer { Ok, Yes, No, Retry, Cancel };

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual Answer show(QWidget* owner, Icon icon, const QString& caption, const QString& text, Buttons buttons) = 0;
  virtual void beep() {}
};

// The desktop's message boxes.
class MessageBoxPrompter final : public Prompter {
 public:
  Answer show(QWidget* owner, Icon icon, const QString& caption, const QString& text, Buttons buttons) override;
  void beep() override;
};

// "exit" in the install flow: SETUP ends at once with this status.
struct SetupExit {
  int status;
};

// The message box "VELTRIS Setup Error" with a stop icon, then exit.
[[noreturn]] void failAndExit(Prompter& prompter, QWidget* owner, const QString& text);

}  // namespace veltris::setup
