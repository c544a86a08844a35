#pragma once
// The " &Errors" and " &Details" tabs: the last packets the agent kept (error
// packets, or all), appended from the number last seen on, fetched when the
// tab opens and with "&Refresh". The two differ only in names and texts.
#include <QWidget>

#include <cstdint>

#include "console/models/packets_model.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;

namespace veltris::desktop {
class AgentSession;
}

namespace veltris::console {

class PartnerMenu;

class PacketsTab : public QWidget {
  Q_OBJECT
 public:
  enum Kind { Errors, Details };
  PacketsTab(Kind kind, desktop::AgentSession& session, QWidget* parent = nullptr);

  const PacketsModel& model() const { return model_; }
  QTableView* grid() const { return grid_; }
  // The packet number the next fetch starts after.
  uint32_t startNumber() const { return seen_; }

  // Fetches the packets after startNumber(): "ERRORS" or "DETAILS"; another word is refused.
  void refresh(const QString& word);
  void refresh();
  // Empty, and the next fetch starts after `sequence` ("&Clear"; 0 for "&Reset CLEAR" and another agent).
  void restartAfter(uint32_t sequence);
  void clearRows();

 signals:
  void clearRequested();
  void commandRequested(const QString& command);
  void consoleRequested(const QString& name);

 private:
  // The high-level or the low-level description column.
  void showLowLevel(bool lowLevel);

  const Kind kind_;
  desktop::AgentSession& session_;
  PacketsModel model_;
  uint32_t seen_ = 0;
  QGroupBox* fraOptions_;
  QCheckBox* chkLowLevel_;       // chkLowLevelDescr / chkErrorsLowLevelDescr
  QCheckBox* chkExcludeRecvBC_;  // details only (nullptr on errors)
  QPushButton* btnRefresh_;      // btnRefresh / btnErrorRefresh
  QPushButton* btnClear_;
  QLabel* lblTitle_;
  QTableView* grid_;             // gridDetails / gridErrors
  PartnerMenu* menu_;
};

}  // namespace veltris::console
