#pragma once
// The local agent's facts as this PC's registry holds them. A missing
// key or value, or a registry the user may not read, reads as empty.
#include <QString>

namespace veltris::desktop {

QString agentOpenKey();      // the access key of the agent on this PC
QString agentDataPath();     // folder of history and snapshot files
bool agentInstalledHere();   // its unit, its program or SETUP's driver keys are here

}  // namespace veltris::desktop
