#pragma once
// QuickLook: the traffic state, the traffic table by kind, and the
// configuration report or full test of this PC's agent.
#include <optional>

#include <QDialog>

#include "tray/agent_link.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace veltris::tray {

class QuickLookWindow : public QDialog {
  Q_OBJECT
 public:
  // Takes `requests` over: they end with the window.
  QuickLookWindow(AgentRequests* requests, bool consoleInstalled, QWidget* parent = nullptr);
  ~QuickLookWindow() override;

  // The once-a-second refresh with the agent's reading.
  void refresh(const AgentReading& reading);
  void setConsoleInstalled(bool installed);

  // For tests: the cell text of the traffic table.
  QString cell(int row, int column) const;
  QString statusText() const;
  QString reportText() const;
  bool advancedEnabled() const;
  bool busy() const { return running_ > 0; }

 public slots:
  void runConfig();
  void runTest();
  void saveSnapshot();
  // Creates `path` first, then asks the agent for the snapshot that goes into it.
  void saveSnapshotTo(const QString& path);
  void showHelp();

 signals:
  void advancedRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void runRequest(const QString& request, bool waitCursor, const QString& saveTo = {});
  void buildTable();
  void setTitle(const AgentReading& reading);

  AgentRequests* requests_;
  QLabel* picture_;
  QLabel* status_;  // wraps: a refusal is longer than a traffic state
  QTreeWidget* table_;
  QPlainTextEdit* report_;
  QPushButton* advanced_;
  std::optional<AgentReading> previous_;
  QString hostName_;
  int running_ = 0;
  int waitCursors_ = 0;  // set by this window and not yet restored
};

}  // namespace veltris::tray
