#include "console/models/sessions_model.h"

#include <QColor>
#include <QFont>

#include <algorithm>
#include <numeric>

#include "console/models/grid_text.h"

namespace veltris::console {
namespace {

const char* const kCounterHeaders[SessionsModel::kCounters] = {
    QT_TRANSLATE_NOOP("veltris::console::SessionsModel", "Bytes Sent"),
    QT_TRANSLATE_NOOP("veltris::console::SessionsModel", "Pkts Sent"),
    QT_TRANSLATE_NOOP("veltris::console::SessionsModel", "Broadcast"),
    QT_TRANSLATE_NOOP("veltris::console::SessionsModel", "Errors"),
    QT_TRANSLATE_NOOP("veltris::console::SessionsModel", "Bytes Recv"),
    QT_TRANSLATE_NOOP("veltris::console::SessionsModel", "Pkts Recv")};

std::array<double, SessionsModel::kCounters> countersOf(const PartnerStatRecord& r) {
  return {r.bytesSent.get(), double(r.framesSent.get()), double(r.broadcasts.get()),
          double(r.errors.get()), r.bytesReceived.get(), double(r.framesReceived.get())};
}

}  // namespace

SessionsModel::SessionsModel(QObject* parent) : SortableTableModel(parent) {}

int SessionsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}
int SessionsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QString SessionsModel::keyOf(int adapter, const QString& station, const QString& protoAddr) {
  return QString::number(adapter) + '\x1f' + station + '\x1f' + protoAddr;
}

double SessionsModel::shownValue(int row, int counter) const {
  const Row& r = rows_[static_cast<size_t>(row)];
  switch (mode_) {
    case CounterMode::Totals: return r.total[counter];
    case CounterMode::Count: return r.total[counter] - r.baseline[counter];
    case CounterMode::Delta: return r.touched ? r.delta[counter] : 0.0;
  }
  return 0.0;
}

QString SessionsModel::cellText(const Row& row, int column) const {
  if (column < kLeadingColumns) return leadingCellText(row, column);
  if (column < kVisibleColumns) {
    const int row_ = static_cast<int>(&row - rows_.data());
    return counterText(shownValue(row_, column - kFirstCounterColumn));
  }
  const int counter = (column - kTotalsColumn) % kCounters;
  if (column < kBaselineColumn) return QString::number(row.total[counter], 'f', 0);
  if (column < kDeltaColumn) return QString::number(row.baseline[counter], 'f', 0);
  return QString::number(row.delta[counter], 'f', 0);
}

QVariant SessionsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole) return cellText(row, index.column());
  if (role == Qt::TextAlignmentRole)
    return index.column() >= kFirstCounterColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant SessionsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole)
    return section == 0 ? QVariant(Qt::AlignCenter)
                        : section >= kFirstCounterColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                         : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  if (section < kLeadingColumns) return leadingHeaders()[section];
  if (section < kVisibleColumns) return tr(kCounterHeaders[section - kFirstCounterColumn]);
  // The hidden columns' names, never shown.
  static const char* const kinds[] = {"Total ", "Base ", "Diff "};
  const int block = (section - kTotalsColumn) / kCounters;
  return QLatin1String(kinds[block]) + QLatin1String(kCounterHeaders[(section - kTotalsColumn) % kCounters]);
}

void SessionsModel::beginPoll(bool historyDay) {
  historyDay_ = historyDay;
  firstChanged_ = lastChanged_ = -1;
  rowsBeforePoll_ = rowCount();
  for (Row& row : rows_) row.touched = false;
}

void SessionsModel::applyRecord(const PartnerStatRecord& record) {
  const int adapter = static_cast<int>(record.adapterNumber.get());
  const QString station = fieldText(record.station, sizeof record.station);
  const QString protoAddr = fieldText(record.protoAddr, sizeof record.protoAddr);
  const QString key = keyOf(adapter, station, protoAddr);
  auto it = rowOfKey_.find(key);
  int index;
  if (it == rowOfKey_.end()) {
    index = rowCount();
    // Rows appended during a poll are announced together in endPoll().
    rows_.push_back(Row{adapter, station, protoAddr});
    rowOfKey_.insert(key, index);
  } else {
    index = *it;
  }
  Row& row = rows_[static_cast<size_t>(index)];
  row.role = fieldText(record.roleLabel, sizeof record.roleLabel);
  row.name = fieldText(record.hostName, sizeof record.hostName);
  row.time = fieldText(record.lastSeen, sizeof record.lastSeen);
  const auto values = countersOf(record);
  for (int i = 0; i < kCounters; ++i) {
    if (historyDay_) {
      row.delta[i] = values[i];
      row.total[i] += values[i];
    } else {
      row.delta[i] = values[i] - row.total[i];
      row.total[i] = values[i];
    }
  }
  row.touched = true;
  if (index < rowsBeforePoll_) {
    firstChanged_ = firstChanged_ < 0 ? index : std::min(firstChanged_, index);
    lastChanged_ = std::max(lastChanged_, index);
  }
}

void SessionsModel::endPoll() {
  const int rows = rowCount();
  if (rows > rowsBeforePoll_) {
    // The rows are in place already; announce them so views and proxies catch up.
    const std::vector<Row> added(rows_.begin() + rowsBeforePoll_, rows_.end());
    rows_.resize(static_cast<size_t>(rowsBeforePoll_));
    beginInsertRows({}, rowsBeforePoll_, rows - 1);
    rows_.insert(rows_.end(), added.begin(), added.end());
    endInsertRows();
  }
  // Untouched rows change only in Delta mode, where they turn empty.
  if (mode_ == CounterMode::Delta && rowsBeforePoll_ > 0) {
    emit dataChanged(index(0, 0), index(rowsBeforePoll_ - 1, kColumns - 1));
  } else if (firstChanged_ >= 0) {
    emit dataChanged(index(firstChanged_, 0), index(lastChanged_, kColumns - 1));
  }
  rowsBeforePoll_ = rows;
}

void SessionsModel::setMode(CounterMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  if (!rows_.empty()) emit dataChanged(index(0, kFirstCounterColumn), index(rowCount() - 1, kVisibleColumns - 1));
}

void SessionsModel::takeBaseline() {
  for (Row& row : rows_) row.baseline = row.total;
  if (mode_ == CounterMode::Totals) mode_ = CounterMode::Count;
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

void SessionsModel::dropBaseline() {
  for (Row& row : rows_) row.baseline.fill(0);
  mode_ = CounterMode::Totals;
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

void SessionsModel::clear() {
  beginResetModel();
  rows_.clear();
  rowOfKey_.clear();
  rowsBeforePoll_ = 0;
  endResetModel();
}

QString SessionsModel::sortError(int column) {
  return column >= 0 && column < kVisibleColumns ? QString() : unexpectedColumnText(column);
}

void SessionsModel::sort(int column, Qt::SortOrder) {
  if (!sortError(column).isEmpty()) return;
  sortColumn_ = column;
  auto less = [&](int a, int b) {
    const Row& x = rows_[static_cast<size_t>(a)];
    const Row& y = rows_[static_cast<size_t>(b)];
    if (column < kTimeColumn) return compareText(cellText(x, column), cellText(y, column)) < 0;
    if (column == kTimeColumn) return x.time > y.time;  // newest first
    const int counter = column - kFirstCounterColumn;
    return shownValue(a, counter) > shownValue(b, counter);
  };
  sortRows(rows_, less, [this] { rebuildIndex(); });
}

void SessionsModel::resort() {
  if (sortColumn_ >= 0) sort(sortColumn_);
}

void SessionsModel::rebuildIndex() {
  rowOfKey_.clear();
  for (size_t i = 0; i < rows_.size(); ++i)
    rowOfKey_.insert(keyOf(rows_[i].adapter, rows_[i].station, rows_[i].protoAddr), static_cast<int>(i));
}

QString SessionsModel::rowText(int row) const {
  QStringList cells;
  for (int c = 0; c < kVisibleColumns; ++c) cells << cellText(rows_[static_cast<size_t>(row)], c);
  return cells.join('\t');
}

}  // namespace veltris::console
