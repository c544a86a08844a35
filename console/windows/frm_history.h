#pragma once
// frmHistory, "History": the history days of the "When" box as a list, with a
// way back to real time.
#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

namespace veltris::console {

class frmHistory : public QDialog {
  Q_OBJECT
 public:
  explicit frmHistory(QWidget* parent = nullptr);

  // `days`: the entries of the "When" box after the real-time ones.
  void fill(const QString& serverName, const QStringList& days, int selected);

  QLabel* lblHeading;
  QListWidget* lstHist;
  QPushButton* btnRealTime;
  QPushButton* btnClose;

 signals:
  void daySelected(int row);  // row in lstHist
  void realTimeChosen();
};

}  // namespace veltris::console
