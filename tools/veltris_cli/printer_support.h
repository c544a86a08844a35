#pragma once
// Small helpers shared by the record printers.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/veltris_cli/text_table.h"

namespace veltris::cli {

inline std::string numberText(uint64_t value) { return std::to_string(value); }

// The columns that partner, detail and broadcast tables begin with.
inline std::vector<Column> partnerColumns() {
  return {{"NIC", Align::Right}, {"Adapter"}, {"Protocol"}, {"Config"}, {"Name"}, {"Time"}};
}

inline std::vector<Column> partnerColumnsAnd(const std::vector<Column>& more) {
  std::vector<Column> columns = partnerColumns();
  columns.insert(columns.end(), more.begin(), more.end());
  return columns;
}

}  // namespace veltris::cli
