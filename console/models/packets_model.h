#pragma once
// gridDetails and gridErrors: one row per DETL record, coloured by its
// direction mark, at most 999 data rows (the oldest leave from the top).
#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <deque>
#include <vector>

#include "common/detail_record.h"

namespace veltris::console {

class PacketsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kMaxRows = 999;  // 1000 with the header row
  static constexpr int kPktColumn = 6;
  static constexpr int kDirectionColumn = 7;
  static constexpr int kSizeColumn = 8;
  static constexpr int kDescriptionColumn = 9;
  static constexpr int kLowLevelColumn = 10;
  static constexpr int kDestinationColumn = 11;
  static constexpr int kErrorTypeColumn = 12;
  static constexpr int kColumns = 13;

  explicit PacketsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // "Exclude Recv Broadcasts (<<)": while set, "<<  " rows are not added.
  void setExcludeReceivedBroadcasts(bool exclude) { excludeReceivedBroadcasts_ = exclude; }
  bool excludeReceivedBroadcasts() const { return excludeReceivedBroadcasts_; }

  // Adds the records of one refresh in packet number order (the agent's ring
  // hands them out by slot) and drops the oldest rows beyond the limit.
  void append(const std::vector<DetailRecord>& records);
  void clear();
  QString rowText(int row) const;

  // Colours of a direction mark: columns 0-4, then 5-12 (invalid = none), each
  // background with a text colour that reads on it.
  struct RowColours {
    QColor left, right, leftText, rightText;
    bool rightBold = false;
  };
  static RowColours coloursFor(const QString& mark);

 private:
  struct Row {
    int adapter = 0;
    quint32 packet = 0, size = 0;
    QString station, protoAddr, role, name, time, direction, description, lowLevel, destination, errorType;
    RowColours colours;
  };
  QString cellText(const Row& row, int column) const;

  std::deque<Row> rows_;
  bool excludeReceivedBroadcasts_ = false;
};

}  // namespace veltris::console
