#pragma once
// The " &Broadcasts" tab: gridBcast with the broadcasts the watched PC sent
// (" Broadcasts Sent") or every broadcaster ("Summary of Broadcasters") of the
// last 15 minutes, fetched when the tab opens, an option changes or "&Refresh".
#include <QWidget>

#include "console/models/broadcasts_model.h"

class QCheckBox;
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

class BroadcastsTab : public QWidget {
  Q_OBJECT
 public:
  explicit BroadcastsTab(desktop::AgentSession& session, QWidget* parent = nullptr);

  const BroadcastsModel& model() const { return model_; }
  QTableView* grid() const { return gridBcast_; }
  QString title() const;

  // The name the title says the broadcasts were "sent by".
  void setServerName(const QString& name) { serverName_ = name; }
  // " Broadcasts Sent" or "Summary of Broadcasters" (a graph's menu chooses).
  void showSentView(bool sent);
  void refresh();
  void clearRows();

 signals:
  void detailsRequested();
  void commandRequested(const QString& command);
  void consoleRequested(const QString& name);

 private:
  desktop::AgentSession& session_;
  BroadcastsModel model_;
  QString serverName_ = QStringLiteral("Local");
  QGroupBox* fraOptions_;
  QRadioButton* optBcastSent_;
  QRadioButton* optBroadcasters_;
  QCheckBox* chkBcastLowLevelDescr_;
  QPushButton* btnBcastRefresh_;
  QLabel* lblTitle_;
  QTableView* gridBcast_;
  PartnerMenu* menu_;
};

}  // namespace veltris::console
