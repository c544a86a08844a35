#pragma once
// What the main window asks of the tabs after " O&verview": the grids of the
// sessions, broadcasts, errors and details tabs and the Test tab's output.
// Their owner implements this and hands it to MainWindow::setTabViews; the
// main window calls it on the UI thread at the moments named below.
#include <cstdint>
#include <vector>

#include <QString>

#include "common/reply_records.h"

namespace veltris::console {

class TabViews {
 public:
  virtual ~TabViews() = default;

  // Data rows (header rows not counted) of the sessions and broadcasts grids together.
  virtual int sessionAndBroadcastDataRows() const = 0;
  // The agent's partner table reset count changed: both grids back to their header row.
  virtual void clearSessionAndBroadcastGrids() = 0;
  // Each poll's "STAT" records, possibly none: real-time totals, or a history
  // day's stored values to add up (then sort the grid). In "Delta" mode the
  // receiver recomputes the delta columns.
  virtual void takeStatRecords(const std::vector<PartnerStatRecord>& records, bool historyDay) = 0;
  // A new time base (Main_ReInit): empty the four grids and the Test tab's output.
  virtual void clearForNewTimeBase() = 0;
  // Real time or a history day: show or hide "Totals", "Count", "Delta"; the
  // "Delta" caption is "Per " + perText ("1 Second") in real time.
  virtual void setTimeBase(bool realTime, const QString& perText) = 0;
  // "&Clear": errors and details start after `sequence` and are emptied; the
  // session rows become the "Count" baseline ("Totals" switches to "Count").
  virtual void applyClear(uint32_t sequence) = 0;
  // "&Reset CLEAR": "Totals", starting numbers back to 0, a shown Errors or Details tab fetched again.
  virtual void resetClear() = 0;
  // The tab at `index` (1 " &Sessions" to 6 " &Test") was opened.
  virtual void tabShown(int index) = 0;
  // The poll cycle's loopback check fired (once per connection): open frmWarnNoLoopback.
  virtual void showLoopbackWarning() = 0;
  // A connection is ready: local agent or not, and the name shown in titles.
  virtual void connectionReady(bool local, const QString& serverName) = 0;
};

}  // namespace veltris::console
