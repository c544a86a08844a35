#pragma once
// gridBcast: the summary of broadcasts sent, or of broadcasters, over the
// last 15 minutes; one BENT record per row.
#include <QString>

#include <vector>

#include "console/models/sortable_model.h"
#include "common/broadcast_records.h"

namespace veltris::console {

class BroadcastsModel : public SortableTableModel {
 public:
  static constexpr int kLast15Column = 6;
  static constexpr int kLast1Column = 7;
  static constexpr int kDescriptionColumn = 8;
  static constexpr int kDestinationColumn = 9;
  static constexpr int kColumns = 10;

  explicit BroadcastsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  static QString sortError(int column);

  // The header of the description column follows the view and the low-level tick.
  void setView(bool sentView, bool lowLevel);
  void clear();
  // Rows of one reply, replacing the old ones (the last sort is kept).
  void setEntries(const std::vector<BroadcastEntryRecord>& entries);
  void resort();
  QString rowText(int row) const;

 private:
  struct Row {
    int adapter = 0;
    QString station, protoAddr, role, name, time;
    quint32 last15 = 0, last1 = 0;
    QString description, destination;
  };
  QString cellText(const Row& row, int column) const;

  std::vector<Row> rows_;
  bool sentView_ = true;
  bool lowLevel_ = false;
  int sortColumn_ = -1;
};

// The summary line written into the tab's title after a broadcasts reply.
QString broadcastSummary(bool sentView, quint32 broadcasts, quint32 entries, const QString& serverName,
                         const QString& windowStart, const QString& now);

}  // namespace veltris::console
