#include "console/tabs/adapter_tab.h"

#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "console/core/desktop_layer.h"
#include "console/tabs/grid_view.h"

namespace veltris::console {
namespace {

struct OidBytes {
  uint8_t bytes[kOidRecordSize];
};

}  // namespace

AdapterTab::AdapterTab(AgentSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("tabAdapter");
  fraOptions_ = optionsFrame(this);
  btnRefresh_ = new QPushButton(tr("&Refresh"), fraOptions_);
  btnRefresh_->setObjectName("btnAdapterRefresh");
  btnRefresh_->setToolTip(tr("Refresh Adapter Error Statistics"));
  btnRefresh_->setAutoDefault(true);
  fraOptions_->layout()->addWidget(btnRefresh_);
  static_cast<QHBoxLayout*>(fraOptions_->layout())->addStretch();
  lblTitle_ = titleLabel(tr("Adapter Error Statistics"), this);
  gridAdapter_ = makeGrid("gridAdapter", &model_, this);
  gridAdapter_->horizontalHeader()->setSectionsClickable(false);
  gridAdapter_->setSelectionBehavior(QAbstractItemView::SelectItems);
  gridAdapter_->setColumnWidth(0, 250);
  for (int c = 1; c <= AdapterModel::kAdapters; ++c) gridAdapter_->setColumnWidth(c, 230);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(fraOptions_);
  layout->addWidget(lblTitle_);
  layout->addWidget(gridAdapter_, 1);
  applyRowVisibility();

  connect(btnRefresh_, &QPushButton::clicked, this, &AdapterTab::refresh);
  mnuPopupAdapter_ = new QMenu(this);
  mnuPopupAdapter_->setObjectName("mnuPopupAdapter");
  mnuPopupAdapter_->addAction(tr("Copy to Clipboard"), this,
                              [this] { QGuiApplication::clipboard()->setText(gridText(gridAdapter_)); });
  connect(gridAdapter_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { mnuPopupAdapter_->popup(gridAdapter_->viewport()->mapToGlobal(at)); });
}

void AdapterTab::applyRowVisibility() {
  for (int row = 0; row < AdapterModel::kRows; ++row) gridAdapter_->setRowHidden(row, model_.rowHidden(row));
  // Only the adapters the agent reported take room; "Adapter #1" stays as the empty grid's column.
  for (int a = 0; a < AdapterModel::kAdapters; ++a) {
    bool reported = false;
    for (int row = 0; row < AdapterModel::kRows && !reported; ++row) reported = !model_.value(row, a).isEmpty();
    gridAdapter_->setColumnHidden(a + 1, !reported && a > 0);
  }
  gridAdapter_->resizeColumnsToContents();
}

void AdapterTab::refresh() {
  model_.clearValues();
  RequestJob job{QStringLiteral("OID"), {{{'O', 'I', 'D', ' '}, static_cast<int>(kOidRecordSize), ReadStep::WhileTag}}, {}};
  session_.send(std::move(job), this, [this](const Reply& reply) {
    if (!reply.ok) return;
    for (const OidBytes& record : reply.records<OidBytes>(0)) model_.applyRecord(record.bytes, sizeof record.bytes);
    applyRowVisibility();
  });
}

void AdapterTab::shown() {
  btnRefresh_->setDefault(true);
  btnRefresh_->setFocus();
  if (model_.value(0, 0).isEmpty() && session_.isOpen()) refresh();
}

void AdapterTab::clearValues() {
  model_.clearValues();
  applyRowVisibility();
}

}  // namespace veltris::console
