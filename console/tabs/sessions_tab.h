#pragma once
// The " &Sessions" tab: gridSess with one row per session partner, fed by
// every poll; "Totals", "Count" (since "&Clear") or "Delta" (per poll), the
// counter columns chosen from the header's menu, and the row menu.
#include <QWidget>

#include <vector>

#include "common/reply_records.h"
#include "console/models/sessions_model.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableView;

namespace veltris::desktop {
class AgentSession;
}

namespace veltris::console {

class PartnerMenu;

class SessionsTab : public QWidget {
  Q_OBJECT
 public:
  explicit SessionsTab(desktop::AgentSession& session, QWidget* parent = nullptr);

  const SessionsModel& model() const { return model_; }
  QTableView* grid() const { return gridSess_; }
  bool counterShown(int counter) const;
  void setCounterShown(int counter, bool shown);

  // Each poll's "STAT" records, possibly none: real-time totals, or a history
  // day's stored values to add up (then sorted). In "Delta" mode the delta
  // columns are recomputed.
  void takeStatRecords(const std::vector<PartnerStatRecord>& records, bool historyDay);
  // The agent's partner table was reset: back to no rows.
  void clearRows();
  // Real time or a history day, the grid emptied: the counter modes only in
  // real time, "Delta" captioned "Per " + perText; real time fetches every partner once.
  void setTimeBase(bool realTime, const QString& perText);
  // "&Clear": the rows become the "Count" baseline ("Totals" switches to "Count").
  void takeBaseline();
  // "&Reset CLEAR": no baseline, "Totals".
  void dropBaseline();
  // The tab was opened: the last sort again.
  void shown();

 signals:
  void clearRequested();
  void detailsRequested();
  void commandRequested(const QString& command);
  void consoleRequested(const QString& name);

 private:
  void fetchAllPartners();
  void showCounterMenu(const QPoint& at);

  desktop::AgentSession& session_;
  SessionsModel model_;
  QGroupBox* fraOptions_;
  QRadioButton* optTotals_;
  QRadioButton* optCounter_;
  QRadioButton* optDelta_;
  QPushButton* btnClear_;
  QLabel* lblTitle_;
  QTableView* gridSess_;
  PartnerMenu* menu_;
};

}  // namespace veltris::console
