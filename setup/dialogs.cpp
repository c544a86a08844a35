#include "setup/dialogs.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/pictures.h"
#include "desktop/messages.h"

namespace veltris::setup {
namespace {

QLabel* note(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  label->setContentsMargins(28, 0, 0, 0);
  return label;
}

}  // namespace

ComponentsDialog::ComponentsDialog(bool agentSupported, std::function<bool()> readme, QWidget* owner)
    : QDialog(owner), openReadme_(std::move(readme)) {
  setWindowTitle(tr("VELTRIS Install"));
  setObjectName(QStringLiteral("dlgComponents"));
  setWindowIcon(applicationIcon());

  auto* group = new QGroupBox(tr("Components"));
  auto* groupLayout = new QVBoxLayout(group);
  agent_ = new QCheckBox(tr("&Monitoring Agent  (Driver, LAN Taskbar Icon, QuickLook)"));
  agent_->setObjectName(QStringLiteral("chkAgent"));
  QLabel* noReboot = note(tr("NOTE: The Install process does NOT require a re-boot."));
  QLabel* background = note(
      tr("NOTE:  Once installed the Agent runs in the background and will automatically be started on subsequent re-boots."));
  advanced_ = new QCheckBox(tr("&Advanced support tools"));
  advanced_->setObjectName(QStringLiteral("chkAdvanced"));
  groupLayout->addWidget(agent_);
  groupLayout->addWidget(noReboot);
  groupLayout->addWidget(background);
  groupLayout->addSpacing(8);
  groupLayout->addWidget(advanced_);
  groupLayout->addWidget(
      note(tr("NOTE:  If shared common run-time files need to be upgraded, the Install process will prompt to RE-BOOT.")));
  groupLayout->addWidget(
      note(tr("After the re-boot you will need to re-invoke this SETUP program to continue the install process.")));

  readme_ = new QPushButton(tr("&Readme"));
  continue_ = new QPushButton(tr("&Continue"));
  continue_->setDefault(true);
  auto* exitButton = new QPushButton(tr("E&xit"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  for (QPushButton* b : {readme_, continue_, exitButton}) buttons->addWidget(b);
  buttons->addStretch();

  auto* footer = new QLabel(tr("VELTRIS LAN monitoring for one PC\nCopyright Quorvik. All rights reserved."));
  footer->setAlignment(Qt::AlignCenter);

  auto* banner = new QLabel;
  banner->setPixmap(bannerPicture(440));
  banner->setAlignment(Qt::AlignCenter);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(banner);
  layout->addWidget(group);
  layout->addLayout(buttons);
  layout->addWidget(footer);
  setMinimumWidth(460);

  if (!agentSupported) {
    agent_->setText(tr("Agent (This version only supports Linux with systemd)"));
    for (QWidget* w : std::initializer_list<QWidget*>{agent_, noReboot, background}) w->setEnabled(false);
    advanced_->setFocus();
  } else {
    agent_->setFocus();
  }
  continue_->setEnabled(false);

  connect(agent_, &QCheckBox::clicked, this, &ComponentsDialog::updateContinue);
  connect(advanced_, &QCheckBox::clicked, this, &ComponentsDialog::updateContinue);
  connect(readme_, &QPushButton::clicked, this, [this] {
    if (!openReadme_())
      desktop::ask(this, desktop::MessageIcon::Stop, tr("VELTRIS Setup Error"), tr("Failed launch xdg-open README.TXT"));
  });
  connect(continue_, &QPushButton::clicked, this, &ComponentsDialog::continueClicked);
  connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ComponentsDialog::updateContinue() { continue_->setEnabled(agent_->isChecked() || advanced_->isChecked()); }

void ComponentsDialog::continueClicked() {
  if (!agent_->isChecked() && !advanced_->isChecked()) {
    desktop::ask(this, desktop::MessageIcon::Exclamation, tr("VELTRIS Install Error"),
                 tr("Please select at least one component to be installed"));
    return;
  }
  accept();
}

ProgressDialog::ProgressDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(tr("VELTRIS Monitoring Agent install"));
  setObjectName(QStringLiteral("dlgProgress"));
  setWindowIcon(applicationIcon());
  auto* intro = new QLabel(tr("Please wait while Setup AUTOMATICALLY performs the following steps"));
  intro->setWordWrap(true);
  auto* group = new QGroupBox(tr("Steps"));
  auto* steps = new QVBoxLayout(group);
  static const char* const texts[kSteps] = {QT_TR_NOOP("Copy new Agent files"), QT_TR_NOOP("Stop old Agent"),
                                            QT_TR_NOOP("Install Agent network driver"),
                                            QT_TR_NOOP("Specify Agent settings"), QT_TR_NOOP("Start new Agent")};
  for (int i = 0; i < kSteps; ++i) {
    labels_[i] = new QLabel(tr(texts[i]));
    steps->addWidget(labels_[i]);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addWidget(group);
  setMinimumWidth(320);
}

void ProgressDialog::markStep(Step step) {
  QFont bold = font();
  bold.setBold(true);
  labels_[step]->setFont(bold);
  marked_ = step;
  labels_[step]->update();
}

}  // namespace veltris::setup
