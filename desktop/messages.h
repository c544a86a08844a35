#pragma once
// Every message box of the console goes through showMessage, so tests can
// record the texts instead of opening modal boxes.
#include <QString>
#include <functional>

class QWidget;

namespace veltris::desktop {

// Caption of the console's message boxes when a text names none.
inline const QString kMessageTitle = QStringLiteral("VELTRIS");

using MessageHandler = std::function<void(QWidget* parent, const QString& text, const QString& title)>;

// Shows `text` in a plain modal message box (or hands it to the installed handler).
void showMessage(QWidget* parent, const QString& text, const QString& title = kMessageTitle);
// Replaces the message box; an empty handler restores it. Returns the previous one.
MessageHandler setMessageHandler(MessageHandler handler);

// " 42" for numbers that are not negative, "-42" otherwise: how numbers enter
// messages and requests.
QString signedText(long long value);

}  // namespace veltris::desktop
