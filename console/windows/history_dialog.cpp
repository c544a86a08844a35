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
  lblHeading = new QLabel(this);
  QFont bold = lblHeading->font();
  bold.setBold(true);
  lblHeading->setFont(bold);
  lstHist = new QListWidget(this);
  lstHist->setObjectName(QStringLiteral("lstHist"));
  calHist = new QCalendarWidget(this);
  calHist->setObjectName(QStringLiteral("calHist"));
  calHist->setGridVisible(false);
  btnRealTime = new QPushButton(tr("REAL-TIME"), this);
  btnClose = new QPushButton(tr("Close"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnRealTime);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblHeading);
  auto* lists = new QHBoxLayout;
  lists->addWidget(lstHist, 1);
  lists->addWidget(calHist);
  layout->addLayout(lists, 1);
  layout->addLayout(buttons);
  resize(560, 320);
  connect(lstHist, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    emit daySelected(lstHist->row(item));
  });
  connect(lstHist, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    emit daySelected(lstHist->row(item));
  });
  connect(calHist, &QCalendarWidget::clicked, this, [this](QDate date) {
    int row = dayKeys_.indexOf(date.toString(QStringLiteral("yyyyMMdd")));
    if (row < 0) return;  // no history that day
    lstHist->setCurrentRow(row);
    emit daySelected(row);
  });
  connect(btnRealTime, &QPushButton::clicked, this, &HistoryDialog::realTimeChosen);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
}

void HistoryDialog::fill(const QString& serverName, const QStringList& days, const QStringList& dayKeys,
                      int selected) {
  lblHeading->setText(tr("Available History for ") + serverName);
  lstHist->clear();
  lstHist->addItems(days);
  dayKeys_ = dayKeys;
  calHist->setDateTextFormat(QDate(), QTextCharFormat());
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  bold.setForeground(QColor(0, 0, 160));
  for (const QString& key : dayKeys) calHist->setDateTextFormat(QDate::fromString(key, QStringLiteral("yyyyMMdd")), bold);
  if (selected >= 0 && selected < days.size()) {
    lstHist->setCurrentRow(selected);
    calHist->setSelectedDate(QDate::fromString(dayKeys.value(selected), QStringLiteral("yyyyMMdd")));
  } else if (!dayKeys.isEmpty()) {
    calHist->setSelectedDate(QDate::fromString(dayKeys.front(), QStringLiteral("yyyyMMdd")));
  }
}

}  // namespace veltris::console
