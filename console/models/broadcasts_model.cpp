#include "console/models/broadcasts_model.h"

#include <algorithm>
#include <numeric>

#include "console/models/grid_text.h"

namespace veltris::console {
namespace {

// Counts other than 0 and 1 carry the blank that the number's text leads with.
QString countText(quint32 n) { return QLatin1Char(' ') + QString::number(n); }

}  // namespace

BroadcastsModel::BroadcastsModel(QObject* parent) : SortableTableModel(parent) {}

int BroadcastsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}
int BroadcastsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QString BroadcastsModel::cellText(const Row& row, int column) const {
  if (column < kLeadingColumns) return leadingCellText(row, column);
  switch (column) {
    case kLast15Column: return counterText(row.last15);
    case kLast1Column: return counterText(row.last1);
    case kDescriptionColumn: return row.description;
    case kDestinationColumn: return row.destination;
    default: return {};
  }
}

QVariant BroadcastsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole) return cellText(row, index.column());
  if (role == Qt::TextAlignmentRole)
    return index.column() == kLast15Column || index.column() == kLast1Column
               ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant BroadcastsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole)
    return section == 0 ? QVariant(Qt::AlignCenter)
                        : (section == kLast15Column || section == kLast1Column) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                                                : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  if (section < kLeadingColumns) return leadingHeaders()[section];
  switch (section) {
    case kLast15Column: return tr("Last 15 Mins");
    case kLast1Column: return tr("Last 1 Min");
    case kDescriptionColumn: {
      const QString text = sentView_ ? tr("Description") : tr("Description of Last Broadcast");
      return lowLevel_ ? tr("Low Level ") + text : text;
    }
    case kDestinationColumn: return tr("Destination");
    default: return {};
  }
}

void BroadcastsModel::setView(bool sentView, bool lowLevel) {
  sentView_ = sentView;
  lowLevel_ = lowLevel;
  emit headerDataChanged(Qt::Horizontal, kDescriptionColumn, kDescriptionColumn);
}

void BroadcastsModel::clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void BroadcastsModel::setEntries(const std::vector<BroadcastEntryRecord>& entries) {
  beginResetModel();
  rows_.clear();
  rows_.reserve(entries.size());
  for (const BroadcastEntryRecord& e : entries) {
    rows_.push_back(Row{static_cast<int>(e.adapter.get()), fieldText(e.station, sizeof e.station),
                        fieldText(e.protoAddr, sizeof e.protoAddr), fieldText(e.roleLabel, sizeof e.roleLabel),
                        fieldText(e.hostName, sizeof e.hostName), fieldText(e.time, sizeof e.time),
                        e.windowCount.get(), e.lastMinuteCount.get(), fieldText(e.keyText, sizeof e.keyText),
                        fieldText(e.destination, sizeof e.destination)});
  }
  endResetModel();
  resort();
}

QString BroadcastsModel::sortError(int column) {
  return column >= 0 && column <= kLast1Column ? QString() : unexpectedColumnText(column);
}

void BroadcastsModel::sort(int column, Qt::SortOrder) {
  if (!sortError(column).isEmpty()) return;
  sortColumn_ = column;
  sortRows(rows_, [&](int a, int b) {
    const Row& x = rows_[static_cast<size_t>(a)];
    const Row& y = rows_[static_cast<size_t>(b)];
    if (column < kTimeColumn) return compareText(cellText(x, column), cellText(y, column)) < 0;
    if (column == kTimeColumn) return x.time > y.time;
    return column == kLast15Column ? x.last15 > y.last15 : x.last1 > y.last1;
  }, [] {});
}

void BroadcastsModel::resort() {
  if (sortColumn_ >= 0) sort(sortColumn_);
}

QString BroadcastsModel::rowText(int row) const {
  QStringList cells;
  for (int c = 0; c < kColumns; ++c) cells << cellText(rows_[static_cast<size_t>(row)], c);
  return cells.join('\t');
}

QString broadcastSummary(bool sentView, quint32 broadcasts, quint32 entries, const QString& serverName,
                         const QString& windowStart, const QString& now) {
  // Counts other than 0 and 1 carry a leading blank (countText): the wording keeps it.
  using M = BroadcastsModel;
  QString text = broadcasts == 0 ? M::tr("NO broadcasts")
                 : broadcasts == 1 ? M::tr("1 broadcast")
                                   : M::tr("%1 broadcasts").arg(countText(broadcasts));
  const QString span = M::tr(" within the last 15 minutes from %1 to %2").arg(windowStart.left(8), now.left(8));
  if (sentView) {
    text += entries == 1 ? M::tr(", 1 type of broadcast") : M::tr(", %1 different types of broadcasts").arg(countText(entries));
    text += M::tr(", sent by %1").arg(serverName) + span;
  } else {
    text += entries == 1 ? M::tr(", sent by 1 network address")
                         : M::tr(", sent by %1 different network addresses").arg(countText(entries));
    text += QLatin1Char(',') + span;
  }
  return text;
}

}  // namespace veltris::console
