#pragma once
// The " O&verview" tab: the options frame with the "When" box above the eight
// traffic graphs, sent above received, and the receive warning that takes the
// received row's place.
#include <QWidget>
#include <array>

#include "console/widgets/poll_pacer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QGroupBox;

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

  // Receive graphs hidden, warning shown (or the reverse).
  void setReceiveWarning(bool shown);
  bool receiveWarningShown() const;
  // Real time hides "REAL-TIME" and the two day options; a day shows them.
  void setRealTime(bool realTime);

  QGroupBox* fraOptions;
  QRadioButton* optHistoryGraph24;
  QRadioButton* optHistoryGraph12;
  QCheckBox* chkShowValues;
  QPushButton* btnRealTime;
  QPushButton* btnHistory;
  QComboBox* cmbHistory;
  QPushButton* btnClear;
  QWidget* fraClientArea;
  QLabel* picWarning;
  // Spreads a late poll's differences over the intervals it covers.
  PollPacer pacer;

 private:
  std::array<TrendGraph*, 8> graphs_{};
};

}  // namespace veltris::console
