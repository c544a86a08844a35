#include "console/windows/connect_dialog.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core/desktop_layer.h"
#include "desktop/agent_facts.h"
#include "desktop/agent_session.h"
#include "desktop/messages.h"

namespace veltris::console {
namespace {

// The dialog's short and browsing heights: 2000 and 3780 twips.
constexpr int kShortHeight = 133;
constexpr int kBrowseHeight = 252;

}  // namespace

ConnectDialog::ConnectDialog(AgentSession& connection, const QString& currentServer, bool stayOnTop, QWidget* parent)
    : QDialog(parent), connection_(connection), currentServer_(currentServer), installed_(agentInstalledHere()) {
  setObjectName(QStringLiteral("frmLogin"));
  setWindowTitle(tr("VELTRIS Connection"));
  if (stayOnTop) setWindowFlag(Qt::WindowStaysOnTopHint, true);
  browse_ = [] { return browseNetwork(); };
  // A refused password has said so ("Security check FAILED"): no second message follows.
  connect(&connection_, &AgentSession::failed, this, [this](const Failure& failure) {
    if (busy_ && failure.kind == Failure::KeyRefused) keyRefused_ = true;
  });

  auto* heading = new QLabel(tr("Select Remote Computer"), this);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  lblComputerName_ = new QLabel(tr("Computer Name or IP Address:"), this);
  lblComputerName_->setObjectName(QStringLiteral("lblComputerName"));
  txtServer_ = new QLineEdit(this);
  txtServer_->setObjectName(QStringLiteral("txtServer"));
  auto* passwordLabel = new QLabel(tr("Password:"), this);
  tbxPassword_ = new QLineEdit(this);
  tbxPassword_->setObjectName(QStringLiteral("tbxPassword"));
  tbxPassword_->setEchoMode(QLineEdit::Password);
  btnRemote_ = new QPushButton(tr("OK"), this);
  btnRemote_->setObjectName(QStringLiteral("btnRemote"));
  btnRemote_->setDefault(true);
  btnCancel_ = new QPushButton(tr("Cancel"), this);
  btnCancel_->setObjectName(QStringLiteral("btnCancel"));
  btnBrowse_ = new QPushButton(tr("Browse"), this);
  btnBrowse_->setObjectName(QStringLiteral("btnBrowse"));
  lstServers_ = new QListWidget(this);
  lstServers_->setObjectName(QStringLiteral("lstServers"));
  lstServers_->hide();

  auto* fields = new QVBoxLayout;
  if (installed_) fields->addWidget(heading);
  fields->addWidget(lblComputerName_);
  fields->addWidget(txtServer_);
  fields->addWidget(passwordLabel);
  fields->addWidget(tbxPassword_);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnRemote_);
  buttons->addWidget(btnCancel_);
  buttons->addWidget(btnBrowse_);
  buttons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addLayout(fields, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(lstServers_, 1);
  if (!installed_) {
    // Only remote computers are possible: the label reads shorter and moves up.
    heading->hide();
    lblComputerName_->setText(tr("Computer Name:"));
  }
  resize(360, kShortHeight);

  connect(btnRemote_, &QPushButton::clicked, this, [this] { ok(false); });
  connect(btnCancel_, &QPushButton::clicked, this, &ConnectDialog::cancel);
  connect(btnBrowse_, &QPushButton::clicked, this, &ConnectDialog::browse);
  connect(lstServers_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    txtServer_->setText(item->text());
  });
  connect(lstServers_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    txtServer_->setText(item->text());
    ok(false);
  });
}

void ConnectDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  txtServer_->setFocus();
  lstServers_->hide();
  resize(width(), kShortHeight);
  if (!currentServer_.isEmpty() && !currentServer_.startsWith(QLatin1String("*SNAPSHOT*")))
    txtServer_->setText(currentServer_);
}

void ConnectDialog::setBusy(bool busy) {
  busy_ = busy;
  for (QWidget* w : {static_cast<QWidget*>(btnRemote_), static_cast<QWidget*>(btnCancel_),
                     static_cast<QWidget*>(btnBrowse_), static_cast<QWidget*>(txtServer_),
                     static_cast<QWidget*>(tbxPassword_)}) {
    w->setEnabled(!busy);
  }
}

void ConnectDialog::ok(bool fromCancel) {
  if (busy_) return;
  QString name = txtServer_->text().trimmed();
  if (name.startsWith(QLatin1String("\\\\"))) name = name.mid(2);
  name = name.toUpper();
  QString server, serverName;
  if (name.isEmpty() || name == QLatin1String("*") || name == QLatin1String(".")) {
    if (!installed_) {
      showMessage(this, tr("VELTRIS Agent is not installed on this PC.\n\n"
                           "Please specify a remote computer name or address."));
      txtServer_->setFocus();
      return;
    }
    serverName = tr("Local");
    // A typed password is kept: users who may not read this PC's registry know the key.
    connection_.setPassword(tbxPassword_->text());
  } else {
    server = name;
    serverName = name;
    connection_.setPassword(tbxPassword_->text());
  }
  connection_.offerKey(tbxPassword_->text());  // typed by the user: it may be tried
  // This PC's agent also opens with the password kept from earlier in this session.
  if (tbxPassword_->text().isEmpty() && connection_.keyFor(server).isEmpty()) {
    showMessage(this, tr("Please specify a PASSWORD"));
    tbxPassword_->setFocus();
    return;
  }
  setBusy(true);
  keyRefused_ = false;
  connection_.connectTo(server, this, [this, server, serverName, fromCancel](bool connected) {
    setBusy(false);
    if (connected) {
      PubLoginCancelled = false;
      PubLoginServer = server;
      PubLoginServerName = serverName;
      accept();
      return;
    }
    if (!keyRefused_) {
      showMessage(this, server.isEmpty() ? tr("Local VELTRIS Monitoring Agent is not running")
                                         : tr("Could not connect to VELTRIS Monitoring Agent on ") + serverName);
    }
    if (fromCancel) {
      PubLoginCancelled = true;
      done(QDialog::Rejected);
    }
  });
}

void ConnectDialog::cancel() {
  if (busy_) return;
  if (!installed_) {
    PubLoginCancelled = true;
    done(QDialog::Rejected);
    return;
  }
  txtServer_->clear();
  tbxPassword_->clear();
  ok(true);
}

void ConnectDialog::reject() {
  if (busy_) return;
  PubLoginCancelled = true;
  QDialog::reject();
}

void ConnectDialog::browse() {
  resize(width(), kBrowseHeight);
  lstServers_->show();
  if (browsing_) return;  // the running browse fills the list
  browsing_ = true;
  btnBrowse_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The browse waits for the network (up to seconds): on a worker, the list fills when it ends.
  auto* watcher = new QFutureWatcher<BrowseResult>(this);
  connect(watcher, &QFutureWatcher<BrowseResult>::finished, this, [this, watcher] {
    QApplication::restoreOverrideCursor();
    browsing_ = false;
    btnBrowse_->setEnabled(true);
    showBrowseResult(watcher->result());
    watcher->deleteLater();
  });
  watcher->setFuture(QtConcurrent::run(browse_));
}

void ConnectDialog::showBrowseResult(const BrowseResult& result) {
  lstServers_->clear();
  if (!result.ok) {
    showMessage(this, result.errorText, result.errorTitle);
    return;
  }
  for (QString name : result.names) {
    if (name.startsWith(QLatin1String("\\\\"))) name = name.mid(2);
    lstServers_->addItem(name);
  }
}

}  // namespace veltris::console
