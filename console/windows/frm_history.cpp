#include "console/windows/frm_history.h"

#include <QCalendarWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltris::console {

frmHistory::frmHistory(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmHistory"));
  setWindowTitle(QStringLiteral("History"));
  lblHeading = new QLabel(this);
  QFont bold = lblHeading->font();
  bold.setBold(true);
  lblHeading->setFont(bold);
  lstHist = new QListWidget(this);
  lstHist->setObjectName(QStringLiteral("lstHist"));
  btnRealTime = new QPushButton(QStringLiteral("REAL-TIME"), this);
  btnClose = new QPushButton(QStringLiteral("Close"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnRealTime);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblHeading);
  layout->addWidget(lstHist, 1);
  layout->addLayout(buttons);
  resize(300, 360);
  connect(lstHist, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    emit daySelected(lstHist->row(item));
  });
  connect(lstHist, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    emit daySelected(lstHist->row(item));
  });
  connect(btnRealTime, &QPushButton::clicked, this, &frmHistory::realTimeChosen);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
}

void frmHistory::fill(const QString& serverName, const QStringList& days, int selected) {
  lblHeading->setText(QStringLiteral("Available History for ") + serverName);
  lstHist->clear();
  lstHist->addItems(days);
  if (selected >= 0 && selected < days.size()) lstHist->setCurrentRow(selected);
}

}  // namespace veltris::console
