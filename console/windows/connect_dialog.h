#pragma once
// ConnectDialog, "VELTRIS Connection": picks the local agent or a remote computer,
// browses the network for computers, and connects with the typed password.
#include <QDialog>
#include <functional>

#include "console/core/network_browser.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace veltris::desktop {
class AgentSession;
}

namespace veltris::console {

using desktop::AgentSession;

class ConnectDialog : public QDialog {
  Q_OBJECT
 public:
  // `currentServer`: sServer of the main window; `stayOnTop`: the main
  // window's "&Window Always in Foreground" is ticked and enabled.
  ConnectDialog(AgentSession& connection, const QString& currentServer, bool stayOnTop, QWidget* parent = nullptr);

  // Results, read after the dialog closed.
  bool PubLoginCancelled = true;
  QString PubLoginServer;
  QString PubLoginServerName;

  // Replaces the network browse (tests).
  void setBrowser(std::function<BrowseResult()> browse) { browse_ = std::move(browse); }

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void ok(bool fromCancel);
  void cancel();
  void browse();
  void showBrowseResult(const BrowseResult& result);
  void setBusy(bool busy);

  AgentSession& connection_;
  QLabel* lblComputerName_;
  QLineEdit* txtServer_;
  QLineEdit* tbxPassword_;
  QPushButton* btnRemote_;
  QPushButton* btnCancel_;
  QPushButton* btnBrowse_;
  QListWidget* lstServers_;
  QString currentServer_;
  bool installed_;
  bool busy_ = false;
  bool keyRefused_ = false;  // this connect's password was refused
  std::function<BrowseResult()> browse_;
  bool browsing_ = false;
};

}  // namespace veltris::console
