#pragma once
// The help window: contents, index and search beside the page. One window per
// process; every call raises it at the topic asked for.
class QWidget;

namespace veltris::help {

void showTopic(int context, QWidget* parent = nullptr);
// False when the book cannot be read (the caller shows its own message).
bool showContents(QWidget* parent = nullptr);
bool showIndex(QWidget* parent = nullptr);

// F1 in `window` opens the topic of the focused widget: the nearest widget
// (the focused one or a parent) whose help context is set.
void setHelpContext(QWidget* widget, int context);
int helpContextOf(const QWidget* widget);
void installHelpKey(QWidget* window);

}  // namespace veltris::help
