#include "tray/quicklook_window.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "desktop/messages.h"
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
    {Picture::Error, QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", " Errors dectected")},
    {Picture::BroadcastSent, QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", " Broadcast traffic sent")},
    {Picture::Session, QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", " Session traffic")},
    {Picture::BroadcastReceived, QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", " Broadcast traffic received")},
    {Picture::Idle, QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", " No traffic sent or received")},
    {Picture::NotReceiving,
     QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", " Possible physical connection problem")},
};

struct Column {
  const char* heading;
  int width;
  Qt::Alignment alignment;
};
constexpr Column kColumns[4] = {
    {QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", "Traffic sent or received by this PC"), 209, Qt::AlignLeft},
    {QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", "Percent"), 50, Qt::AlignRight},
    {QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", "Total Packets"), 80, Qt::AlignRight},
    {QT_TRANSLATE_NOOP("veltris::tray::QuickLookWindow", "Packets/Sec"), 80, Qt::AlignRight},
};

}  // namespace

QuickLookWindow::QuickLookWindow(AgentRequests* requests, bool consoleInstalled, QWidget* parent)
    : QDialog(parent), requests_(requests) {
  requests_->setParent(this);
  setObjectName(QStringLiteral("frmQuickLook"));
  setWindowTitle(tr("VELTRIS QuickLook"));
  setWindowIcon(applicationIcon());
  setAttribute(Qt::WA_DeleteOnClose);

  picture_ = new QLabel;
  picture_->setFixedSize(32, 32);
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("tbxStatus"));
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
  auto addButton = [&](const QString& text, const QString& name) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  connect(addButton(tr("Config"), QStringLiteral("btnConfig")), &QPushButton::clicked, this,
          &QuickLookWindow::runConfig);
  connect(addButton(tr("Test"), QStringLiteral("btnTest")), &QPushButton::clicked, this, &QuickLookWindow::runTest);
  connect(addButton(tr("Snapshot"), QStringLiteral("btnSnapshot")), &QPushButton::clicked, this,
          &QuickLookWindow::saveSnapshot);
  connect(addButton(tr("Help"), QStringLiteral("btnHelp")), &QPushButton::clicked, this, &QuickLookWindow::showHelp);
  advanced_ = addButton(tr("Advanced"), QStringLiteral("btnAdvanced"));
  connect(advanced_, &QPushButton::clicked, this, &QuickLookWindow::advancedRequested);
  advanced_->setEnabled(consoleInstalled);

  report_ = new QPlainTextEdit;
  report_->setObjectName(QStringLiteral("tbxReport"));
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSize(8);
  report_->setFont(fixed);

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
  table_->setObjectName(QStringLiteral("lstTraffic"));
  table_->setRootIsDecorated(false);
  table_->setSortingEnabled(false);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setColumnCount(4);
  QStringList headings;
  for (const Column& c : kColumns) headings << tr(c.heading);
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
    item->setText(0, tr(r.label));
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
  setWindowTitle(tr("VELTRIS QuickLook - %1  %2").arg(reading.hostName, reading.ipSummary));
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

void QuickLookWindow::runRequest(const QString& request, bool waitCursor, const QString& saveTo) {
  if (waitCursor) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++waitCursors_;
  }
  ++running_;
  auto done = [this, waitCursor, saveTo](const AgentAnswer& answer) {
    if (waitCursor && waitCursors_ > 0) {
      QApplication::restoreOverrideCursor();
      --waitCursors_;
    }
    --running_;
    if (saveTo.isEmpty()) {
      report_->setPlainText(answer.ok ? QString(answer.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                      : answer.error);
    } else if (!answer.ok) {
      QFile::remove(saveTo);  // nothing that would read as a corrupt snapshot
      desktop::ask(this, desktop::MessageIcon::Stop, tr("VELTRIS ERROR"),
                   answer.error.isEmpty() ? tr("Could not save to file") : answer.error);
    }
  };
  if (saveTo.isEmpty()) {
    requests_->askText(request, done);
  } else {
    requests_->askSnapshot(saveTo, done);
  }
}

void QuickLookWindow::runConfig() { runRequest(QStringLiteral("CMD CONFIG"), false); }
void QuickLookWindow::runTest() { runRequest(QStringLiteral("CMD TEST"), true); }

void QuickLookWindow::saveSnapshot() {
  QFileDialog dialog(this, tr("VELTRIS Snapshot Save As"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(tr("VELTRIS Snapshot Files (*.vsn *.VSN)"));
  dialog.setDefaultSuffix(QStringLiteral("VSN"));
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.selectFile(hostName_);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  saveSnapshotTo(dialog.selectedFiles().first());
}

void QuickLookWindow::saveSnapshotTo(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    desktop::ask(this, desktop::MessageIcon::Stop, tr("VELTRIS ERROR"), tr("Could not save to file"));
    return;
  }
  file.close();
  runRequest(QStringLiteral("SNAPSHOT"), true, path);
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
