#pragma once
// The agent's access settings under the parameters key: the key a console
// must present ("OpenKey") and whether partners get IP names ("AutoIpName").
#include "agent/core/state.h"
#include "platform/registry/registry.h"

namespace veltris::agent {

// Reads "OpenKey" and "AutoIpName" into the GLOBAL area (start-up and "OPEN ").
// Without a key the agent makes one up that nobody can guess.
void readAccessParameters(GlobalArea& global);

// "ERROR - registry file '<file>': <reason>" on the agent's console.
void reportRegistryError(reg::Registry& registry);

}  // namespace veltris::agent
