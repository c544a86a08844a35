#pragma once
// HistoryDialog, "History": the history days of the "When" box as a list, with a
// way back to real time.
#include <QDialog>
#include <QStringList>

class QCalendarWidget;
class QLabel;
class QListWidget;
class QPushButton;

namespace veltris::console {

class HistoryDialog : public QDialog {
  Q_OBJECT
 public:
  explicit HistoryDialog(QWidget* parent = nullptr);

  // `days`: the entries of the "When" box after the real-time ones, with
  // their "yyyymmdd" forms in `dayKeys`.
  void fill(const QString& serverName, const QStringList& days, const QStringList& dayKeys, int selected);

 signals:
  void daySelected(int row);  // row in lstHist
  void realTimeChosen();

 private:
  QLabel* lblHeading_;
  QListWidget* lstHist_;
  QCalendarWidget* calHist_;  // days with history in bold; a click on one selects it
  QPushButton* btnRealTime_;
  QPushButton* btnClose_;
  QStringList dayKeys_;
};

}  // namespace veltris::console
