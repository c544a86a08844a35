#include "console/tabs/test_tab.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <cstring>

#include "console/adapter/command_check.h"
#include "console/core/desktop_layer.h"
#include "console/tabs/grid_view.h"

namespace veltris::console {
namespace {

const char* const kWaiting = QT_TRANSLATE_NOOP("veltris::console::TestTab", "\n\n  ...... Waiting for command to complete ......");

QString rightTrimmed(QString s) {
  while (!s.isEmpty() && s.back().isSpace()) s.chop(1);
  return s;
}

// The text of a "TXT4" reply as the box shows it.
QString replyText(const TextReply& reply) {
  const char* end = static_cast<const char*>(std::memchr(reply.text, '\0', sizeof reply.text));
  const qsizetype length = end != nullptr ? end - reply.text : static_cast<qsizetype>(sizeof reply.text);
  QString text = QString::fromLatin1(reply.text, length);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  // A section heading of the test ("----Testing DNS connectivity----") is
  // followed at once by the first line of its command's output: part them.
  static const QRegularExpression runOn(QStringLiteral("^(----[A-Za-z][A-Za-z ]*-{3,})(?=[^-\\s])"),
                                        QRegularExpression::MultilineOption);
  text.replace(runOn, QStringLiteral("\\1\n"));
  return rightTrimmed(text);
}

}  // namespace

TestTab::TestTab(AgentSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("tabTest");
  fraOptions_ = optionsFrame(this, tr("Diagnostic Commands"));
  btnConfig_ = new QPushButton(tr("Config"), fraOptions_);
  btnConfig_->setObjectName("btnConfig");
  btnConfig_->setToolTip(tr("Ping Defaut IP Gateway"));
  btnTest_ = new QPushButton(tr("Test"), fraOptions_);
  btnTest_->setObjectName("btnTest");
  btnTest_->setToolTip(tr("Ping Defaut IP Gateway"));
  cmbCmd_ = new QComboBox(fraOptions_);
  cmbCmd_->setObjectName("cmbCmd");
  cmbCmd_->setEditable(true);
  cmbCmd_->setInsertPolicy(QComboBox::NoInsert);
  cmbCmd_->addItems(commandListEntries());
  cmbCmd_->setCurrentIndex(-1);
  cmbCmd_->setMinimumWidth(260);
  btnCmd_ = new QPushButton(tr("Command"), fraOptions_);
  btnCmd_->setObjectName("btnCmd");
  btnCmd_->setToolTip(tr("Execute specified command"));
  auto* options = static_cast<QHBoxLayout*>(fraOptions_->layout());
  options->addWidget(btnConfig_);
  options->addWidget(btnTest_);
  options->addSpacing(16);
  options->addWidget(cmbCmd_, 1);
  options->addWidget(btnCmd_);
  tbxTest_ = new QPlainTextEdit(this);
  tbxTest_->setObjectName("tbxTest");
  tbxTest_->setReadOnly(true);
  tbxTest_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setFamilies({QStringLiteral("Courier New"), mono.family()});
  tbxTest_->setFont(mono);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(fraOptions_);
  layout->addWidget(tbxTest_, 1);

  connect(btnConfig_, &QPushButton::clicked, this, [this] { runDiagnostic(QStringLiteral("CONFIG")); });
  connect(btnTest_, &QPushButton::clicked, this, [this] { runDiagnostic(QStringLiteral("TEST")); });
  connect(btnCmd_, &QPushButton::clicked, this, [this] { runTypedCommand(cmbCmd_->currentText()); });
  connect(cmbCmd_->lineEdit(), &QLineEdit::returnPressed, this, [this] { runTypedCommand(cmbCmd_->currentText()); });
  connect(cmbCmd_->view(), &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    cmbCmd_->hidePopup();
    cmbCmd_->setCurrentIndex(index.row());
    runTypedCommand(index.data().toString());
  });
}

QString TestTab::output() const { return tbxTest_->toPlainText(); }

void TestTab::clearOutput() { tbxTest_->clear(); }

void TestTab::setButtonsEnabled(bool enabled) {
  for (QPushButton* b : {btnConfig_, btnTest_, btnCmd_}) b->setEnabled(enabled);
}

void TestTab::connectionChanged() {
  tbxTest_->clear();
  running_ = 0;
  setButtonsEnabled(true);
}

void TestTab::runDiagnostic(const QString& word, bool append) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!append) {
    tbxTest_->setPlainText(tr(kWaiting));
    tbxTest_->repaint();
  }
  ++running_;
  setButtonsEnabled(false);
  RequestJob job{QStringLiteral("CMD ") + word, {{{'T', 'X', 'T', '4'}, sizeof(TextReply), ReadStep::One}}, {}};
  session_.send(std::move(job), this, [this, append](const Reply& reply) {
    QApplication::restoreOverrideCursor();
    if (--running_ == 0) setButtonsEnabled(true);
    TextReply text{};
    if (!reply.ok || !reply.first(0, text) || std::memcmp(text.tag, kTextReplyTag, 4) != 0) {
      if (!append && tbxTest_->toPlainText() == tr(kWaiting)) tbxTest_->clear();
      return;
    }
    if (append) {
      tbxTest_->appendPlainText(separator() + QLatin1Char('\n') + replyText(text));
    } else {
      tbxTest_->setPlainText(QLatin1Char('\n') + replyText(text));
    }
  });
}

void TestTab::runTypedCommand(const QString& text) {
  const CommandCheck check = checkCommand(text);
  if (!check.accepted) {
    showMessage(window(), check.refusal);
    return;
  }
  runDiagnostic(check.command);
}

void TestTab::runFromGrid(const QString& command) {
  commandPending_ = true;
  emit showRequested();
  commandPending_ = false;
  cmbCmd_->setEditText(command);
  runTypedCommand(command);
}

void TestTab::shown() {
  if (commandPending_) return;
  if (session_.snapshot()) {
    fillFromSnapshot();
  } else if (tbxTest_->toPlainText().isEmpty()) {
    btnConfig_->setFocus();
    runDiagnostic(QStringLiteral("CONFIG"));
  } else {
    cmbCmd_->setFocus();
  }
}

void TestTab::fillFromSnapshot() {
  runDiagnostic(QStringLiteral("CONFIG"));
  for (const char* word : {"SUBNET", "NETSTAT -n", "ARP -a", "ROUTE PRINT", "IPCONFIG -all"})
    runDiagnostic(QLatin1String(word), true);
}

}  // namespace veltris::console
