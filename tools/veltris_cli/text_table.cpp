#include "tools/veltris_cli/text_table.h"

#include <algorithm>

#include "tools/veltris_cli/text_fields.h"

namespace veltris::cli {

TextTable::TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {
  for (const Column& column : columns_) widths_.push_back(displayWidth(column.title));
}

void TextTable::addRow(const std::vector<std::string>& cells) {
  std::vector<std::string> row(columns_.size());
  for (size_t i = 0; i < row.size() && i < cells.size(); ++i) {
    row[i] = displayText(cells[i]);
    widths_[i] = std::max(widths_[i], displayWidth(row[i]));
  }
  rows_.push_back(std::move(row));
}

void TextTable::print(std::ostream& out) const {
  std::vector<std::string> titles;
  std::vector<std::string> rules;
  for (size_t i = 0; i < columns_.size(); ++i) {
    titles.push_back(columns_[i].title);
    rules.push_back(std::string(widths_[i], '-'));
  }
  printLine(out, titles);
  printLine(out, rules);
  for (const auto& row : rows_) printLine(out, row);
}

void TextTable::printLine(std::ostream& out, const std::vector<std::string>& cells) const {
  std::string line;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string& cell = cells[i];
    std::string padding(widths_[i] - displayWidth(cell), ' ');
    if (i > 0) line += "  ";
    if (columns_[i].align == Align::Right)
      line += padding + cell;
    else
      line += cell + padding;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out << line << '\n';
}

}  // namespace veltris::cli
