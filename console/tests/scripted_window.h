#pragma once
// A main window without the tabs after Overview, on a scripted agent, with
// what it tells the tabs through its signals recorded.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <utility>
#include <vector>

#include "console/core/desktop_layer.h"
#include "console/tests/window_parts.h"
#include "console/widgets/trend_graph.h"
#include "console/windows/main_window.h"
#include "desktop/testing/test_support.h"

namespace veltris::console::testing {

using namespace veltris::desktop::test;

// What the main window told the tabs.
struct TabSignals {
  explicit TabSignals(MainWindow& window) {
    QObject::connect(&window, &MainWindow::partnerTableReset, [this] { ++partnerTableResets; });
    QObject::connect(&window, &MainWindow::statRecordsArrived,
                     [this](const std::vector<PartnerStatRecord>& r, bool day) { statBatches.emplace_back(r.size(), day); });
    QObject::connect(&window, &MainWindow::timeBaseChanged, [this](bool, const QString& per) { perText = per; });
    QObject::connect(&window, &MainWindow::countersCleared, [this](uint32_t sequence) { clears.push_back(sequence); });
    QObject::connect(&window, &MainWindow::clearReset, [this] { ++resetClears; });
  }
  int partnerTableResets = 0;
  std::vector<std::pair<size_t, bool>> statBatches;  // records, history day
  std::vector<uint32_t> clears;
  int resetClears = 0;
  QString perText;
};

struct ScriptedWindow {
  explicit ScriptedWindow(const QString& computer = QStringLiteral("host7"), bool installed = true) : root(installed) {
    auto owned = std::make_unique<ScriptedAccess>();
    script = owned.get();
    window = std::make_unique<MainWindow>(std::move(owned), computer);
    tabs = std::make_unique<TabSignals>(*window);
    // A connection dialog nobody expected would wait forever: close it and count it.
    unexpectedDialogs.setInterval(50);
    QObject::connect(&unexpectedDialogs, &QTimer::timeout, [this] {
      if (!watchDialogs) return;
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ++dialogsClosed;
        dialog->reject();
      }
    });
    unexpectedDialogs.start();
  }
  ~ScriptedWindow() {
    timerPoll(*window).stop();
    script->expectClose();
    window->close();
  }
  // Connect and HISTORY_LIST scripted; waits until polling is armed, then stops the timer.
  bool start(const Counts& counts, const std::vector<const char*>& days = {}, const std::string& name = "HOST7") {
    scriptConnect(*script, name);
    scriptHistoryList(*script, counts, days);
    if (!QTest::qWaitFor([&] { return timerPoll(*window).isActive(); }, 5000)) return false;
    timerPoll(*window).stop();
    return true;
  }
  bool idle() {
    return QTest::qWaitFor([&] { return script->finished() && !window->connection().busy(); }, 5000);
  }
  OverviewTab* overview() const { return testing::overview(*window); }
  float last(int graph) const { return overview()->graph(graph)->last(); }
  QComboBox* when() const { return part<QComboBox>(*overview(), "cmbHistory"); }
  // Picks entry `index` of the "When" box as a user does.
  void chooseWhen(int index) {
    when()->setCurrentIndex(index);
    emit when()->activated(index);
  }

  TestRoot root;
  MessageLog messages;
  QTimer unexpectedDialogs;
  bool watchDialogs = true;
  int dialogsClosed = 0;
  ScriptedAccess* script;
  std::unique_ptr<TabSignals> tabs;  // outlives the window
  std::unique_ptr<MainWindow> window;
};

// The agent's totals at start-up.
inline Counts baseCounts() {
  Counts c;
  c.sequence = 100;
  c.bytesSent = 1000.5f;
  c.framesSent = 10;
  c.broadcastsSent = 1;
  c.bytesReceived = 2000;
  c.framesReceived = 20;
  c.broadcastsReceived = 5;
  return c;
}

}  // namespace veltris::console::testing
