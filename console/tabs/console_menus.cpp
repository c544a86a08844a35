// The console menus: snapshots and packet export, options and settings,
// help, legend and about, and the grids' right-click menus.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <filesystem>

#include "console/core/desktop_layer.h"
#include "desktop/agent_facts.h"
#include "desktop/messages.h"
#include "desktop/traffic_state.h"
#include "console/tabs/console_tabs.h"
#include "console/tabs/device_tabs.h"
#include "console/tabs/grid_tabs.h"
#include "console/dialogs/small_dialogs.h"
#include "console/snapshots/pcap_export.h"
#include "console/windows/main_window.h"
#include "help/help_window.h"
#include "platform/system_root.h"

namespace veltris::console {
namespace {

constexpr char kSnapshotFilter[] = "VELTRIS Snapshot Files (*.vsn *.VSN)";

// The name or address a grid row stands for: its host name, else the address
// of its protocol text ("IP 10.0.0.5" gives "10.0.0.5"; an IPv6 partner's text
// is its address, unless cut with "~"), else its station.
QString rowName(const QAbstractItemModel* model, int row) {
  const QString name = model->index(row, 4).data().toString().trimmed();
  if (!name.isEmpty()) return name;
  const QString protocol = model->index(row, 2).data().toString().trimmed();
  if (protocol.startsWith("IP ")) return protocol.mid(3).trimmed();
  if (protocol.contains(':') && !protocol.contains('~') && !protocol.contains(' ')) return protocol;
  return model->index(row, 1).data().toString().trimmed();
}

}  // namespace

void ConsoleTabs::buildMenus() {
  connect(main_.mnuFileSave, &QAction::triggered, this, &ConsoleTabs::chooseAndSaveSnapshot);
  connect(main_.mnuFileOpen, &QAction::triggered, this, &ConsoleTabs::chooseAndOpenSnapshot);
  mnuFileExport = new QAction("Export Packets...", &main_);
  mnuFileExport->setObjectName("mnuFileExport");
  if (auto* file = qobject_cast<QMenu*>(main_.mnuFileSave->parent()); file != nullptr)
    file->insertAction(main_.mnuExit, mnuFileExport);
  connect(mnuFileExport, &QAction::triggered, this, &ConsoleTabs::chooseAndExportPackets);

  connect(main_.mnuOptForeground, &QAction::toggled, this, &ConsoleTabs::setForeground);
  for (QAction* a : {main_.mnuOptTabsBottom, main_.mnuShowIcons, main_.mnuTabsCompact})
    connect(a, &QAction::toggled, this, &ConsoleTabs::applyTabStyle);
  connect(main_.mnuHelpContents, &QAction::triggered, this, [this] {
    if (!help::showContents(&main_))
      showMessage(&main_, tr("Unable to display Help Contents. There is no Help associated with this project."));
  });
  connect(main_.mnuHelpIndex, &QAction::triggered, this, [this] {
    if (!help::showIndex(&main_))
      showMessage(&main_, tr("Unable to display Help Index. There is no Help associated with this project."));
  });
  connect(main_.mnuLegend, &QAction::triggered, this, [this] {
    QList<QIcon> pictures;
    for (int p = 1; p <= 6; ++p) pictures << QIcon(statusPicturePath(static_cast<TrafficPicture>(p)));
    LegendDialog legend(pictures, main_.mnuOptForeground->isChecked(), &main_);
    legend.exec();
  });
  connect(main_.mnuHelpAbout, &QAction::triggered, this, [this] {
    AboutDialog about(main_.mnuOptForeground->isChecked(), &main_);
    about.exec();
  });
  for (QAction* a : {main_.mnuFileOpen, main_.mnuFileSave, main_.mnuOptForeground, main_.mnuOptTabsBottom,
                     main_.mnuShowIcons, main_.mnuTabsCompact, main_.mnuOptSaveSettings, main_.mnuHelpContents,
                     main_.mnuHelpIndex, main_.mnuLegend, main_.mnuHelpAbout})
    a->setEnabled(true);
}

void ConsoleTabs::buildPopups() {
  mnuPopupStats = new QMenu(&main_);
  mnuPopupStats->setObjectName("mnuPopupStats");
  mnuPopupDetails = new QMenu(&main_);
  mnuPopupDetails->setObjectName("mnuPopupDetails");
  mnuPopupAdapter = new QMenu(&main_);
  mnuPopupAdapter->setObjectName("mnuPopupAdapter");

  popupDetails_ = mnuPopupStats->addAction(tr("Details for name/addr"), this,
                                           [this] { main_.tabs()->setCurrentIndex(MainWindow::TabDetails); });
  QMenu* menus[2] = {mnuPopupStats, mnuPopupDetails};
  for (int m = 0; m < 2; ++m) {
    popupPing_[m] = menus[m]->addAction(tr("Ping name/addr"), this, [this] { runFromGrid(tr("PING ") + clickedName_); });
    popupNetView_[m] = menus[m]->addAction(tr("Net view \\\\name"), this, [this] { runFromGrid(tr("NET VIEW \\\\") + clickedName_); });
    popupVeltris_[m] = menus[m]->addAction(tr("VELTRIS name/addr"), this, [this] { main_.startNewInstance(clickedName_); });
    menus[m]->addAction(tr("Copy to Clipboard"), this, [this] {
      if (clickedGrid_ != nullptr) QGuiApplication::clipboard()->setText(gridText(clickedGrid_));
    });
  }
  mnuPopupAdapter->addAction(tr("Copy to Clipboard"), this,
                             [this] { QGuiApplication::clipboard()->setText(gridText(adapter->gridAdapter)); });
}

void ConsoleTabs::showPopup(QMenu* menu, QTableView* grid, const QPoint& at) {
  clickedGrid_ = grid;
  const QModelIndex index = grid->indexAt(at);
  if (menu != mnuPopupAdapter) {
    clickedName_ = index.isValid() ? rowName(grid->model(), index.row()) : QString();
    const bool named = !clickedName_.isEmpty();
    for (int m = 0; m < 2; ++m) {
      popupPing_[m]->setText(tr("Ping ") + clickedName_);
      popupNetView_[m]->setText(tr("Net View \\\\") + clickedName_);
      popupVeltris_[m]->setText(tr("VELTRIS ") + clickedName_);
      for (QAction* a : {popupPing_[m], popupNetView_[m], popupVeltris_[m]}) a->setEnabled(named);
    }
    popupDetails_->setEnabled(named);
  }
  menu->popup(grid->viewport()->mapToGlobal(at));
}

// ---- Settings -----------------------------------------------------------------------

void ConsoleTabs::applySettings(const ConsoleSettings& s) {
  if (!s.mainGeometry.isNull()) main_.setGeometry(s.mainGeometry);
  const QSignalBlocker b1(main_.mnuOptTabsBottom), b2(main_.mnuShowIcons), b3(main_.mnuTabsCompact);
  main_.mnuOptSaveSettings->setChecked(s.saveSettings);
  main_.mnuOptTabsBottom->setChecked(s.tabsBottom);
  main_.mnuShowIcons->setChecked(s.tabsIcons);
  main_.mnuTabsCompact->setChecked(s.tabsCompact);
  applyTabStyle();
  main_.mnuOptForeground->setChecked(s.foreground);
  for (QTableView* grid : sharedGrids())
    for (int c = 1; c <= 5; ++c) grid->setColumnWidth(c, s.columnWidths[static_cast<size_t>(c - 1)]);
  for (int i = 0; i < SessionsModel::kCounters; ++i)
    sessions->gridSess->setColumnHidden(SessionsModel::kFirstCounterColumn + i, !s.counterShown[static_cast<size_t>(i)]);
}

void ConsoleTabs::applyTabStyle() {
  QTabWidget* tabs = main_.tabs();
  tabs->setTabPosition(main_.mnuOptTabsBottom->isChecked() ? QTabWidget::South : QTabWidget::North);
  tabs->setIconSize(main_.mnuShowIcons->isChecked() ? QSize(16, 16) : QSize(0, 0));
  tabs->tabBar()->setStyleSheet(main_.mnuTabsCompact->isChecked() ? "QTabBar::tab { padding: 2px 4px; min-width: 0px; }"
                                                                  : "QTabBar::tab { padding: 4px 12px; min-width: 90px; }");
}

void ConsoleTabs::setForeground(bool on) {
  const bool visible = main_.isVisible();
  main_.setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (visible) main_.show();
}

QList<QTableView*> ConsoleTabs::sharedGrids() const {
  return {sessions->gridSess, broadcasts->gridBcast, errors->grid, details->grid};
}

void ConsoleTabs::shareColumnWidths(QTableView* grid) {
  for (int c = 1; c <= 5; ++c) {
    const int width = grid->columnWidth(c);
    if (width <= 0) continue;
    for (QTableView* other : sharedGrids())
      if (other != grid) other->setColumnWidth(c, width);
  }
}

ConsoleSettings ConsoleTabs::currentSettings() const {
  ConsoleSettings s = loaded_;
  s.saveSettings = main_.mnuOptSaveSettings->isChecked();
  s.foreground = main_.mnuOptForeground->isChecked();
  s.tabsBottom = main_.mnuOptTabsBottom->isChecked();
  s.tabsIcons = main_.mnuShowIcons->isChecked();
  s.tabsCompact = main_.mnuTabsCompact->isChecked();
  QTableView* source = shownGrid_ != nullptr ? shownGrid_ : sessions->gridSess;
  for (int c = 1; c <= 5; ++c)
    if (source->columnWidth(c) > 0) s.columnWidths[static_cast<size_t>(c - 1)] = source->columnWidth(c);
  for (int i = 0; i < SessionsModel::kCounters; ++i)
    s.counterShown[static_cast<size_t>(i)] = !sessions->gridSess->isColumnHidden(SessionsModel::kFirstCounterColumn + i);
  s.mainGeometry = main_.normalGeometry().isValid() ? main_.normalGeometry() : main_.geometry();
  return s;
}

void ConsoleTabs::saveSettings() { store_->saveOnExit(currentSettings()); }

bool ConsoleTabs::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &main_ && event->type() == QEvent::Close) saveSettings();
  return QObject::eventFilter(watched, event);
}

// ---- Snapshots ----------------------------------------------------------------------

QString ConsoleTabs::snapshotFolder() {
  QString folder = agentDataPath();
  if (folder.isEmpty())
    folder = QString::fromStdString((platform::windowsDirectory() / "VELTRIS History").string());
  const QFileInfo info(folder);
  // The agent's folder may belong to another user; the home folder always takes a file.
  return info.isDir() && info.isWritable() ? folder : QDir::homePath();
}

void ConsoleTabs::chooseAndSaveSnapshot() {
  if (!main_.connection().isOpen()) {
    showMessage(&main_, tr("No agent is connected: choose File, Select Computer first."));
    return;
  }
  QString path = QFileDialog::getSaveFileName(&main_, "VELTRIS Snapshot Save As", snapshotFolder(), kSnapshotFilter);
  if (path.isEmpty()) return;
  if (!path.endsWith(".VSN", Qt::CaseInsensitive)) path += ".VSN";
  saveSnapshotTo(path, [this, path](bool saved) {
    if (saved) main_.statusPanel(1)->setText(tr("Snapshot saved to ") + path);
  });
}

void ConsoleTabs::saveSnapshotTo(const QString& path, std::function<void(bool)> done) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QFile::remove(path);  // an old file must not pass for the new one
  const std::string target = path.toStdString();
  // Always "SNAPSHOT" alone, written here: the agent writes only into its own folder.
  RequestJob job{"SNAPSHOT", {}, [target](AgentAccess& access) { access.save(target.c_str()); }};
  main_.connection().send(std::move(job), this, [this, path, done](const Reply& reply) {
    QApplication::restoreOverrideCursor();
    const bool saved = reply.ok && QFileInfo(path).isFile() && QFileInfo(path).size() > 0;
    if (reply.ok && !saved) showMessage(&main_, tr("Could not save to file ") + path, tr("VELTRIS ERROR"));
    if (done) done(saved);
  });
}

void ConsoleTabs::chooseAndOpenSnapshot() {
  const QString previousServer = main_.server();
  const QString previousName = main_.serverName();
  main_.connection().close();
  main_.timerPoll().stop();
  main_.setWindowTitle(tr("VELTRIS - Opening VELTRIS Snapshot file ...."));
  tools_->update(false, serverName_);
  const QString path = QFileDialog::getOpenFileName(&main_, "VELTRIS Snapshot Open", snapshotFolder(), kSnapshotFilter);
  if (path.isEmpty()) {
    main_.openConnectionTo(previousServer, previousName);
    return;
  }
  openSnapshotFile(path);
}

void ConsoleTabs::openSnapshotFile(const QString& path) {
  snapshotPath_ = path;
  main_.openConnectionTo("*SNAPSHOT* " + path, QFileInfo(path).fileName());
}

void ConsoleTabs::onConnected() {
  if (!main_.connection().snapshot()) {
    snapshotPath_.clear();
    return;
  }
  serverName_ = main_.hostName().trimmed();
  const ReplyHeader& header = main_.connection().lastHeader();
  main_.setWindowTitle(tr("VELTRIS - ") + main_.hostName().trimmed() + "  " + main_.ipSummary().trimmed() +
                       " *** SNAPSHOT " + QString::fromLatin1(header.date, sizeof header.date) + " *** ");
}

void ConsoleTabs::chooseAndExportPackets() {
  if (!main_.connection().isOpen()) {
    showMessage(&main_, tr("No agent is connected and no snapshot is open: choose File, Select Computer or Open Snapshot first."));
    return;
  }
  const QString base = QFileDialog::getSaveFileName(&main_, "Export Packets", snapshotFolder(),
                                                    "Packet capture files (*.pcap)");
  if (!base.isEmpty()) exportPacketsTo(base);
}

void ConsoleTabs::exportPacketsTo(const QString& base, std::function<void(bool)> done) {
  auto finish = [this, base, done](const QString& snapshot) {
    const PcapExport result = exportSnapshotPackets(snapshot.toStdString(), base.toStdString());
    if (!result.ok) {
      showMessage(&main_, tr("Export Packets failed: ") + QString::fromStdString(result.error), tr("VELTRIS ERROR"));
    } else {
      QStringList lines;
      for (const ExportedDump& f : result.files)
        lines << QString("Adapter #%1: %2 packets in %3").arg(f.adapter).arg(f.frames).arg(QString::fromStdString(f.file.string()));
      showMessage(&main_, lines.join('\n'), tr("Export Packets"));
    }
    if (done) done(result.ok);
  };
  if (main_.connection().snapshot() && !snapshotPath_.isEmpty()) {
    finish(snapshotPath_);
    return;
  }
  // A live agent: its snapshot, saved to a temporary file first.
  auto folder = std::make_shared<QTemporaryDir>();
  const QString temporary = folder->filePath("export.VSN");
  saveSnapshotTo(temporary, [folder, temporary, finish, done](bool saved) {
    if (saved) {
      finish(temporary);
    } else if (done) {
      done(false);
    }
  });
}

}  // namespace veltris::console
