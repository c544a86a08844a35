#pragma once
// The Test tab's check of a typed command before it is sent as "CMD " + text.
#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace veltris::console {

struct CommandCheck {
  bool accepted = false;
  QString command;  // what follows "CMD ": the text as typed, trimmed
  QString refusal;  // the message when refused

  Q_DECLARE_TR_FUNCTIONS(veltris::console::CommandCheck)
};

CommandCheck checkCommand(const QString& text);

// The prefixes a command may start with (upper case, each ending in a blank).
const QStringList& allowedCommandPrefixes();
// The entries of the command list, in order.
const QStringList& commandListEntries();

}  // namespace veltris::console
