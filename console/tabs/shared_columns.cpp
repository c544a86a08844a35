#include "console/tabs/shared_columns.h"

#include <QTableView>

namespace veltris::console {

void SharedColumns::gridShown(QTableView* grid) {
  if (shown_ != nullptr) {
    for (int c = kFirst; c <= kLast; ++c) {
      const int w = shown_->columnWidth(c);
      if (w <= 0) continue;
      for (QTableView* other : grids_)
        if (other != shown_) other->setColumnWidth(c, w);
    }
  }
  shown_ = grid;
}

int SharedColumns::width(int column) const {
  const QTableView* source = shown_ != nullptr ? shown_ : grids_.front();
  return source->columnWidth(column);
}

void SharedColumns::setWidth(int column, int width) {
  for (QTableView* grid : grids_) grid->setColumnWidth(column, width);
}

}  // namespace veltris::console
