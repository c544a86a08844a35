#pragma once
// The console as the tray sees it: is it installed, start it, and the
// "console window search" over the console's single-instance channel.
#include <QString>
#include <functional>

class QObject;

namespace veltris::tray {

// The console program "VELTRIS" next to this program, else on the PATH; empty when neither.
QString locateConsole();
// Starts the console detached; false when it could not be started.
bool startConsole(const QString& program);
// Whether a console runs, and what it answers comes later: `found` runs once,
// never at once, and not at all once `context` is gone.
using ConsoleFound = std::function<void(bool found)>;
// Asks a running console over its channel. With `raise` it sends the raise
// request and needs the answer; without, a console that accepts the
// connection has announced itself. Not found when no console listens or it
// does not answer within a second and a half.
void searchConsole(bool raise, QObject* context, ConsoleFound found);
// Hands a new access key of this PC's agent to a running console, without
// waiting for it: false when no console's channel is there to take it.
bool handKeyToConsole(const QString& key);

}  // namespace veltris::tray
