#pragma once
// The role labels refresh: runs the configuration report (which refreshes the
// address lists and the IP summary), then marks every IP partner as "Self",
// "GW", "DNS", "WINS" or nothing and fills in missing names from the DNS cache.
#include <memory>

#include "agent/core/runtime.h"
#include "platform/netconfig/config_source.h"

namespace veltris::agent {

// Called once at start-up: sets rt.refreshRoleLabels to the refresh, reading
// the live configuration of this machine (under the system root).
void installDiagnostics(AgentRuntime& rt);
// The same with another configuration source (tests, demonstrations).
void installDiagnostics(AgentRuntime& rt, std::shared_ptr<netconfig::ConfigSource> source);

// The source the reports of `rt` read: the installed one, else the live one.
netconfig::ConfigSource& configSource(AgentRuntime& rt);

// The whole refresh: report into a 4000-character scratch area, then relabel.
void runRoleLabelsRefresh(AgentRuntime& rt);

// The relabelling alone, from the address lists as they stand. Each changed
// entry gets the current packet sequence number as its change stamp.
void relabelPartners(GlobalArea& global);

}  // namespace veltris::agent
