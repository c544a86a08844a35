#include "tray/quicklook_window.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "tray/help_link.h"
#include "tray/pictures.h"
#include "tray/quicklook_figures.h"

namespace veltris::tray {
namespace {

constexpr int kHelpContext = 1000;

struct TableRow {
  Picture picture;
  const char* label;
};
constexpr TableRow kRows[6] = {
    {Picture::Error, " Errors dectected"},
    {Picture::BroadcastSent, " Broadcast traffic sent"},
    {Picture::Session, " Session traffic"},
    {Picture::BroadcastReceived, " Broadcast traffic received"},
    {Picture::Idle, " No traffic sent or received"},
    {Picture::NotReceiving, " Possible physical connection problem"},
};

struct Column {
  const char* heading;
  int width;
  Qt::Alignment alignment;
};
constexpr Column kColumns[4] = {
    {"Traffic sent or received by this PC", 209, Qt::AlignLeft},
    {"Percent", 50, Qt::AlignRight},
    {"Total Packets", 80, Qt::AlignRight},
    {"Packets/Sec", 80, Qt::AlignRight},
};

}  // namespace

QuickLookWindow::QuickLookWindow(RequestRunner runner, bool consoleInstalled, QWidget* parent)
    : QDialog(parent), runner_(std::move(runner)) {
  setObjectName("frmQuickLook");
  setWindowTitle(tr("VELTRIS QuickLook"));
  setWindowIcon(applicationIcon());
  setAttribute(Qt::WA_DeleteOnClose);

  picture_ = new QLabel;
  picture_->setFixedSize(32, 32);
  status_ = new QLabel;
  status_->setObjectName("tbxStatus");
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  status_->setMinimumHeight(2 * status_->fontMetrics().lineSpacing());
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  QFont bold = status_->font();
  bold.setBold(true);
  status_->setFont(bold);
  auto* top = new QHBoxLayout;
  top->addWidget(picture_);
  top->addWidget(status_, 1);

  table_ = new QTreeWidget;
  buildTable();

  auto* buttons = new QHBoxLayout;
  auto addButton = [&](const char* text, const char* name) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  connect(addButton("Config", "btnConfig"), &QPushButton::clicked, this, &QuickLookWindow::runConfig);
  connect(addButton("Test", "btnTest"), &QPushButton::clicked, this, &QuickLookWindow::runTest);
  connect(addButton("Snapshot", "btnSnapshot"), &QPushButton::clicked, this, &QuickLookWindow::saveSnapshot);
  connect(addButton("Help", "btnHelp"), &QPushButton::clicked, this, &QuickLookWindow::showHelp);
  advanced_ = addButton("Advanced", "btnAdvanced");
  connect(advanced_, &QPushButton::clicked, this, &QuickLookWindow::advancedRequested);
  advanced_->setEnabled(consoleInstalled);

  report_ = new QPlainTextEdit;
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSize(8);
  report_->setFont(fixed);

  message_ = [this](const QString& title, const QString& text) { QMessageBox::critical(this, title, text); };

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(table_);
  layout->addLayout(buttons);
  layout->addWidget(report_, 1);
  int width = 0;
  for (int i = 0; i < 4; ++i) width += table_->columnWidth(i);
  resize(width + 40, 460);
  runConfig();
}

void QuickLookWindow::buildTable() {
  table_->setObjectName("lstTraffic");
  table_->setRootIsDecorated(false);
  table_->setSortingEnabled(false);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setColumnCount(4);
  QStringList headings;
  for (const Column& c : kColumns) headings << c.heading;
  table_->setHeaderLabels(headings);
  table_->header()->setSectionsClickable(false);
  table_->header()->setStretchLastSection(false);
  for (int i = 0; i < 4; ++i) {
    table_->setColumnWidth(i, kColumns[i].width);
    table_->headerItem()->setTextAlignment(i, kColumns[i].alignment | Qt::AlignVCenter);
  }
  for (const TableRow& r : kRows) {
    auto* item = new QTreeWidgetItem(table_);
    item->setIcon(0, quickLookIcon(r.picture));
    item->setText(0, r.label);
    for (int i = 1; i < 4; ++i) item->setTextAlignment(i, kColumns[i].alignment | Qt::AlignVCenter);
  }
  // The widths are the least; a larger font widens the label column to its longest label.
  table_->resizeColumnToContents(0);
  table_->setColumnWidth(0, std::max(kColumns[0].width, table_->columnWidth(0) + 8));
  table_->setFixedHeight(table_->sizeHintForRow(0) * 6 + table_->header()->sizeHint().height() + 6);
}

void QuickLookWindow::setTitle(const AgentReading& reading) {
  if (reading.hostName == hostName_ && !hostName_.isEmpty()) return;
  hostName_ = reading.hostName;
  setWindowTitle(QString(tr("VELTRIS QuickLook - %1  %2")).arg(reading.hostName, reading.ipSummary));
}

void QuickLookWindow::refresh(const AgentReading& reading) {
  if (!reading.answered) {
    status_->setText(reading.failure);
    picture_->setPixmap(noAgentIcon().pixmap(32, 32));
    previous_.reset();
    return;
  }
  setTitle(reading);
  if (const TrafficState* state = trafficState(reading.code)) {
    status_->setText(desktop::trayText(*state));
    picture_->setPixmap(quickLookIcon(state->picture).pixmap(32, 32));
  }
  // The per-second figure needs the previous second: the first refresh leaves it out.
  const AgentReading before = previous_.value_or(reading);
  const auto rows = figureRows(reading, before);
  for (int r = 0; r < 4; ++r) {
    QTreeWidgetItem* item = table_->topLevelItem(r);
    item->setText(1, figureText(rows[r].percent));
    item->setText(2, figureText(rows[r].total));
    item->setText(3, previous_ ? figureText(rows[r].perSecond) : QString());
  }
  previous_ = reading;
}

void QuickLookWindow::setConsoleInstalled(bool installed) { advanced_->setEnabled(installed); }

QString QuickLookWindow::cell(int row, int column) const { return table_->topLevelItem(row)->text(column); }
QString QuickLookWindow::statusText() const { return status_->text(); }
QString QuickLookWindow::reportText() const { return report_->toPlainText(); }
bool QuickLookWindow::advancedEnabled() const { return advanced_->isEnabled(); }

// However the window closes, the cursors it set are restored.
QuickLookWindow::~QuickLookWindow() {
  for (; waitCursors_ > 0; --waitCursors_) QApplication::restoreOverrideCursor();
}

void QuickLookWindow::runRequest(const std::string& request, bool waitCursor, const QString& saveTo) {
  if (waitCursor) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++waitCursors_;
  }
  ++running_;
  struct Outcome {
    bool ok;
    QString text, error;
  };
  auto* watcher = new QFutureWatcher<Outcome>(this);
  connect(watcher, &QFutureWatcher<Outcome>::finished, this, [this, watcher, waitCursor, saveTo] {
    Outcome o = watcher->result();
    if (waitCursor && waitCursors_ > 0) {
      QApplication::restoreOverrideCursor();
      --waitCursors_;
    }
    if (saveTo.isEmpty()) {
      report_->setPlainText(o.ok ? QString(o.text).replace("\r\n", "\n") : o.error);
    } else if (!o.ok) {
      QFile::remove(saveTo);  // nothing that would read as a corrupt snapshot
      message_("VELTRIS ERROR", o.error.isEmpty() ? QString("Could not save to file") : o.error);
    }
    --running_;
    watcher->deleteLater();
  });
  RequestRunner runner = runner_;
  watcher->setFuture(QtConcurrent::run([runner, request, saveTo] {
    Outcome o{};
    o.ok = runner(request, o.text, o.error, saveTo);
    return o;
  }));
}

void QuickLookWindow::runConfig() { runRequest("CMD CONFIG", false); }
void QuickLookWindow::runTest() { runRequest("CMD TEST", true); }

void QuickLookWindow::saveSnapshot() {
  QFileDialog dialog(this, "VELTRIS Snapshot Save As");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter("VELTRIS Snapshot Files (*.vsn *.VSN)");
  dialog.setDefaultSuffix("VSN");
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.selectFile(hostName_);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  saveSnapshotTo(dialog.selectedFiles().first());
}

void QuickLookWindow::saveSnapshotTo(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    message_("VELTRIS ERROR", "Could not save to file");
    return;
  }
  file.close();
  runRequest("SNAPSHOT", true, path);
}

void QuickLookWindow::showHelp() { openHelp(kHelpContext, this); }

void QuickLookWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // only the close box closes QuickLook
  if (event->key() == Qt::Key_F1) {
    showHelp();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool QuickLookWindow::event(QEvent* event) {
  if (event->type() == QEvent::WhatsThis) {
    showHelp();
    return true;
  }
  return QDialog::event(event);
}

}  // namespace veltris::tray
