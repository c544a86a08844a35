#include "console/windows/history_dialog.h"

#include <QCalendarWidget>
#include <QTextCharFormat>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltris::console {

HistoryDialog::HistoryDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmHistory"));
  setWindowTitle(tr("History"));
  lblHeading_ = new QLabel(this);
  lblHeading_->setObjectName(QStringLiteral("lblHeading"));
  QFont bold = lblHeading_->font();
  bold.setBold(true);
  lblHeading_->setFont(bold);
  lstHist_ = new QListWidget(this);
  lstHist_->setObjectName(QStringLiteral("lstHist"));
  calHist_ = new QCalendarWidget(this);
  calHist_->setObjectName(QStringLiteral("calHist"));
  calHist_->setGridVisible(false);
  btnRealTime_ = new QPushButton(tr("REAL-TIME"), this);
  btnRealTime_->setObjectName(QStringLiteral("btnRealTime"));
  btnClose_ = new QPushButton(tr("Close"), this);
  btnClose_->setObjectName(QStringLiteral("btnClose"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnRealTime_);
  buttons->addStretch(1);
  buttons->addWidget(btnClose_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblHeading_);
  auto* lists = new QHBoxLayout;
  lists->addWidget(lstHist_, 1);
  lists->addWidget(calHist_);
  layout->addLayout(lists, 1);
  layout->addLayout(buttons);
  resize(560, 320);
  connect(lstHist_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    emit daySelected(lstHist_->row(item));
  });
  connect(lstHist_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    emit daySelected(lstHist_->row(item));
  });
  connect(calHist_, &QCalendarWidget::clicked, this, [this](QDate date) {
    int row = dayKeys_.indexOf(date.toString(QStringLiteral("yyyyMMdd")));
    if (row < 0) return;  // no history that day
    lstHist_->setCurrentRow(row);
    emit daySelected(row);
  });
  connect(btnRealTime_, &QPushButton::clicked, this, &HistoryDialog::realTimeChosen);
  connect(btnClose_, &QPushButton::clicked, this, &QDialog::close);
}

void HistoryDialog::fill(const QString& serverName, const QStringList& days, const QStringList& dayKeys,
                      int selected) {
  lblHeading_->setText(tr("Available History for ") + serverName);
  lstHist_->clear();
  lstHist_->addItems(days);
  dayKeys_ = dayKeys;
  calHist_->setDateTextFormat(QDate(), QTextCharFormat());
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  bold.setForeground(QColor(0, 0, 160));
  for (const QString& key : dayKeys) calHist_->setDateTextFormat(QDate::fromString(key, QStringLiteral("yyyyMMdd")), bold);
  if (selected >= 0 && selected < days.size()) {
    lstHist_->setCurrentRow(selected);
    calHist_->setSelectedDate(QDate::fromString(dayKeys.value(selected), QStringLiteral("yyyyMMdd")));
  } else if (!dayKeys.isEmpty()) {
    calHist_->setSelectedDate(QDate::fromString(dayKeys.front(), QStringLiteral("yyyyMMdd")));
  }
}

}  // namespace veltris::console
