#include "desktop/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <memory>

namespace veltris::desktop {
namespace {

MessageBoxPrompter& messageBoxes() {
  static MessageBoxPrompter boxes;
  return boxes;
}

Prompter*& installed() {
  static Prompter* current = nullptr;
  return current;
}

Answer recorderAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel: return Answer::Yes;
    case MessageButtons::RetryCancel: return Answer::Cancel;  // never a retry loop
    case MessageButtons::Ok: break;
  }
  return Answer::Ok;
}

class HandlerPrompter final : public Prompter {
 public:
  explicit HandlerPrompter(MessageHandler handler) : handler_(std::move(handler)) {}
  Answer ask(const Message& m) override {
    handler_(m.parent, m.text, m.title);
    return recorderAnswer(m.buttons);
  }

 private:
  MessageHandler handler_;
};

std::unique_ptr<HandlerPrompter>& handlerPrompter() {
  static std::unique_ptr<HandlerPrompter> p;
  return p;
}

}  // namespace

Answer MessageBoxPrompter::ask(const Message& m) {
  QMessageBox box(m.parent);
  box.setWindowTitle(m.title);
  box.setText(QString(m.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  switch (m.icon) {
    case MessageIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::None: break;
  }
  switch (m.buttons) {
    case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MessageButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    case MessageButtons::RetryCancel: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Retry: return Answer::Retry;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: break;
  }
  // The close box answers as Escape would: the box's way out.
  return m.buttons == MessageButtons::Ok ? Answer::Ok
         : m.buttons == MessageButtons::YesNo ? Answer::No
                                              : Answer::Cancel;
}

void MessageBoxPrompter::beep() { QApplication::beep(); }

Prompter* setPrompter(Prompter* p) {
  Prompter* previous = installed();
  installed() = p;
  return previous;
}

Prompter& prompter() { return installed() ? *installed() : messageBoxes(); }

Answer ask(QWidget* parent, MessageIcon icon, const QString& title, const QString& text, MessageButtons buttons) {
  return prompter().ask(Message{parent, icon, title, text, buttons});
}

void showMessage(QWidget* parent, const QString& text, const QString& title) {
  ask(parent, MessageIcon::None, title, text, MessageButtons::Ok);
}

void beep() { prompter().beep(); }

void setMessageHandler(MessageHandler handler) {
  if (!handler) {
    if (handlerPrompter() && installed() == handlerPrompter().get()) installed() = nullptr;
    handlerPrompter().reset();
    return;
  }
  handlerPrompter() = std::make_unique<HandlerPrompter>(std::move(handler));
  installed() = handlerPrompter().get();
}

QString signedText(long long value) {
  return value < 0 ? QString::number(value) : QStringLiteral(" ") + QString::number(value);
}

}  // namespace veltris::desktop
