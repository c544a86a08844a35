// MainWindow: the menu bar, the view options, snapshots, help, legend and about.
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "console/core/desktop_layer.h"
#include "console/dialogs/small_dialogs.h"
#include "console/snapshots/snapshot_files.h"
#include "console/windows/main_window.h"
#include "help/help_window.h"

namespace veltris::console {
namespace {

const char* const kSnapshotFilter = QT_TRANSLATE_NOOP("veltris::console::MainWindow", "VELTRIS Snapshot Files (*.vsn *.VSN)");
const QLatin1String kSnapshotPrefix("*SNAPSHOT* ");

QAction* named(QAction* action, const char* objectName) {
  action->setObjectName(QLatin1String(objectName));
  return action;
}

QAction* checkable(QAction* action, const char* objectName) {
  action->setCheckable(true);
  return named(action, objectName);
}

}  // namespace

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  named(file->addAction(tr("&New"), this, [this] { startNewInstance(QString()); }), "mnuNew");
  named(file->addAction(tr("Select &Computer"), this, &MainWindow::selectRemote), "mnuRemote");
  file->addSeparator();
  QAction* open = named(file->addAction(tr("&Open Snapshot"), this, &MainWindow::chooseAndOpenSnapshot), "mnuFileOpen");
  open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  QAction* save = named(file->addAction(tr("&Save Snapshot"), this, &MainWindow::chooseAndSaveSnapshot), "mnuFileSave");
  save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  file->addSeparator();
  named(file->addAction(tr("Export Packets..."), this, &MainWindow::chooseAndExportPackets), "mnuFileExport");
  QAction* exit = named(file->addAction(tr("E&xit"), this, &QWidget::close), "mnuExit");
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

  QMenu* options = menuBar()->addMenu(tr("&Options"));
  mnuOptForeground_ = checkable(options->addAction(tr("&Window Always in Foreground")), "mnuOptForeground");
  connect(mnuOptForeground_, &QAction::toggled, this, &MainWindow::setForeground);
  QMenu* tabs = options->addMenu(tr("&Navigation Tabs"));
  tabs->setObjectName(QStringLiteral("mnuOptTabs"));
  mnuOptTabsBottom_ = checkable(tabs->addAction(tr("&Bottom")), "mnuOptTabsBottom");
  mnuShowIcons_ = checkable(tabs->addAction(tr("&Icons")), "mnuShowIcons");
  mnuTabsCompact_ = checkable(tabs->addAction(tr("&Compact")), "mnuTabsCompact");
  for (QAction* a : {mnuOptTabsBottom_, mnuShowIcons_, mnuTabsCompact_})
    connect(a, &QAction::toggled, this, &MainWindow::applyTabStyle);
  mnuOptSaveSettings_ = checkable(options->addAction(tr("Save Options on Exit")), "mnuOptSaveSettings");
  options->addSeparator();
  named(options->addAction(tr("&Reset CLEAR"), this, &MainWindow::resetClear), "mnuOptResetClear");

  // "L": every other letter of "Tools" is a tab's or a menu's access key.
  mnuTools_ = menuBar()->addMenu(tr("Too&ls"));
  mnuTools_->setObjectName(QStringLiteral("mnuTools"));

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  named(help->addAction(tr("&Contents ..."), this, [this] {
    if (!help::showContents(this))
      showMessage(this, tr("Unable to display Help Contents. There is no Help associated with this project."));
  }), "mnuHelpContents");
  named(help->addAction(tr("&Index ..."), this, [this] {
    if (!help::showIndex(this))
      showMessage(this, tr("Unable to display Help Index. There is no Help associated with this project."));
  }), "mnuHelpIndex");
  named(help->addAction(tr("&Legend"), this, &MainWindow::showLegend), "mnuLegend");
  help->addSeparator();
  named(help->addAction(tr("&About"), this, &MainWindow::showAbout), "mnuHelpAbout");

  mnuPopupOverview_ = new QMenu(this);
  mnuPopupOverview_->setObjectName(QStringLiteral("mnuPopupOverview"));

  // A note in panel 1 ("Snapshot saved to ...") belongs to the action that wrote it.
  connect(menuBar(), &QMenuBar::triggered, this, [this] { panels_[0]->clear(); });
}

void MainWindow::installTools(ProgramFinder installed) {
  tools_ = std::make_unique<ToolsMenu>(mnuTools_, std::move(installed));
}

// ---- View options ---------------------------------------------------------------------

MainWindow::ViewOptions MainWindow::viewOptions() const {
  return {mnuOptSaveSettings_->isChecked(), mnuOptForeground_->isChecked(), mnuOptTabsBottom_->isChecked(),
          mnuShowIcons_->isChecked(), mnuTabsCompact_->isChecked()};
}

void MainWindow::setViewOptions(const ViewOptions& options) {
  {
    const QSignalBlocker b1(mnuOptTabsBottom_), b2(mnuShowIcons_), b3(mnuTabsCompact_);
    mnuOptSaveSettings_->setChecked(options.saveOnExit);
    mnuOptTabsBottom_->setChecked(options.tabsBottom);
    mnuShowIcons_->setChecked(options.tabsIcons);
    mnuTabsCompact_->setChecked(options.tabsCompact);
  }
  applyTabStyle();
  mnuOptForeground_->setChecked(options.foreground);
}

void MainWindow::applyTabStyle() {
  sstMain_->setTabPosition(mnuOptTabsBottom_->isChecked() ? QTabWidget::South : QTabWidget::North);
  sstMain_->setIconSize(mnuShowIcons_->isChecked() ? QSize(16, 16) : QSize(0, 0));
  sstMain_->tabBar()->setStyleSheet(mnuTabsCompact_->isChecked()
                                        ? QStringLiteral("QTabBar::tab { padding: 2px 4px; min-width: 0px; }")
                                        : QStringLiteral("QTabBar::tab { padding: 4px 12px; min-width: 90px; }"));
}

void MainWindow::setForeground(bool on) {
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (visible) show();
}

void MainWindow::showLegend() {
  QList<QIcon> pictures;
  for (int p = 1; p <= 6; ++p) pictures << QIcon(statusPicturePath(static_cast<TrafficPicture>(p)));
  LegendDialog legend(pictures, mnuOptForeground_->isChecked(), this);
  legend.exec();
}

void MainWindow::showAbout() {
  AboutDialog about(mnuOptForeground_->isChecked(), this);
  about.exec();
}

// ---- Snapshots ----------------------------------------------------------------------

void MainWindow::chooseAndSaveSnapshot() {
  if (!connection_->isOpen()) {
    showMessage(this, tr("No agent is connected: choose File, Select Computer first."));
    return;
  }
  QString path = QFileDialog::getSaveFileName(this, tr("VELTRIS Snapshot Save As"), SnapshotFiles::folder(), tr(kSnapshotFilter));
  if (path.isEmpty()) return;
  if (!path.endsWith(QLatin1String(".VSN"), Qt::CaseInsensitive)) path += QLatin1String(".VSN");
  saveSnapshot(path, [this, path](bool saved) {
    if (saved) panels_[0]->setText(tr("Snapshot saved to ") + path);
  });
}

void MainWindow::saveSnapshot(const QString& path, std::function<void(bool)> done) {
  snapshots_->save(path, std::move(done));
}

void MainWindow::chooseAndOpenSnapshot() {
  const QString previousServer = sServer_;
  const QString previousName = sServerName_;
  connection_->close();
  timerPoll_->stop();
  setWindowTitle(tr("VELTRIS - Opening VELTRIS Snapshot file ...."));
  if (tools_) tools_->update(false, watchedName_);
  const QString path = QFileDialog::getOpenFileName(this, tr("VELTRIS Snapshot Open"), SnapshotFiles::folder(), tr(kSnapshotFilter));
  if (path.isEmpty()) {
    openComputer(previousServer, previousName);
    return;
  }
  openSnapshot(path);
}

void MainWindow::openSnapshot(const QString& path) {
  snapshotPath_ = path;
  openComputer(kSnapshotPrefix + path, QFileInfo(path).fileName());
}

void MainWindow::chooseAndExportPackets() {
  if (!connection_->isOpen()) {
    showMessage(this, tr("No agent is connected and no snapshot is open: choose File, Select Computer or Open Snapshot first."));
    return;
  }
  const QString base = QFileDialog::getSaveFileName(this, tr("Export Packets"), SnapshotFiles::folder(),
                                                    tr("Packet capture files (*.pcap)"));
  if (!base.isEmpty()) exportPackets(base);
}

void MainWindow::exportPackets(const QString& base, std::function<void(bool)> done) {
  const bool fromFile = connection_->snapshot() && !snapshotPath_.isEmpty();
  snapshots_->exportPackets(base, fromFile ? snapshotPath_ : QString(), std::move(done));
}

}  // namespace veltris::console
