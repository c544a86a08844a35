#pragma once
// The console works in the names of the desktop layer: its session, access,
// messages and agent facts.
#include "desktop/agent_access.h"
#include "desktop/agent_facts.h"
#include "desktop/agent_session.h"
#include "desktop/messages.h"
#include "desktop/traffic_state.h"

namespace veltris::console {
using namespace veltris::desktop;
}  // namespace veltris::console
