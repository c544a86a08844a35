#include "console/tabs/console_tabs.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTabWidget>

#include <cstring>

#include "common/detail_record.h"
#include "console/adapter/command_check.h"
#include "console/core/desktop_layer.h"
#include "desktop/messages.h"
#include "console/tabs/device_tabs.h"
#include "console/tabs/grid_tabs.h"
#include "console/dialogs/small_dialogs.h"
#include "console/windows/main_window.h"
#include "console/windows/overview_tab.h"
#include "help/help_contexts.h"
#include "help/help_window.h"

namespace veltris::console {
namespace {

struct OidBytes {
  uint8_t bytes[kOidRecordSize];
};

constexpr char kWaiting[] = "\n\n  ...... Waiting for command to complete ......";

QString rightTrimmed(QString s) {
  while (!s.isEmpty() && s.back().isSpace()) s.chop(1);
  return s;
}

// The text of a "TXT4" reply as the box shows it.
QString replyText(const TextReply& reply) {
  const char* end = static_cast<const char*>(std::memchr(reply.text, '\0', sizeof reply.text));
  const qsizetype length = end != nullptr ? end - reply.text : static_cast<qsizetype>(sizeof reply.text);
  QString text = QString::fromLatin1(reply.text, length);
  text.replace("\r\n", "\n");
  return rightTrimmed(text);
}

}  // namespace

ConsoleTabs::ConsoleTabs(MainWindow& main, std::unique_ptr<SettingsStore> store, ProgramFinder installed)
    : QObject(&main), main_(main), store_(std::move(store)) {
  buildTabs();
  tools_ = std::make_unique<ToolsMenu>(
      QList<QAction*>{main_.mnuToolsNCPA, main_.mnuToolsServer, main_.mnuToolsTelnet, main_.mnuToolsTaskMgr,
                      main_.mnuToolsUserMgr, main_.mnuToolsEventViewer, main_.mnuToolsWinMSD},
      std::move(installed));
  buildMenus();
  buildPopups();
  main_.setTabViews(this);
  loaded_ = store_->load();
  applySettings(loaded_);
  for (int t = 0; t < MainWindow::TabCount; ++t)
    help::setHelpContext(main_.tabPage(static_cast<MainWindow::Tab>(t)), help::kTabBase + t);
  help::setHelpContext(&main_, help::kTabOverview);
  help::installHelpKey(&main_);
  main_.installEventFilter(this);
  connect(&main_, &MainWindow::connected, this, &ConsoleTabs::onConnected);
  connect(&main_, &MainWindow::tabRequested, this, [this](int index, bool broadcastsSent) {
    if (index == MainWindow::TabBroadcasts) (broadcastsSent ? broadcasts->optBcastSent : broadcasts->optBroadcasters)->setChecked(true);
  });
}

ConsoleTabs::~ConsoleTabs() = default;

void ConsoleTabs::buildTabs() {
  sessions = new SessionsTab;
  broadcasts = new BroadcastsTab;
  errors = new PacketsTab(true);
  details = new PacketsTab(false);
  adapter = new AdapterTab;
  test = new TestTab;
  main_.installTab(MainWindow::TabSessions, sessions);
  main_.installTab(MainWindow::TabBroadcasts, broadcasts);
  main_.installTab(MainWindow::TabErrors, errors);
  main_.installTab(MainWindow::TabDetails, details);
  main_.installTab(MainWindow::TabAdapter, adapter);
  main_.installTab(MainWindow::TabTest, test);

  // Sessions.
  connect(sessions->optTotals, &QRadioButton::toggled, this, [this](bool on) { if (on) sessions->model.setMode(CounterMode::Totals); });
  connect(sessions->optCounter, &QRadioButton::toggled, this, [this](bool on) { if (on) sessions->model.setMode(CounterMode::Count); });
  connect(sessions->optDelta, &QRadioButton::toggled, this, [this](bool on) { if (on) sessions->model.setMode(CounterMode::Delta); });
  for (QPushButton* clear : {sessions->btnClear, errors->btnClear, details->btnClear})
    connect(clear, &QPushButton::clicked, main_.overview()->btnClear, &QPushButton::click);
  auto sortOnClick = [this](QTableView* grid, auto* model, auto sortError) {
    connect(grid->horizontalHeader(), &QHeaderView::sectionClicked, this, [this, model, sortError](int column) {
      const QString error = sortError(column);
      if (!error.isEmpty()) {
        showMessage(&main_, error);
        return;
      }
      model->sort(column);
    });
  };
  sortOnClick(sessions->gridSess, &sessions->model, &SessionsModel::sortError);
  sortOnClick(broadcasts->gridBcast, &broadcasts->model, &BroadcastsModel::sortError);

  // The counter columns shown, chosen from the header's menu and kept in the settings.
  QHeaderView* header = sessions->gridSess->horizontalHeader();
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& at) {
    QMenu menu;
    for (int c = SessionsModel::kFirstCounterColumn; c < SessionsModel::kVisibleColumns; ++c) {
      QAction* shown = menu.addAction(sessions->model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
      shown->setCheckable(true);
      shown->setChecked(!sessions->gridSess->isColumnHidden(c));
      connect(shown, &QAction::toggled, this, [this, c](bool on) { sessions->gridSess->setColumnHidden(c, !on); });
    }
    menu.exec(header->mapToGlobal(at));
  });

  // Broadcasts.
  connect(broadcasts->btnBcastRefresh, &QPushButton::clicked, this, &ConsoleTabs::refreshBroadcasts);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{broadcasts->optBcastSent, broadcasts->optBroadcasters})
    connect(b, &QAbstractButton::toggled, this, [this](bool on) { if (on && main_.connection().isOpen()) refreshBroadcasts(); });
  connect(broadcasts->chkBcastLowLevelDescr, &QCheckBox::toggled, this, [this] { if (main_.connection().isOpen()) refreshBroadcasts(); });

  // Errors and details.
  for (PacketsTab* tab : {errors, details}) {
    connect(tab->btnRefresh, &QPushButton::clicked, this, [this, tab] { refreshPackets(tab, tab->errors ? "ERRORS" : "DETAILS"); });
    connect(tab->chkLowLevel, &QCheckBox::toggled, tab, [tab](bool on) { tab->showLowLevel(on); });
  }
  connect(details->chkExcludeRecvBC, &QCheckBox::toggled, this, [this](bool on) { details->model.setExcludeReceivedBroadcasts(on); });

  // Adapter and Test.
  connect(adapter->btnRefresh, &QPushButton::clicked, this, &ConsoleTabs::refreshAdapter);
  connect(test->btnConfig, &QPushButton::clicked, this, [this] { runDiagnostic("CONFIG"); });
  connect(test->btnTest, &QPushButton::clicked, this, [this] { runDiagnostic("TEST"); });
  connect(test->btnCmd, &QPushButton::clicked, this, [this] { runTypedCommand(test->cmbCmd->currentText()); });
  connect(test->cmbCmd->lineEdit(), &QLineEdit::returnPressed, this, [this] { runTypedCommand(test->cmbCmd->currentText()); });
  connect(test->cmbCmd->view(), &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    test->cmbCmd->hidePopup();
    test->cmbCmd->setCurrentIndex(index.row());
    runTypedCommand(index.data().toString());
  });
  connect(adapter->gridAdapter, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { showPopup(mnuPopupAdapter, adapter->gridAdapter, at); });
  connect(sessions->gridSess, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { showPopup(mnuPopupStats, sessions->gridSess, at); });
  connect(broadcasts->gridBcast, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { showPopup(mnuPopupStats, broadcasts->gridBcast, at); });
  for (PacketsTab* tab : {errors, details})
    connect(tab->grid, &QWidget::customContextMenuRequested, this,
            [this, tab](const QPoint& at) { showPopup(mnuPopupDetails, tab->grid, at); });
}

// ---- The poll cycle's side ----------------------------------------------------------

int ConsoleTabs::sessionAndBroadcastDataRows() const {
  return sessions->model.rowCount() + broadcasts->model.rowCount();
}

void ConsoleTabs::clearSessionAndBroadcastGrids() {
  sessions->model.clear();
  broadcasts->model.clear();
}

void ConsoleTabs::takeStatRecords(const std::vector<PartnerStatRecord>& records, bool historyDay) {
  SessionsModel& model = sessions->model;
  model.beginPoll(historyDay);
  for (const PartnerStatRecord& record : records)
    if (std::memcmp(record.tag, kPartnerStatTag, 4) == 0) model.applyRecord(record);
  model.endPoll();
  if (historyDay) model.resort();
}

void ConsoleTabs::clearForNewTimeBase() {
  sessions->model.clear();
  broadcasts->model.clear();
  errors->model.clear();
  details->model.clear();
  test->tbxTest->clear();
}

void ConsoleTabs::setTimeBase(bool realTime, const QString& perText) {
  for (QRadioButton* b : {sessions->optTotals, sessions->optCounter, sessions->optDelta}) b->setVisible(realTime);
  sessions->btnClear->setVisible(realTime);
  if (realTime) {
    sessions->optDelta->setText(tr("Per ") + perText);
    fetchAllPartners();
  } else {
    sessions->optTotals->setChecked(true);
  }
}

void ConsoleTabs::fetchAllPartners() {
  // The poll asks only for partners newer than the sequence number it last
  // saw: fetch every partner once, so the grid does not wait for each to talk again.
  RequestJob job{"STATS_PRO " + signedText(0),
                 {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                  {{'S', 'T', 'A', 'T'}, sizeof(PartnerStatRecord), ReadStep::WhileTag}},
                 {},
                 main_.connection().view(),
                 {}};
  main_.connection().send(std::move(job), this, [this](const Reply& reply) {
    if (reply.ok) takeStatRecords(reply.records<PartnerStatRecord>(1), false);
  });
}

void ConsoleTabs::applyClear(uint32_t sequence) {
  detailsSeen_ = errorsSeen_ = sequence;
  errors->model.clear();
  details->model.clear();
  sessions->model.takeBaseline();
  if (sessions->model.mode() == CounterMode::Count) sessions->optCounter->setChecked(true);
}

void ConsoleTabs::resetClear() {
  sessions->model.dropBaseline();
  sessions->optTotals->setChecked(true);
  detailsSeen_ = errorsSeen_ = 0;
  // From 0 the agent sends every packet it holds again: start the grids afresh.
  errors->model.clear();
  details->model.clear();
  const int shown = main_.tabs()->currentIndex();
  if (shown == MainWindow::TabErrors) refreshPackets(errors, "ERRORS");
  if (shown == MainWindow::TabDetails) refreshPackets(details, "DETAILS");
}

void ConsoleTabs::tabShown(int index) {
  help::setHelpContext(&main_, help::kTabBase + index);
  if (shownGrid_ != nullptr) shareColumnWidths(shownGrid_);
  shownGrid_ = nullptr;
  switch (index) {
    case MainWindow::TabSessions:
      shownGrid_ = sessions->gridSess;
      sessions->model.resort();
      break;
    case MainWindow::TabBroadcasts:
      shownGrid_ = broadcasts->gridBcast;
      refreshBroadcasts();
      break;
    case MainWindow::TabErrors:
      shownGrid_ = errors->grid;
      refreshPackets(errors, "ERRORS");
      break;
    case MainWindow::TabDetails:
      shownGrid_ = details->grid;
      refreshPackets(details, "DETAILS");
      break;
    case MainWindow::TabAdapter:
      adapter->btnRefresh->setDefault(true);
      adapter->btnRefresh->setFocus();
      if (adapter->model.value(0, 0).isEmpty() && main_.connection().isOpen()) refreshAdapter();
      break;
    case MainWindow::TabTest:
      if (commandPending_) break;
      if (main_.connection().snapshot()) {
        fillTestFromSnapshot();
      } else if (test->tbxTest->toPlainText().isEmpty()) {
        test->btnConfig->setFocus();
        runDiagnostic("CONFIG");
      } else {
        test->cmbCmd->setFocus();
      }
      break;
    default:
      break;
  }
}

void ConsoleTabs::showLoopbackWarning() {
  auto* warning = new LoopbackWarningDialog(&main_);
  warning->show();
}

void ConsoleTabs::connectionReady(bool local, const QString& serverName) {
  local_ = local && !main_.connection().snapshot();
  serverName_ = serverName;
  tools_->update(local_, serverName);
  // Another agent: its packet numbers, adapters and outputs are not this one's.
  detailsSeen_ = errorsSeen_ = 0;
  errors->model.clear();
  details->model.clear();
  adapter->model.clearValues();
  adapter->applyRowVisibility();
  test->tbxTest->clear();
  // Replies of the last connection's commands are dropped: nothing runs any more.
  running_ = 0;
  for (QPushButton* b : {test->btnConfig, test->btnTest, test->btnCmd}) b->setEnabled(true);
}

// ---- Fetches ------------------------------------------------------------------------

void ConsoleTabs::refreshBroadcasts() {
  const bool sent = broadcasts->optBcastSent->isChecked();
  const bool low = broadcasts->chkBcastLowLevelDescr->isChecked();
  broadcasts->model.setView(sent, low);
  RequestJob job{QString(sent ? "BCASTSENT" : "BCASTERS") + (low ? " LOW" : " HIGH"),
                 {{{'B', 'H', 'D', 'R'}, sizeof(BroadcastHeaderRecord), ReadStep::One},
                  {{'B', 'E', 'N', 'T'}, sizeof(BroadcastEntryRecord), ReadStep::WhileTag}},
                 {}};
  main_.connection().send(std::move(job), this, [this, sent](const Reply& reply) {
    if (!reply.ok) {
      showMessage(&main_, tr("VELTRIS ERROR - Request failure"));
      return;
    }
    BroadcastHeaderRecord header{};
    if (!reply.first(0, header) || std::memcmp(header.tag, kBroadcastHeaderTag, 4) != 0) {
      showMessage(&main_, tr("VELTRIS ERROR - Reply failure"));
      return;
    }
    broadcasts->lblTitle->setText(broadcastSummary(
        sent, header.windowCount.get(), header.entryCount.get(), serverName_,
        QString::fromLatin1(header.windowStart, static_cast<qsizetype>(strnlen(header.windowStart, sizeof header.windowStart))),
        QString::fromLatin1(header.now, static_cast<qsizetype>(strnlen(header.now, sizeof header.now)))));
    broadcasts->model.setEntries(reply.records<BroadcastEntryRecord>(1));
  });
}

void ConsoleTabs::refreshPackets(PacketsTab* tab, const QString& requested) {
  QString word = requested;
  if (word != "DETAILS" && word != "ERRORS") {
    showMessage(&main_, tr("DETAILS REQUEST ERROR"));
    word = "DETAILS";
  }
  uint32_t& seen = tab->errors ? errorsSeen_ : detailsSeen_;
  RequestJob job{word + signedText(static_cast<int32_t>(seen)),
                 {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                  {{'D', 'E', 'T', 'L'}, sizeof(DetailRecord), ReadStep::WhileTag}},
                 {},
                 {},
                 word};  // appends rows: one refresh at a time
  main_.connection().send(std::move(job), this, [this, tab, &seen](const Reply& reply) {
    const QString title = "ERROR in DETAILS";
    if (!reply.ok) {
      showMessage(&main_, tr("Request for Total Stats FAILED"), title);
      return;
    }
    TotalsRecord totals{};
    if (!reply.first(0, totals) || reply.parts[0].firstReadFailed) {
      showMessage(&main_, tr("Read of Total Stats FAILED"), title);
      return;
    }
    if (totals.sequence.get() == seen) return;  // nothing new: the rows stay
    seen = totals.sequence.get();
    tab->grid->setUpdatesEnabled(false);
    tab->model.append(reply.records<DetailRecord>(1));
    tab->grid->setUpdatesEnabled(true);
    tab->grid->scrollToBottom();
  });
}

void ConsoleTabs::refreshAdapter() {
  adapter->model.clearValues();
  RequestJob job{"OID", {{{'O', 'I', 'D', ' '}, static_cast<int>(kOidRecordSize), ReadStep::WhileTag}}, {}};
  main_.connection().send(std::move(job), this, [this](const Reply& reply) {
    if (!reply.ok) return;
    for (const OidBytes& record : reply.records<OidBytes>(0)) adapter->model.applyRecord(record.bytes, sizeof record.bytes);
    adapter->applyRowVisibility();
  });
}

// ---- Diagnostics --------------------------------------------------------------------

void ConsoleTabs::runDiagnostic(const QString& word, bool append) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!append) {
    test->tbxTest->setPlainText(kWaiting);
    test->tbxTest->repaint();
  }
  ++running_;
  for (QPushButton* b : {test->btnConfig, test->btnTest, test->btnCmd}) b->setEnabled(false);
  RequestJob job{"CMD " + word, {{{'T', 'X', 'T', '4'}, sizeof(TextReply), ReadStep::One}}, {}};
  main_.connection().send(std::move(job), this, [this, append](const Reply& reply) {
    QApplication::restoreOverrideCursor();
    if (--running_ == 0)
      for (QPushButton* b : {test->btnConfig, test->btnTest, test->btnCmd}) b->setEnabled(true);
    TextReply text{};
    if (!reply.ok || !reply.first(0, text) || std::memcmp(text.tag, kTextReplyTag, 4) != 0) {
      if (!append && test->tbxTest->toPlainText() == kWaiting) test->tbxTest->clear();
      return;
    }
    if (append) {
      test->tbxTest->appendPlainText(TestTab::separator() + "\n" + replyText(text));
    } else {
      test->tbxTest->setPlainText("\n" + replyText(text));
    }
  });
}

void ConsoleTabs::runTypedCommand(const QString& text) {
  const CommandCheck check = checkCommand(text);
  if (!check.accepted) {
    showMessage(&main_, check.refusal);
    return;
  }
  runDiagnostic(check.command);
}

void ConsoleTabs::runFromGrid(const QString& command) {
  commandPending_ = true;
  main_.tabs()->setCurrentIndex(MainWindow::TabTest);
  commandPending_ = false;
  test->cmbCmd->setEditText(command);
  runTypedCommand(command);
}

void ConsoleTabs::fillTestFromSnapshot() {
  runDiagnostic("CONFIG");
  for (const char* word : {"SUBNET", "NETSTAT -n", "ARP -a", "ROUTE PRINT", "IPCONFIG -all"}) runDiagnostic(word, true);
}

}  // namespace veltris::console
