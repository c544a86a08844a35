#pragma once
// gridSess: one row per session partner, fed one STAT record at a time by
// the poll cycle. Visible columns 0-11; the hidden columns 12-29 hold, per
// counter, the partner's last totals, the "&Clear" baseline and the last
// poll's difference.
#include <QHash>
#include <QString>

#include <array>
#include <vector>

#include "console/models/sortable_model.h"
#include "common/reply_records.h"

namespace veltris::console {

enum class CounterMode { Totals, Count, Delta };

class SessionsModel : public SortableTableModel {
  Q_OBJECT
 public:
  static constexpr int kCounters = 6;
  static constexpr int kFirstCounterColumn = 6;
  static constexpr int kVisibleColumns = 12;
  static constexpr int kTotalsColumn = 12;    // 12-17
  static constexpr int kBaselineColumn = 18;  // 18-23
  static constexpr int kDeltaColumn = 24;     // 24-29
  static constexpr int kColumns = 30;

  explicit SessionsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Sorts by the grid's rules; the selection follows its rows. An unknown
  // column changes nothing (see sortError).
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // One poll: begin, the STAT records, end. A history day adds the records'
  // values; a real-time poll takes the differences to the stored totals.
  void beginPoll(bool historyDay);
  void applyRecord(const PartnerStatRecord& record);
  void endPoll();

  void setMode(CounterMode mode);
  CounterMode mode() const { return mode_; }
  // "&Clear": the current totals become the "Count" baseline; "Totals" turns into "Count".
  void takeBaseline();
  // "&Reset CLEAR": baseline back to 0 and "Totals" shown.
  void dropBaseline();
  void clear();
  // The last sort again (opening the tab).
  void resort();
  int sortColumn() const { return sortColumn_; }
  // The refusal text for a column that cannot be sorted; empty when it can.
  static QString sortError(int column);

  // Raw value behind the counter column shown in the current mode.
  double shownValue(int row, int counter) const;
  QString rowText(int row) const;  // visible cells, tab-separated

 private:
  // What names a partner: the adapter and the record's station and protocol
  // fields, cut at the first NUL, trailing blanks dropped, zero-filled.
  struct Key {
    quint32 adapter = 0;
    char station[sizeof PartnerStatRecord::station] = {};
    char protoAddr[sizeof PartnerStatRecord::protoAddr] = {};
    friend bool operator==(const Key&, const Key&) = default;
    friend size_t qHash(const Key& key, size_t seed = 0) noexcept { return qHashBits(&key, sizeof key, seed); }
  };
  // The record's role, host name and time fields as last seen: unchanged bytes, unchanged texts.
  static constexpr size_t kLabelBytes = sizeof PartnerStatRecord::roleLabel + sizeof PartnerStatRecord::hostName +
                                        sizeof PartnerStatRecord::lastSeen;
  struct Row {
    int adapter = 0;
    QString station, protoAddr, role, name, time;
    std::array<double, kCounters> total{}, baseline{}, delta{};
    bool touched = false, touchedBefore = false;  // in this poll, in the last one
    Key key;
    std::array<char, kLabelBytes> labels{};
  };
  static Key keyOf(const PartnerStatRecord& record);
  QString cellText(const Row& row, int column) const;
  void rebuildIndex();
  // Cells of `row` changed in this poll: a bit per column.
  void noteChanged(int row, quint32 columns);

  std::vector<Row> rows_;
  QHash<Key, int> rowOfKey_;
  CounterMode mode_ = CounterMode::Totals;
  bool historyDay_ = false;
  // The changed cells of this poll's old rows: a row span and the columns.
  int firstChanged_ = -1, lastChanged_ = -1;
  quint32 changedColumns_ = 0;
  int rowsBeforePoll_ = 0;
  int nextRow_ = 0;  // where the next record's row is looked for first
  int sortColumn_ = -1;
};

}  // namespace veltris::console
