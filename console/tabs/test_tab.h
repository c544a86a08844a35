#pragma once
// The " &Test" tab: the agent's diagnostic commands ("Config", "Test", a
// checked command from the list) and their output. Opening the tab runs
// "CONFIG" once; in a snapshot it shows every output the file holds.
#include <QWidget>

class QComboBox;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;

namespace veltris::desktop {
class AgentSession;
}

namespace veltris::console {

class TestTab : public QWidget {
  Q_OBJECT
 public:
  explicit TestTab(desktop::AgentSession& session, QWidget* parent = nullptr);

  QString output() const;
  bool diagnosticRunning() const { return running_ > 0; }
  // The separator line between appended outputs.
  static QString separator() { return QString(57, QLatin1Char('-')); }

  // Runs "CMD " + word: replacing the output, or appending after a separator.
  void runDiagnostic(const QString& word, bool append = false);
  // The command check, then the run (btnCmd, Enter, a double-click in the list).
  void runTypedCommand(const QString& text);
  // "Ping" and "Net view" of the grids' menus: the tab is opened and runs `command`.
  void runFromGrid(const QString& command);
  // The tab was opened.
  void shown();
  void clearOutput();
  // Another agent: its outputs are not this one's, and replies of the last one's commands are dropped.
  void connectionChanged();

 signals:
  // runFromGrid wants the tab shown.
  void showRequested();

 private:
  void setButtonsEnabled(bool enabled);
  void fillFromSnapshot();

  desktop::AgentSession& session_;
  int running_ = 0;  // diagnostics in flight
  bool commandPending_ = false;  // a grid's menu opens the tab to run its own command
  QGroupBox* fraOptions_;  // "Diagnostic Commands"
  QPushButton* btnConfig_;
  QPushButton* btnTest_;
  QComboBox* cmbCmd_;
  QPushButton* btnCmd_;
  QPlainTextEdit* tbxTest_;
};

}  // namespace veltris::console
