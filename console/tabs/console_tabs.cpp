#include "console/tabs/console_tabs.h"

#include <QTableView>

#include "console/settings/saved_options.h"
#include "console/tabs/adapter_tab.h"
#include "console/tabs/broadcasts_tab.h"
#include "console/tabs/packets_tab.h"
#include "console/tabs/sessions_tab.h"
#include "console/tabs/shared_columns.h"
#include "console/tabs/test_tab.h"
#include "console/windows/main_window.h"

namespace veltris::console {
namespace {

// The grid tabs' row menus: details, a command on the Test tab, another console.
template <typename Tab>
void connectRowMenu(MainWindow& window, Tab* tab, TestTab* test) {
  QObject::connect(tab, &Tab::commandRequested, test, &TestTab::runFromGrid);
  QObject::connect(tab, &Tab::consoleRequested, &window, &MainWindow::startNewInstance);
}

}  // namespace

void installConsoleTabs(MainWindow& window, std::unique_ptr<SettingsStore> store, ProgramFinder installed) {
  AgentSession& session = window.connection();
  auto* sessions = new SessionsTab(session);
  auto* broadcasts = new BroadcastsTab(session);
  auto* errors = new PacketsTab(PacketsTab::Errors, session);
  auto* details = new PacketsTab(PacketsTab::Details, session);
  auto* adapter = new AdapterTab(session);
  auto* test = new TestTab(session);
  window.installTab(MainWindow::TabSessions, sessions);
  window.installTab(MainWindow::TabBroadcasts, broadcasts);
  window.installTab(MainWindow::TabErrors, errors);
  window.installTab(MainWindow::TabDetails, details);
  window.installTab(MainWindow::TabAdapter, adapter);
  window.installTab(MainWindow::TabTest, test);
  window.installTools(std::move(installed));
  auto* columns = new SharedColumns({sessions->grid(), broadcasts->grid(), errors->grid(), details->grid()}, &window);
  new SavedOptions(window, std::move(store), *columns, *sessions);

  // The poll cycle and the time base.
  QObject::connect(&window, &MainWindow::statRecordsArrived, sessions, &SessionsTab::takeStatRecords);
  QObject::connect(&window, &MainWindow::partnerTableReset, sessions, [sessions, broadcasts] {
    sessions->clearRows();
    broadcasts->clearRows();
  });
  QObject::connect(&window, &MainWindow::timeBaseChanged, sessions,
                   [broadcasts, errors, details, test, sessions](bool realTime, const QString& perText) {
                     broadcasts->clearRows();
                     errors->clearRows();
                     details->clearRows();
                     test->clearOutput();
                     sessions->setTimeBase(realTime, perText);
                   });

  // "&Clear" and "&Reset CLEAR".
  QObject::connect(sessions, &SessionsTab::clearRequested, &window, &MainWindow::clearCounters);
  for (PacketsTab* tab : {errors, details})
    QObject::connect(tab, &PacketsTab::clearRequested, &window, &MainWindow::clearCounters);
  QObject::connect(&window, &MainWindow::countersCleared, sessions, [sessions, errors, details](uint32_t sequence) {
    errors->restartAfter(sequence);
    details->restartAfter(sequence);
    sessions->takeBaseline();
  });
  QObject::connect(&window, &MainWindow::clearReset, sessions, [&window, sessions, errors, details] {
    sessions->dropBaseline();
    // From 0 the agent sends every packet it holds again: start the grids afresh.
    errors->restartAfter(0);
    details->restartAfter(0);
    if (window.currentTab() == MainWindow::TabErrors) errors->refresh();
    if (window.currentTab() == MainWindow::TabDetails) details->refresh();
  });

  // Another agent or snapshot: its packet numbers, adapters and outputs are not the last one's.
  QObject::connect(&window, &MainWindow::connectionReady, sessions,
                   [broadcasts, errors, details, adapter, test](bool, const QString& serverName) {
                     broadcasts->setServerName(serverName);
                     errors->restartAfter(0);
                     details->restartAfter(0);
                     adapter->clearValues();
                     test->connectionChanged();
                   });
  QObject::connect(&window, &MainWindow::connected, broadcasts, [&window, broadcasts] {
    if (window.connection().snapshot()) broadcasts->setServerName(window.hostName().trimmed());
  });

  // Opening a tab.
  QObject::connect(&window, &MainWindow::tabShown, sessions,
                   [=](int index) {
                     QTableView* grids[MainWindow::TabCount] = {nullptr, sessions->grid(), broadcasts->grid(),
                                                                 errors->grid(), details->grid()};
                     columns->gridShown(grids[index]);
                     switch (index) {
                       case MainWindow::TabSessions: sessions->shown(); break;
                       case MainWindow::TabBroadcasts: broadcasts->refresh(); break;
                       case MainWindow::TabErrors: errors->refresh(); break;
                       case MainWindow::TabDetails: details->refresh(); break;
                       case MainWindow::TabAdapter: adapter->shown(); break;
                       case MainWindow::TabTest: test->shown(); break;
                       default: break;
                     }
                   });
  QObject::connect(&window, &MainWindow::tabRequested, broadcasts, [broadcasts](int index, bool broadcastsSent) {
    if (index == MainWindow::TabBroadcasts) broadcasts->showSentView(broadcastsSent);
  });
  QObject::connect(test, &TestTab::showRequested, &window, [&window] { window.showTab(MainWindow::TabTest); });

  // The row menus.
  auto showDetails = [&window] { window.showTab(MainWindow::TabDetails); };
  QObject::connect(sessions, &SessionsTab::detailsRequested, &window, showDetails);
  QObject::connect(broadcasts, &BroadcastsTab::detailsRequested, &window, showDetails);
  connectRowMenu(window, sessions, test);
  connectRowMenu(window, broadcasts, test);
  connectRowMenu(window, errors, test);
  connectRowMenu(window, details, test);
}

}  // namespace veltris::console
