#include "console/dialogs/small_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QSysInfo>
#include <QTableWidget>
#include <QVBoxLayout>

#include "help/help_contexts.h"
#include "help/help_window.h"

namespace veltris::console {
namespace {

void stayOnTopIf(QWidget* w, bool foreground) {
  if (foreground) w->setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

// First line of /proc/<file> that starts with `key`, after its colon.
QString procValue(const QString& file, const QString& key) {
  QFile f("/proc/" + file);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(key.toLatin1())) return QString::fromLatin1(line.mid(line.indexOf(':') + 1)).trimmed();
  return {};
}

QString uptimeText() {
  QFile f("/proc/uptime");
  if (!f.open(QIODevice::ReadOnly)) return {};
  const qint64 seconds = static_cast<qint64>(f.readAll().split(' ').value(0).toDouble());
  return QString("%1 days %2:%3").arg(seconds / 86400).arg(seconds / 3600 % 24, 2, 10, QChar('0')).arg(seconds / 60 % 60, 2, 10, QChar('0'));
}

}  // namespace

const QStringList& LegendDialog::meanings() {
  static const QStringList texts = {"Errors detected",
                                    "Broadcasts sent.\nTarget device may not be active.",
                                    "Session traffic okay",
                                    "Broadcasts received",
                                    "No traffic sent or received",
                                    "No traffic received in over 60 seconds.  Possible physical connection problem."};
  return texts;
}

QString LegendDialog::graphNote() {
  return "Graph Horizontal Lines are auto-scaled in powers \r\nof 10  i.e. 10, 100, 1000, 10000 etc\r\n\r\n"
         "Graph Veritcal Lines delimit 1 hour for history \r\ngraphs, and 10 intervals for realtime graphs\r\n"
         "e.g. 10 seconds for \"Every 1 second\" updates.\r\n";
}

LegendDialog::LegendDialog(const QList<QIcon>& pictures, bool foreground, QWidget* parent) : QDialog(parent) {
  setObjectName("frmLegend");
  setWindowTitle(tr("Legend"));
  stayOnTopIf(this, foreground);
  help::setHelpContext(this, help::kLegend);
  auto* grid = new QTableWidget(static_cast<int>(meanings().size()), 2);
  grid->setObjectName("gridTaskbar");
  grid->horizontalHeader()->hide();
  grid->verticalHeader()->hide();
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::NoSelection);
  grid->setIconSize(QSize(32, 32));
  for (int row = 0; row < meanings().size(); ++row) {
    auto* picture = new QTableWidgetItem;
    if (row < pictures.size()) picture->setIcon(pictures[row]);
    grid->setItem(row, 0, picture);
    grid->setItem(row, 1, new QTableWidgetItem(meanings()[row]));
    grid->setRowHeight(row, 44);
  }
  grid->setColumnWidth(0, 44);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setMinimumSize(460, 6 * 44 + 4);
  auto* note = new QLabel(graphNote().remove('\r'));
  note->setObjectName("lblGraphNote");
  auto* ok = new QPushButton(tr("OK"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid);
  layout->addWidget(note);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

QString AboutDialog::description() {
  return "VELTRIS is a tool that shows you what a user's PC is doing on the network.\r\n\r\n"
         "Features include: Taskbar Indicator, Graphical overview, Session & Broadcast statistics, Packet level "
         "details, Configuration information, Diagnostic tools, Real-time & Historical views, Remote control.\r\n";
}

AboutDialog::AboutDialog(bool foreground, QWidget* parent) : QDialog(parent) {
  setObjectName("frmAbout");
  setWindowTitle(tr("About VELTRIS"));
  stayOnTopIf(this, foreground);
  auto* icon = new QLabel;
  icon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
  auto* title = new QLabel(tr("<b>VELTRIS</b><br>Version 1.0"));
  title->setObjectName("lblTitle");
  auto* text = new QLabel(description().remove('\r'));
  text->setObjectName("lblDescription");
  text->setWordWrap(true);
  text->setMinimumWidth(380);
  auto* ok = new QPushButton(tr("OK"));
  ok->setDefault(true);
  auto* info = new QPushButton(tr("&System Info..."));
  info->setObjectName("cmdSysInfo");
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(info, &QPushButton::clicked, this, &AboutDialog::showSystemInfo);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(text);
  top->addLayout(texts, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(info);
  buttons->addStretch();
  top->addLayout(buttons);
  setLayout(top);
}

void AboutDialog::showSystemInfo() {
  const QString text = linuxSystemInfo();
  if (text.isEmpty()) {
    QMessageBox::information(this, windowTitle(), "System Information Is Unavailable At This Time");
    return;
  }
  QDialog box(this);
  box.setObjectName("frmSystemInfo");
  box.setWindowTitle(tr("System Information"));
  auto* view = new QPlainTextEdit(text);
  view->setReadOnly(true);
  view->setFont(QFont("monospace"));
  view->setMinimumSize(560, 360);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(close, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(view);
  layout->addWidget(close);
  box.exec();
}

QString linuxSystemInfo() {
  QStringList lines;
  auto add = [&lines](const QString& label, const QString& value) {
    if (!value.isEmpty()) lines << QString("%1 %2").arg(label + ":", -16).arg(value);
  };
  add("Computer", QSysInfo::machineHostName());
  add("System", QSysInfo::prettyProductName());
  add("Kernel", QSysInfo::kernelType() + " " + QSysInfo::kernelVersion());
  add("Architecture", QSysInfo::currentCpuArchitecture());
  add("Processor", procValue("cpuinfo", "model name"));
  const QString memory = procValue("meminfo", "MemTotal");
  if (!memory.isEmpty()) add("Memory", QString::number(memory.section(' ', 0, 0).toLongLong() / 1024) + " MB");
  add("Free memory", QString::number(procValue("meminfo", "MemAvailable").section(' ', 0, 0).toLongLong() / 1024) + " MB");
  add("Up since boot", uptimeText());
  add("Desktop", qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
  add("Qt", qVersion());
  if (lines.size() <= 4 && procValue("meminfo", "MemTotal").isEmpty()) return {};
  lines << "" << "Network interfaces:";
  for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
    QStringList addresses;
    for (const QNetworkAddressEntry& entry : nic.addressEntries())
      addresses << entry.ip().toString() + "/" + QString::number(entry.prefixLength());
    lines << QString("  %1 %2 %3 %4")
                 .arg(nic.name(), -12)
                 .arg(nic.hardwareAddress(), -18)
                 .arg(nic.flags().testFlag(QNetworkInterface::IsUp) ? "up  " : "down")
                 .arg(addresses.join(' '));
  }
  return lines.join('\n');
}

LoopbackWarningDialog::LoopbackWarningDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("frmWarnNoLoopback");
  setWindowTitle(tr("VELTRIS WARNING"));
  setAttribute(Qt::WA_DeleteOnClose);
  help::setHelpContext(this, help::kLoopbackWarning);
  auto* icon = new QLabel;
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  auto* text = new QLabel(tr("The Network Adapter does not appear to support ALL LOCAL Mode correctly.\n\n"
                             "Click HELP for more details."));
  text->setObjectName("lblWarning");
  text->setWordWrap(true);
  auto* helpButton = new QPushButton(tr("&Help"));
  helpButton->setObjectName("cmdHelp");
  auto* close = new QPushButton(tr("&Close"));
  close->setObjectName("cmdClose");
  close->setDefault(true);
  connect(helpButton, &QPushButton::clicked, this, [this] { help::showTopic(help::kLoopbackWarning, this); });
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(helpButton);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  resize(420, 140);
}

}  // namespace veltris::console
