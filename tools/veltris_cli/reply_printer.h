#pragma once
// A whole reply for people (the header line, then a table per run of records
// of one kind) or for scripts (one JSON document per reply).
#include <cstdint>
#include <ostream>
#include <string>

#include "tools/veltris_cli/reply.h"

namespace veltris::cli {

enum class OutputFormat { Table, Json };

void printReply(const std::string& request, const Reply& reply, OutputFormat format, std::ostream& out);

// The taskbar's status text for a traffic state code.
std::string trafficStateText(uint32_t code);

}  // namespace veltris::cli
