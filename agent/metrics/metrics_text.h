#pragma once
// The agent's counters in the Prometheus text exposition format (version 0.0.4).
#include <string>

#include "agent/core/state.h"

namespace veltris::agent {

// Builds the whole page. Takes each adapter's table lock only to read the
// table fill; everything else is read from atomics.
std::string metricsText(const GlobalArea& global);

// A label value with backslash, double quote and line feed escaped.
std::string escapeLabelValue(std::string_view value);

}  // namespace veltris::agent
