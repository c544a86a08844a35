#pragma once
// The one way the desktop programs show message boxes. Everything goes through
// the installed Prompter, so tests answer the boxes instead of the user.
#include <QString>
#include <functional>

class QWidget;

namespace veltris::desktop {

// Caption of the console's message boxes when a text names none.
inline const QString kMessageTitle = QStringLiteral("VELTRIS");

enum class MessageIcon { None, Stop, Exclamation, Question, Information };
enum class MessageButtons { Ok, YesNo, YesNoCancel, RetryCancel };
enum class Answer { Ok, Yes, No, Retry, Cancel };

struct Message {
  QWidget* parent = nullptr;
  MessageIcon icon = MessageIcon::None;
  QString title;
  QString text;  // "\r\n" line ends are shown as plain line breaks
  MessageButtons buttons = MessageButtons::Ok;
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual Answer ask(const Message& message) = 0;
  virtual void beep() {}
};

// QMessageBox and the desktop's beep: the prompter unless another is installed.
class MessageBoxPrompter final : public Prompter {
 public:
  Answer ask(const Message& message) override;
  void beep() override;
};

// Installs `prompter` (not owned; nullptr restores the message boxes). Returns the previous one.
Prompter* setPrompter(Prompter* prompter);
Prompter& prompter();

// A box with `buttons` through the installed prompter; its answer.
Answer ask(QWidget* parent, MessageIcon icon, const QString& title, const QString& text,
           MessageButtons buttons = MessageButtons::Ok);
// A plain box with OK.
void showMessage(QWidget* parent, const QString& text, const QString& title = kMessageTitle);
void beep();

// A recorder for tests that only read texts: boxes answer Ok, Yes, or Cancel
// for Retry/Cancel. An empty handler restores the message boxes.
using MessageHandler = std::function<void(QWidget* parent, const QString& text, const QString& title)>;
void setMessageHandler(MessageHandler handler);

// " 42" for numbers that are not negative, "-42" otherwise: how numbers enter
// messages and requests.
QString signedText(long long value);

}  // namespace veltris::desktop
