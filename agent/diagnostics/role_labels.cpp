#include "agent/diagnostics/role_labels.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "agent/core/names.h"
#include "agent/diagnostics/config_report.h"
#include "common/text_field.h"
#include "platform/system_root.h"

namespace veltris::agent {
namespace {

void relabelAdapter(NicArea& nic, uint32_t stamp) {
  std::lock_guard lock(nic.tableMutex);
  for (int p = 0; p < nic.partnerCount && p < kMaxPartners; ++p) {
    PartnerRecord& entry = nic.partners[p].record;
    if (entry.ipv4[0] == 0) continue;
    const char* role = roleText(nic.addresses, entry.ipv4);
    if (std::strncmp(entry.roleLabel, role, sizeof entry.roleLabel) != 0) {
      copyText(entry.roleLabel, sizeof entry.roleLabel, role);
      entry.changeStamp = stamp;
    }
    if (entry.hostName[0] == '\0') {
      lookupDnsName(nic, entry.ipv4, entry.hostName, sizeof entry.hostName);
      if (entry.hostName[0] != '\0') entry.changeStamp = stamp;
    }
  }
}

}  // namespace

// The live configuration is the running system's, whatever VELTRIS_ROOT says.
void installDiagnostics(AgentRuntime& rt) {
  installDiagnostics(rt, netconfig::makeLiveSource("/"));
}

void installDiagnostics(AgentRuntime& rt, std::shared_ptr<netconfig::ConfigSource> source) {
  rt.configSource = std::move(source);
  rt.refreshRoleLabels = [&rt] { runRoleLabelsRefresh(rt); };
}

netconfig::ConfigSource& configSource(AgentRuntime& rt) {
  if (rt.configSource) return *rt.configSource;
  static const std::unique_ptr<netconfig::ConfigSource> live = netconfig::makeLiveSource("/");
  return *live;
}

void runRoleLabelsRefresh(AgentRuntime& rt) {
  std::vector<char> scratch(kReportMinimumCapacity);
  writeConfigReport(rt, scratch.data(), scratch.size());
  relabelPartners(rt.global);
}

void relabelPartners(GlobalArea& global) {
  const uint32_t stamp = global.totals.sequence.load(std::memory_order_relaxed);
  for (int i = 0; i < global.adapterCount && i < kMaxAdapters; ++i) {
    if (global.nics[i]) relabelAdapter(*global.nics[i], stamp);
  }
}

}  // namespace veltris::agent
