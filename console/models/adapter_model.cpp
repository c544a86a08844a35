#include "console/models/adapter_model.h"

#include <QFont>

#include <cstring>

#include "common/le.h"
#include "console/models/grid_text.h"

namespace veltris::console {
namespace {

struct OidRow {
  const char* label;
  int offset;
  int width;
};

constexpr OidRow kOidRows[AdapterModel::kRows] = {
    {"Adapter Device Name", 8, 32},
    {"Description", 72, 64},
    {"Driver File Date", 136, 32},
    {"VELTRIS Connection", 40, 16},
    {"VELTRIS ALL_LOCAL Handler", 56, 16},
    {"Adapter Address", 168, 16},
    {"Hardware Status", 184, 20},
    {"Connect Status", 204, 20},
    {"General Transmit Errors", 256, 16},
    {"General Receive Errors", 272, 16},
    {"General Receive No Buffer", 288, 16},
    {"General Receive CRC Errors", 304, 16},
    {"Media", 224, 16},
    {"Link Speed", 240, 16},
    {"Ethernet Receive Error Alignment", 320, 16},
    {"Ethernet Receive Overrun", 400, 16},
    {"Ethernet Transmit Underrun", 416, 16},
    {"Ethernet Transmit One Collision", 336, 16},
    {"Ethernet Transmit Multiple Collision", 352, 16},
    {"Ethernet Transmit Late Collisions", 464, 16},
    {"Ethernet Transmit Deferred", 368, 16},
    {"Ethernet Transmit Heartbeat Failure", 432, 16},
    {"Ethernet Transmit CRS Lost", 448, 16},
    {"Token Ring State", 724, 20},
    {"Token Ring Last Error Type", 624, 100},
    {"Token Ring Line Errors", 480, 16},
    {"Token Ring Lost Frames", 496, 16},
    {"Token Ring Burst Errors", 512, 16},
    {"Token Ring AC Errors", 528, 16},
    {"Token Ring Abort Delimiters", 544, 16},
    {"Token Ring Frame Copied Errors", 560, 16},
    {"Token Ring Frequency Errors", 576, 16},
    {"Token Ring Internal Errors", 608, 16},
};
static_assert(kOidRows[AdapterModel::kMediaRow].offset == 224);
static_assert(kOidRows[AdapterModel::kFirstEthernetRow].offset == 320);
static_assert(kOidRows[AdapterModel::kFirstTokenRingRow].offset == 724);
static_assert(kOidRows[AdapterModel::kLastTokenRingRow].offset + 16 <= 624);

}  // namespace

AdapterModel::AdapterModel(QObject* parent) : QAbstractTableModel(parent) {}

int AdapterModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kRows; }
int AdapterModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kAdapters + 1; }

QString AdapterModel::label(int row) const { return kOidRows[row].label; }

QVariant AdapterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return index.column() == 0 ? label(index.row()) : value(index.row(), index.column() - 1);
  if (role == Qt::FontRole && index.column() > 0) {
    QFont font;
    font.setFamilies({"Courier New", "DejaVu Sans Mono", "monospace"});
    return font;
  }
  if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant AdapterModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QString("Description") : "Adapter #" + QString::number(section);
}

void AdapterModel::clearValues() {
  for (auto& row : values_) row.fill(QString());
  emit dataChanged(index(0, 1), index(kRows - 1, kAdapters));
}

bool AdapterModel::applyRecord(const uint8_t* record, size_t size) {
  if (size < kOidRecordSize) return false;
  LeU32 field;
  std::memcpy(&field, record + 4, sizeof field);
  const uint32_t number = field.get();
  if (number < 1 || number > kAdapters) return false;
  for (int row = 0; row < kRows; ++row)
    values_[static_cast<size_t>(row)][number - 1] =
        fieldText(reinterpret_cast<const char*>(record) + kOidRows[row].offset, static_cast<size_t>(kOidRows[row].width));
  emit dataChanged(index(0, static_cast<int>(number)), index(kRows - 1, static_cast<int>(number)));
  return true;
}

bool AdapterModel::rowHidden(int row) const {
  const bool ethernet = row >= kFirstEthernetRow && row <= kLastEthernetRow;
  const bool tokenRing = row >= kFirstTokenRingRow && row <= kLastTokenRingRow;
  if (!ethernet && !tokenRing) return false;
  const QString medium = ethernet ? "Ethernet" : "Token Ring";
  for (const QString& media : values_[kMediaRow])
    if (media == medium) return false;
  return true;
}

QString AdapterModel::rowText(int row) const {
  QStringList cells{label(row)};
  for (int a = 0; a < kAdapters; ++a) cells << value(row, a);
  return cells.join('\t');
}

}  // namespace veltris::console
