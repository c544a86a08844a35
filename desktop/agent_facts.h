#pragma once
// The local agent's facts as this PC holds them. A missing key or value, or a
// registry the user may not read, reads as empty.
#include <QString>

namespace veltris::desktop {

QString agentOpenKey();      // the access key of the agent on this PC
QString agentDataPath();     // folder of history and snapshot files
// The agent is installed here: its unit (packaged or written by -install), its
// program, SETUP's "Title", or a running agent's local sockets.
bool agentInstalledHere();
// False when this user may not read the registry file: the key must be asked for.
bool agentKeyReadable();

}  // namespace veltris::desktop
