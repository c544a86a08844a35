#pragma once
// gridAdapter: the OID records of the agent, one column per adapter. The
// Ethernet and Token Ring rows show only when some adapter has that medium.
#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <cstdint>

namespace veltris::console {

constexpr size_t kOidRecordSize = 744;
constexpr char kOidTag[4] = {'O', 'I', 'D', ' '};

class AdapterModel : public QAbstractTableModel {
 public:
  static constexpr int kRows = 33;
  static constexpr int kAdapters = 8;
  static constexpr int kMediaRow = 12;           // "Media"
  static constexpr int kFirstEthernetRow = 14;   // rows 15-23 of the grid
  static constexpr int kLastEthernetRow = 22;
  static constexpr int kFirstTokenRingRow = 23;  // rows 24-33
  static constexpr int kLastTokenRingRow = 32;

  explicit AdapterModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void clearValues();
  // One OID record (744 bytes); its adapter number (1-8) picks the column.
  // False for a record of the wrong size or with an adapter number out of range.
  bool applyRecord(const uint8_t* record, size_t size);
  bool rowHidden(int row) const;
  QString label(int row) const;
  QString value(int row, int adapter) const { return values_[static_cast<size_t>(row)][static_cast<size_t>(adapter)]; }
  QString rowText(int row) const;

 private:
  std::array<std::array<QString, kAdapters>, kRows> values_;
};

}  // namespace veltris::console
