#pragma once
// A whole reply for people (the header line, then a table per run of records
// of one kind) or for scripts (one JSON document per reply).
#include <cstdint>
#include <ostream>
#include <string>

#include "tools/veltris_cli/reply.h"

namespace veltris::cli {

// Json: one indented document per reply. JsonLines: one compact document per
// line (NDJSON), for repeated requests.
enum class OutputFormat { Table, Json, JsonLines };

// `receivedAt`: when the reply arrived, seconds since 1970 by this PC's clock;
// JSON output carries it beside the agent's own date and time text.
void printReply(const std::string& request, const Reply& reply, OutputFormat format, std::ostream& out,
                int64_t receivedAt = -1);

// The taskbar's status text for a traffic state code.
std::string trafficStateText(uint32_t code);

}  // namespace veltris::cli
