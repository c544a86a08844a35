#include "console/models/packets_model.h"

#include <QFont>

#include <algorithm>

#include "console/models/grid_text.h"

namespace veltris::console {
namespace {

const QColor kGreen(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kCyan(0, 255, 255);
const QColor kBlue(0, 0, 255);

const char* const kPacketHeaders[] = {QT_TRANSLATE_NOOP("veltris::console::PacketsModel", "Pkt"), "",
                                      QT_TRANSLATE_NOOP("veltris::console::PacketsModel", "Size"),
                                      QT_TRANSLATE_NOOP("veltris::console::PacketsModel", "Description"),
                                      QT_TRANSLATE_NOOP("veltris::console::PacketsModel", "Low Level Description"),
                                      QT_TRANSLATE_NOOP("veltris::console::PacketsModel", "Destination"),
                                      QT_TRANSLATE_NOOP("veltris::console::PacketsModel", "Error Type")};

}  // namespace

PacketsModel::PacketsModel(QObject* parent) : QAbstractTableModel(parent) {}

int PacketsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}
int PacketsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

PacketsModel::RowColours PacketsModel::coloursFor(const QString& mark) {
  RowColours colours;
  if (mark == "  ->") colours = {kGreen, kGreen, {}, {}, false};
  if (mark == "  >>") colours = {kGreen, kYellow, {}, {}, false};
  if (mark == "  =>") colours = {kGreen, kRed, {}, {}, true};
  if (mark == "<<  ") colours = {{}, kCyan, {}, {}, false};
  if (mark == "<=  ") colours = {{}, kBlue, {}, {}, true};
  // A set background gets its own text colour: the palette's may not read on it.
  if (colours.left.isValid()) colours.leftText = readableTextOn(colours.left);
  if (colours.right.isValid()) colours.rightText = readableTextOn(colours.right);
  return colours;
}

namespace {

// Packet numbers in serial order, so a counter that wraps still sorts new after old.
bool packetBefore(quint32 a, quint32 b) { return static_cast<qint32>(a - b) < 0; }

}  // namespace

QString PacketsModel::cellText(const Row& row, int column) const {
  if (column < kLeadingColumns) return leadingCellText(row, column);
  switch (column) {
    case kPktColumn: return QString::number(row.packet);
    case kDirectionColumn: return row.direction;
    case kSizeColumn: return QString::number(row.size);
    case kDescriptionColumn: return row.description;
    case kLowLevelColumn: return row.lowLevel;
    case kDestinationColumn: return row.destination;
    case kErrorTypeColumn: return row.errorType;
    default: return {};
  }
}

QVariant PacketsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  const bool right = index.column() >= kTimeColumn;
  switch (role) {
    case Qt::DisplayRole: return cellText(row, index.column());
    case Qt::BackgroundRole: {
      const QColor& c = right ? row.colours.right : row.colours.left;
      return c.isValid() ? QVariant(c) : QVariant();
    }
    case Qt::ForegroundRole: {
      const QColor& c = right ? row.colours.rightText : row.colours.leftText;
      return c.isValid() ? QVariant(c) : QVariant();
    }
    case Qt::FontRole: {
      const bool mono = index.column() == kDescriptionColumn || index.column() == kLowLevelColumn ||
                        index.column() == kDirectionColumn;
      if (!mono && !(right && row.colours.rightBold)) return {};
      QFont font;
      if (mono) font.setFamilies({"Courier New", "DejaVu Sans Mono", "monospace"});
      font.setBold(right && row.colours.rightBold);
      return font;
    }
    case Qt::TextAlignmentRole:
      if (index.column() == kDirectionColumn || index.column() == 0) return QVariant(Qt::AlignCenter);
      if (index.column() == kPktColumn || index.column() == kSizeColumn) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default: return {};
  }
}

QVariant PacketsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole) return section == 0 || section == kDirectionColumn ? QVariant(Qt::AlignCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  if (section < kLeadingColumns) return leadingHeaders()[section];
  if (section < kColumns) {
    const char* text = kPacketHeaders[section - kPktColumn];
    return *text != '\0' ? tr(text) : QString();
  }
  return {};
}

void PacketsModel::append(const std::vector<DetailRecord>& records) {
  std::vector<Row> added;
  added.reserve(records.size());
  for (const DetailRecord& r : records) {
    const QString direction = QString::fromLatin1(r.direction, sizeof r.direction);
    if (excludeReceivedBroadcasts_ && direction == "<<  ") continue;
    Row row;
    row.adapter = static_cast<int>(r.adapter.get());
    row.packet = r.sequence.get();
    row.size = r.length.get();
    row.station = fieldText(r.station, sizeof r.station);
    row.protoAddr = fieldText(r.protoAddr, sizeof r.protoAddr);
    row.role = fieldText(r.roleLabel, sizeof r.roleLabel);
    row.name = fieldText(r.hostName, sizeof r.hostName);
    row.time = fieldText(r.time, sizeof r.time);
    row.direction = direction;
    row.description = fieldText(r.protocol, sizeof r.protocol);
    row.lowLevel = fieldText(r.description, sizeof r.description);
    row.destination = fieldText(r.destination, sizeof r.destination);
    row.errorType = fieldText(r.errorText, sizeof r.errorText);
    row.colours = coloursFor(direction);
    added.push_back(std::move(row));
  }
  if (added.empty()) return;
  const auto byPacket = [](const Row& a, const Row& b) { return packetBefore(a.packet, b.packet); };
  std::stable_sort(added.begin(), added.end(), byPacket);
  // More new rows than the grid holds: only the newest are kept.
  size_t skip = added.size() > size_t{kMaxRows} ? added.size() - kMaxRows : 0;
  if (!rows_.empty() && packetBefore(added[skip].packet, rows_.back().packet)) {
    // Older than rows already shown (a refresh from an earlier number): one sorted grid again.
    beginResetModel();
    for (size_t i = skip; i < added.size(); ++i) rows_.push_back(std::move(added[i]));
    std::stable_sort(rows_.begin(), rows_.end(), byPacket);
    while (rows_.size() > size_t{kMaxRows}) rows_.pop_front();
    endResetModel();
    return;
  }
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(added.size() - skip) - 1);
  for (size_t i = skip; i < added.size(); ++i) rows_.push_back(std::move(added[i]));
  endInsertRows();
  if (rowCount() > kMaxRows) {
    const int excess = rowCount() - kMaxRows;
    beginRemoveRows({}, 0, excess - 1);
    rows_.erase(rows_.begin(), rows_.begin() + excess);
    endRemoveRows();
  }
}

void PacketsModel::clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

QString PacketsModel::rowText(int row) const {
  QStringList cells;
  for (int c = 0; c < kColumns; ++c) cells << cellText(rows_[static_cast<size_t>(row)], c);
  return cells.join('\t');
}

}  // namespace veltris::console
