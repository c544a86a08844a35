#pragma once
// The " O&verview" tab: the options frame with the "When" box above the eight
// traffic graphs, sent above received, and the receive warning that takes the
// received row's place. The main window feeds the graphs from its polls and
// chooses the time base from the signals below.
#include <QStringList>
#include <QWidget>
#include <array>
#include <optional>
#include <vector>

#include "console/widgets/poll_pacer.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace veltris::console {

class TrendGraph;

class OverviewTab : public QWidget {
  Q_OBJECT
 public:
  explicit OverviewTab(QWidget* parent = nullptr);

  // The graphs in the order their values arrive from the totals record.
  enum Graph { BytesSent, PktsSent, PktsSentBC, PktsSentRE, BytesRecv, PktsRecv, PktsRecvBC, PktsRecvRE };
  TrendGraph* graph(int g) const { return graphs_[g]; }
  const std::array<TrendGraph*, 8>& graphs() const { return graphs_; }
  // Spreads a late poll's differences over the intervals it covers.
  PollPacer& pacer() { return pacer_; }

  // Receive graphs hidden, warning shown (or the reverse).
  void setReceiveWarning(bool shown);
  bool receiveWarningShown() const;
  // Real time hides "REAL-TIME" and the two day options; a day shows them.
  void setRealTime(bool realTime);
  // "Show Values" and every graph's values.
  void setValuesShown(bool shown);
  bool valuesShown() const;
  // "12 Hours, 6am to 6pm" rather than "24 Hours".
  bool twelveHours() const;

  // The "When" box: the real-time entries, then the days (text and "YYYYMMDD"), newest first.
  struct Day {
    QString text;
    QString key;
  };
  void fillWhen(const QStringList& realTimeEntries, const std::vector<Day>& days);
  int whenIndex() const;
  void setWhenIndex(int index);
  int whenCount() const;
  // What entry `index` is: a real-time row (0 to 2), or a day ("YYYYMMDD").
  std::optional<int> realTimeRow(int index) const;
  QString dayAt(int index) const;
  std::vector<Day> days() const;

 signals:
  // The user picked entry `index` of the "When" box.
  void whenChosen(int index);
  void clearRequested();
  void historyRequested();
  void realTimeRequested();
  // "24 Hours" or "12 Hours, 6am to 6pm" was chosen.
  void dayViewChanged();
  void valuesShownChanged(bool shown);
  void graphRightClicked(int graph);
  void graphDoubleClicked(int graph);

 private:
  QGroupBox* fraOptions_;
  QRadioButton* optHistoryGraph24_;
  QRadioButton* optHistoryGraph12_;
  QCheckBox* chkShowValues_;
  QPushButton* btnRealTime_;
  QPushButton* btnHistory_;
  QComboBox* cmbHistory_;
  QPushButton* btnClear_;
  QWidget* fraClientArea_;
  QLabel* picWarning_;
  PollPacer pacer_;
  std::array<TrendGraph*, 8> graphs_{};
};

}  // namespace veltris::console
