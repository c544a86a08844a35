#pragma once
// A plain text table for people: a header row, a rule, then the rows, with
// each column as wide as its widest cell and two blanks between columns.
#include <ostream>
#include <string>
#include <vector>

namespace veltris::cli {

enum class Align { Left, Right };

struct Column {
  std::string title;
  Align align = Align::Left;
};

class TextTable {
 public:
  explicit TextTable(std::vector<Column> columns);

  // Cells are record texts (Latin-1); missing cells print empty, extra ones are dropped.
  void addRow(const std::vector<std::string>& cells);
  size_t rowCount() const { return rows_.size(); }
  void print(std::ostream& out) const;

 private:
  void printLine(std::ostream& out, const std::vector<std::string>& cells) const;

  std::vector<Column> columns_;
  std::vector<size_t> widths_;
  std::vector<std::vector<std::string>> rows_;  // display texts (UTF-8)
};

}  // namespace veltris::cli
