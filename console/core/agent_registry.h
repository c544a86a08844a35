#pragma once
// The agent's values in this PC's registry that the console reads. A missing
// key or value, or a registry the user may not read, reads as empty.
#include <QString>

namespace veltris::console {

QString agentOpenKey();      // the access key of the agent on this PC
QString agentDataPath();     // folder of history and snapshot files
bool agentInstalledHere();   // the driver's "Title" is set

}  // namespace veltris::console
