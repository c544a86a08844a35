#include "console/tabs/device_tabs.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QVBoxLayout>

#include "console/adapter/command_check.h"
#include "console/tabs/grid_tabs.h"

namespace veltris::console {

AdapterTab::AdapterTab(QWidget* parent) : QWidget(parent) {
  setObjectName("tabAdapter");
  fraOptions = new QGroupBox(this);
  fraOptions->setObjectName("fraOptions");
  btnRefresh = new QPushButton(tr("&Refresh"), fraOptions);
  btnRefresh->setObjectName("btnAdapterRefresh");
  btnRefresh->setToolTip(tr("Refresh Adapter Error Statistics"));
  btnRefresh->setAutoDefault(true);
  auto* options = new QHBoxLayout(fraOptions);
  options->setContentsMargins(6, 2, 6, 2);
  options->addWidget(btnRefresh);
  options->addStretch();
  lblTitle = new QLabel(tr("Adapter Error Statistics"), this);
  lblTitle->setObjectName("lblTitle");
  QFont bold = lblTitle->font();
  bold.setBold(true);
  lblTitle->setFont(bold);
  gridAdapter = makeGrid("gridAdapter", &model, this);
  gridAdapter->horizontalHeader()->setSectionsClickable(false);
  gridAdapter->setSelectionBehavior(QAbstractItemView::SelectItems);
  gridAdapter->setColumnWidth(0, 250);
  for (int c = 1; c <= AdapterModel::kAdapters; ++c) gridAdapter->setColumnWidth(c, 230);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(fraOptions);
  layout->addWidget(lblTitle);
  layout->addWidget(gridAdapter, 1);
  applyRowVisibility();
}

void AdapterTab::applyRowVisibility() {
  for (int row = 0; row < AdapterModel::kRows; ++row) gridAdapter->setRowHidden(row, model.rowHidden(row));
}

TestTab::TestTab(QWidget* parent) : QWidget(parent) {
  setObjectName("tabTest");
  fraOptions = new QGroupBox(tr("Diagnostic Commands"), this);
  fraOptions->setObjectName("fraOptions");
  btnConfig = new QPushButton(tr("Config"), fraOptions);
  btnConfig->setObjectName("btnConfig");
  btnConfig->setToolTip(tr("Ping Defaut IP Gateway"));
  btnTest = new QPushButton(tr("Test"), fraOptions);
  btnTest->setObjectName("btnTest");
  btnTest->setToolTip(tr("Ping Defaut IP Gateway"));
  cmbCmd = new QComboBox(fraOptions);
  cmbCmd->setObjectName("cmbCmd");
  cmbCmd->setEditable(true);
  cmbCmd->setInsertPolicy(QComboBox::NoInsert);
  cmbCmd->addItems(commandListEntries());
  cmbCmd->setCurrentIndex(-1);
  cmbCmd->setMinimumWidth(260);
  btnCmd = new QPushButton(tr("Command"), fraOptions);
  btnCmd->setObjectName("btnCmd");
  btnCmd->setToolTip(tr("Execute specified command"));
  auto* options = new QHBoxLayout(fraOptions);
  options->setContentsMargins(6, 2, 6, 2);
  options->addWidget(btnConfig);
  options->addWidget(btnTest);
  options->addSpacing(16);
  options->addWidget(cmbCmd, 1);
  options->addWidget(btnCmd);
  tbxTest = new QPlainTextEdit(this);
  tbxTest->setObjectName("tbxTest");
  tbxTest->setReadOnly(true);
  tbxTest->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setFamilies({"Courier New", mono.family()});
  tbxTest->setFont(mono);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(fraOptions);
  layout->addWidget(tbxTest, 1);
}

}  // namespace veltris::console
