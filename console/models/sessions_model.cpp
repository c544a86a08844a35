#include "console/models/sessions_model.h"

#include <QColor>
#include <QFont>

#include <algorithm>
#include <cstring>
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

namespace {

// Copies a fixed field as fieldText() reads it: up to the first NUL, without trailing blanks.
template <size_t N>
void copyField(char (&to)[N], const char (&from)[N]) {
  const void* nul = std::memchr(from, '\0', N);
  size_t end = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - from) : N;
  while (end > 0 && (from[end - 1] == ' ' || from[end - 1] == '\t')) --end;
  std::memcpy(to, from, end);
}

// The counter columns 6-11 as column bits.
constexpr quint32 kShownCounters = ((1u << SessionsModel::kCounters) - 1) << SessionsModel::kFirstCounterColumn;

}  // namespace

SessionsModel::Key SessionsModel::keyOf(const PartnerStatRecord& record) {
  Key key;
  key.adapter = record.adapterNumber.get();
  copyField(key.station, record.station);
  copyField(key.protoAddr, record.protoAddr);
  return key;
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
  changedColumns_ = 0;
  nextRow_ = 0;
  rowsBeforePoll_ = rowCount();
  for (Row& row : rows_) {
    row.touchedBefore = row.touched;
    row.touched = false;
  }
}

void SessionsModel::noteChanged(int row, quint32 columns) {
  if (row >= rowsBeforePoll_) return;  // announced by endPoll() as inserted
  firstChanged_ = firstChanged_ < 0 ? row : std::min(firstChanged_, row);
  lastChanged_ = std::max(lastChanged_, row);
  changedColumns_ |= columns;
}

void SessionsModel::applyRecord(const PartnerStatRecord& record) {
  const Key key = keyOf(record);
  // The agent sends its partners in the same order each poll: try the row after the last one first.
  const bool sameOrder = nextRow_ < rowCount() && rows_[static_cast<size_t>(nextRow_)].key == key;
  auto it = sameOrder ? rowOfKey_.constEnd() : rowOfKey_.constFind(key);
  int index;
  if (sameOrder) {
    index = nextRow_;
  } else if (it == rowOfKey_.constEnd()) {
    index = rowCount();
    // Rows appended during a poll are announced together in endPoll().
    Row added;
    added.adapter = static_cast<int>(record.adapterNumber.get());
    added.station = fieldText(record.station, sizeof record.station);
    added.protoAddr = fieldText(record.protoAddr, sizeof record.protoAddr);
    added.key = key;
    added.role = fieldText(record.roleLabel, sizeof record.roleLabel);
    added.name = fieldText(record.hostName, sizeof record.hostName);
    added.time = fieldText(record.lastSeen, sizeof record.lastSeen);
    std::memcpy(added.labels.data(), record.roleLabel, kLabelBytes);
    rows_.push_back(std::move(added));
    rowOfKey_.insert(key, index);
  } else {
    index = *it;
  }
  nextRow_ = index + 1;
  Row& row = rows_[static_cast<size_t>(index)];
  // Texts are made only of fields whose bytes changed (mostly the time).
  char* seen = row.labels.data();
  const auto update = [&](QString& text, const char* field, size_t width, int column) {
    if (std::memcmp(seen, field, width) != 0) {
      std::memcpy(seen, field, width);
      if (setFieldText(text, field, width)) noteChanged(index, 1u << column);
    }
    seen += width;
  };
  update(row.role, record.roleLabel, sizeof record.roleLabel, 3);
  update(row.name, record.hostName, sizeof record.hostName, 4);
  update(row.time, record.lastSeen, sizeof record.lastSeen, kTimeColumn);
  const auto values = countersOf(record);
  quint32 changed = 0;  // the counter cells changed
  for (int i = 0; i < kCounters; ++i) {
    const double delta = historyDay_ ? values[i] : values[i] - row.total[i];
    const double total = historyDay_ ? row.total[i] + values[i] : values[i];
    // What the counter column shows now and will show: the totals (less the
    // baseline), or in "Delta" the difference, empty for rows not in the last poll.
    const bool shownChanged = mode_ == CounterMode::Delta
                                  ? delta != (row.touched || row.touchedBefore ? row.delta[i] : 0.0)
                                  : total != row.total[i];
    if (shownChanged) changed |= 1u << (kFirstCounterColumn + i);
    if (total != row.total[i]) changed |= 1u << (kTotalsColumn + i);
    if (delta != row.delta[i]) changed |= 1u << (kDeltaColumn + i);
    row.delta[i] = delta;
    row.total[i] = total;
  }
  if (changed != 0) noteChanged(index, changed);
  row.touched = true;
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
  if (mode_ == CounterMode::Delta) {
    for (int r = 0; r < rowsBeforePoll_; ++r) {
      const Row& row = rows_[static_cast<size_t>(r)];
      if (row.touchedBefore && !row.touched) noteChanged(r, kShownCounters);
    }
  }
  // One range per run of changed columns: the views repaint those cells only.
  for (int column = 0; firstChanged_ >= 0 && column < kColumns;) {
    if (!(changedColumns_ >> column & 1u)) {
      ++column;
      continue;
    }
    int last = column;
    while (last + 1 < kColumns && changedColumns_ >> (last + 1) & 1u) ++last;
    emit dataChanged(index(firstChanged_, column), index(lastChanged_, last));
    column = last + 1;
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
    rowOfKey_.insert(rows_[i].key, static_cast<int>(i));
}

QString SessionsModel::rowText(int row) const {
  QStringList cells;
  for (int c = 0; c < kVisibleColumns; ++c) cells << cellText(rows_[static_cast<size_t>(row)], c);
  return cells.join('\t');
}

}  // namespace veltris::console
