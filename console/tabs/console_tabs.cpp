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

struct Tabs {
  SessionsTab* sessions;
  BroadcastsTab* broadcasts;
  PacketsTab* errors;
  PacketsTab* details;
  AdapterTab* adapter;
  TestTab* test;
};

// Each poll's partners, the agent's partner table reset, a new time base.
void followPolls(MainWindow& window, const Tabs& t) {
  QObject::connect(&window, &MainWindow::statRecordsArrived, t.sessions, &SessionsTab::takeStatRecords);
  QObject::connect(&window, &MainWindow::partnerTableReset, t.sessions, [t] {
    t.sessions->clearRows();
    t.broadcasts->clearRows();
  });
  QObject::connect(&window, &MainWindow::timeBaseChanged, t.sessions, [t](bool realTime, const QString& perText) {
    t.broadcasts->clearRows();
    t.errors->clearRows();
    t.details->clearRows();
    t.test->clearOutput();
    t.sessions->setTimeBase(realTime, perText);
  });
}

// "&Clear" on the Overview, Sessions, Errors and Details tabs, and "&Reset CLEAR".
void followClears(MainWindow& window, const Tabs& t) {
  QObject::connect(t.sessions, &SessionsTab::clearRequested, &window, &MainWindow::clearCounters);
  for (PacketsTab* tab : {t.errors, t.details})
    QObject::connect(tab, &PacketsTab::clearRequested, &window, &MainWindow::clearCounters);
  QObject::connect(&window, &MainWindow::countersCleared, t.sessions, [t](uint32_t sequence) {
    t.errors->restartAfter(sequence);
    t.details->restartAfter(sequence);
    t.sessions->takeBaseline();
  });
  QObject::connect(&window, &MainWindow::clearReset, t.sessions, [w = &window, t] {
    t.sessions->dropBaseline();
    // From 0 the agent sends every packet it holds again: start the grids afresh.
    t.errors->restartAfter(0);
    t.details->restartAfter(0);
    if (w->currentTab() == MainWindow::TabErrors) t.errors->refresh();
    if (w->currentTab() == MainWindow::TabDetails) t.details->refresh();
  });
}

// Another agent or snapshot: its packet numbers, adapters and outputs are not the last one's.
void followConnections(MainWindow& window, const Tabs& t) {
  QObject::connect(&window, &MainWindow::connectionReady, t.sessions, [t](bool, const QString& serverName) {
    t.broadcasts->setServerName(serverName);
    t.errors->restartAfter(0);
    t.details->restartAfter(0);
    t.adapter->clearValues();
    t.test->connectionChanged();
  });
  QObject::connect(&window, &MainWindow::connected, t.broadcasts, [w = &window, t] {
    if (w->connection().snapshot()) t.broadcasts->setServerName(w->hostName().trimmed());
  });
}

// Opening a tab fetches what it shows; a graph's menu picks the broadcasts' view.
void followTabChanges(MainWindow& window, const Tabs& t, SharedColumns* columns) {
  QObject::connect(&window, &MainWindow::tabShown, t.sessions, [t, columns](int index) {
    QTableView* grids[MainWindow::TabCount] = {nullptr, t.sessions->grid(), t.broadcasts->grid(), t.errors->grid(),
                                               t.details->grid()};
    columns->gridShown(grids[index]);
    switch (index) {
      case MainWindow::TabSessions: t.sessions->shown(); break;
      case MainWindow::TabBroadcasts: t.broadcasts->refresh(); break;
      case MainWindow::TabErrors: t.errors->refresh(); break;
      case MainWindow::TabDetails: t.details->refresh(); break;
      case MainWindow::TabAdapter: t.adapter->shown(); break;
      case MainWindow::TabTest: t.test->shown(); break;
      default: break;
    }
  });
  QObject::connect(&window, &MainWindow::tabRequested, t.broadcasts, [t](int index, bool broadcastsSent) {
    if (index == MainWindow::TabBroadcasts) t.broadcasts->showSentView(broadcastsSent);
  });
  QObject::connect(t.test, &TestTab::showRequested, &window, [w = &window] { w->showTab(MainWindow::TabTest); });
}

// The grids' row menus: the Details tab, a command on the Test tab, another console.
template <typename Tab>
void followRowMenu(MainWindow& window, Tab* tab, TestTab* test) {
  QObject::connect(tab, &Tab::commandRequested, test, &TestTab::runFromGrid);
  QObject::connect(tab, &Tab::consoleRequested, &window, &MainWindow::startNewInstance);
  if constexpr (requires { &Tab::detailsRequested; })
    QObject::connect(tab, &Tab::detailsRequested, &window, [w = &window] { w->showTab(MainWindow::TabDetails); });
}

}  // namespace

void installConsoleTabs(MainWindow& window, std::unique_ptr<SettingsStore> store, ProgramFinder installed) {
  AgentSession& session = window.connection();
  const Tabs t{new SessionsTab(session), new BroadcastsTab(session), new PacketsTab(PacketsTab::Errors, session),
               new PacketsTab(PacketsTab::Details, session), new AdapterTab(session), new TestTab(session)};
  window.installTab(MainWindow::TabSessions, t.sessions);
  window.installTab(MainWindow::TabBroadcasts, t.broadcasts);
  window.installTab(MainWindow::TabErrors, t.errors);
  window.installTab(MainWindow::TabDetails, t.details);
  window.installTab(MainWindow::TabAdapter, t.adapter);
  window.installTab(MainWindow::TabTest, t.test);
  window.installTools(std::move(installed));
  auto* columns =
      new SharedColumns({t.sessions->grid(), t.broadcasts->grid(), t.errors->grid(), t.details->grid()}, &window);
  new SavedOptions(window, std::move(store), *columns, *t.sessions);

  followPolls(window, t);
  followClears(window, t);
  followConnections(window, t);
  followTabChanges(window, t, columns);
  followRowMenu(window, t.sessions, t.test);
  followRowMenu(window, t.broadcasts, t.test);
  followRowMenu(window, t.errors, t.test);
  followRowMenu(window, t.details, t.test);
}

}  // namespace veltris::console
