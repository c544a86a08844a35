#pragma once
// The " &Adapter" tab: the adapters' error statistics from the agent's "OID"
// records, fetched when the tab first opens and with "&Refresh", showing only
// the rows of the reported media and the columns of the reported adapters.
#include <QWidget>

#include "console/models/adapter_model.h"

class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableView;

namespace veltris::desktop {
class AgentSession;
}

namespace veltris::console {

class AdapterTab : public QWidget {
  Q_OBJECT
 public:
  explicit AdapterTab(desktop::AgentSession& session, QWidget* parent = nullptr);

  const AdapterModel& model() const { return model_; }
  QTableView* grid() const { return gridAdapter_; }

  void refresh();
  // The tab was opened: "&Refresh" is the default button, and an empty grid is fetched.
  void shown();
  // Another agent: its adapters are not this one's.
  void clearValues();

 private:
  // Hides the Ethernet and Token Ring rows no adapter needs.
  void applyRowVisibility();

  desktop::AgentSession& session_;
  AdapterModel model_;
  QGroupBox* fraOptions_;
  QPushButton* btnRefresh_;
  QLabel* lblTitle_;
  QTableView* gridAdapter_;
  QMenu* mnuPopupAdapter_;
};

}  // namespace veltris::console
