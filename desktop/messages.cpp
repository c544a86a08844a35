#include "desktop/messages.h"

#include <QMessageBox>

namespace veltris::desktop {
namespace {
MessageHandler& handler() {
  static MessageHandler h;
  return h;
}
}  // namespace

void showMessage(QWidget* parent, const QString& text, const QString& title) {
  if (handler()) {
    handler()(parent, text, title);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
  box.exec();
}

MessageHandler setMessageHandler(MessageHandler h) {
  MessageHandler previous = std::move(handler());
  handler() = std::move(h);
  return previous;
}

QString signedText(long long value) {
  return value < 0 ? QString::number(value) : QStringLiteral(" ") + QString::number(value);
}

}  // namespace veltris::desktop
