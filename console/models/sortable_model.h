#pragma once
// A table model whose rows are sorted in place: selections and other
// persistent indexes stay on the rows they named.
#include <QAbstractTableModel>

#include <algorithm>
#include <numeric>
#include <vector>

namespace veltris::console {

class SortableTableModel : public QAbstractTableModel {
 protected:
  using QAbstractTableModel::QAbstractTableModel;

  // Stable-sorts `rows` by `less`, which compares two row numbers of the
  // current order. `moved` runs once the rows stand in their new order,
  // before the views hear of it.
  template <class Row, class Less, class Moved>
  void sortRows(std::vector<Row>& rows, Less less, Moved moved) {
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), less);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(rows.size());
    for (size_t i = 0; i < order.size(); ++i) newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex& idx : before) after.append(index(newRowOf[static_cast<size_t>(idx.row())], idx.column()));
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (int i : order) sorted.push_back(std::move(rows[static_cast<size_t>(i)]));
    rows = std::move(sorted);
    moved();
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  }
};

}  // namespace veltris::console
