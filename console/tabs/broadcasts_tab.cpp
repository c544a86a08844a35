#include "console/tabs/broadcasts_tab.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include <cstring>

#include "console/core/desktop_layer.h"
#include "console/tabs/grid_view.h"
#include "console/tabs/partner_menu.h"

namespace veltris::console {

BroadcastsTab::BroadcastsTab(AgentSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("tabBroadcasts");
  fraOptions_ = optionsFrame(this);
  optBcastSent_ = new QRadioButton(tr(" Broadcasts Sent"), fraOptions_);
  optBcastSent_->setObjectName("optBcastSent");
  optBcastSent_->setChecked(true);
  optBroadcasters_ = new QRadioButton(tr("Summary of Broadcasters"), fraOptions_);
  optBroadcasters_->setObjectName("optBroadcasters");
  chkBcastLowLevelDescr_ = new QCheckBox(tr("Low Level Description"), fraOptions_);
  chkBcastLowLevelDescr_->setObjectName("chkBcastLowLevelDescr");
  btnBcastRefresh_ = new QPushButton(tr("&Refresh"), fraOptions_);
  btnBcastRefresh_->setObjectName("btnBcastRefresh");
  btnBcastRefresh_->setToolTip(tr("Refresh Broadcast Summary"));
  for (QWidget* w : std::initializer_list<QWidget*>{optBcastSent_, optBroadcasters_, chkBcastLowLevelDescr_, btnBcastRefresh_})
    fraOptions_->layout()->addWidget(w);
  static_cast<QHBoxLayout*>(fraOptions_->layout())->addStretch();
  lblTitle_ = titleLabel(tr("Summary of Broadcasts"), this);
  lblTitle_->setWordWrap(true);
  gridBcast_ = makeGrid("gridBcast", &model_, this);
  gridBcast_->setColumnWidth(BroadcastsModel::kLast15Column, 84);
  gridBcast_->setColumnWidth(BroadcastsModel::kLast1Column, 72);
  gridBcast_->setColumnWidth(BroadcastsModel::kDescriptionColumn, 330);
  stackTab(this, fraOptions_, lblTitle_, gridBcast_);

  sortOnHeaderClick(gridBcast_, &BroadcastsModel::sortError, [this](int column) { model_.sort(column); });
  connect(btnBcastRefresh_, &QPushButton::clicked, this, &BroadcastsTab::refresh);
  for (QRadioButton* b : {optBcastSent_, optBroadcasters_})
    connect(b, &QRadioButton::toggled, this, [this](bool on) { if (on && session_.isOpen()) refresh(); });
  connect(chkBcastLowLevelDescr_, &QCheckBox::toggled, this, [this] { if (session_.isOpen()) refresh(); });

  menu_ = new PartnerMenu("mnuPopupStats", true, this);
  connect(gridBcast_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { menu_->popupFor(gridBcast_, at); });
  connect(menu_, &PartnerMenu::detailsRequested, this, &BroadcastsTab::detailsRequested);
  connect(menu_, &PartnerMenu::commandRequested, this, &BroadcastsTab::commandRequested);
  connect(menu_, &PartnerMenu::consoleRequested, this, &BroadcastsTab::consoleRequested);
}

QString BroadcastsTab::title() const { return lblTitle_->text(); }

void BroadcastsTab::showSentView(bool sent) { (sent ? optBcastSent_ : optBroadcasters_)->setChecked(true); }

void BroadcastsTab::clearRows() { model_.clear(); }

void BroadcastsTab::refresh() {
  const bool sent = optBcastSent_->isChecked();
  const bool low = chkBcastLowLevelDescr_->isChecked();
  model_.setView(sent, low);
  RequestJob job{QLatin1String(sent ? "BCASTSENT" : "BCASTERS") + QLatin1String(low ? " LOW" : " HIGH"),
                 {{{'B', 'H', 'D', 'R'}, sizeof(BroadcastHeaderRecord), ReadStep::One},
                  {{'B', 'E', 'N', 'T'}, sizeof(BroadcastEntryRecord), ReadStep::WhileTag}},
                 {}};
  session_.send(std::move(job), this, [this, sent](const Reply& reply) {
    if (!reply.ok) {
      showMessage(window(), tr("VELTRIS ERROR - Request failure"));
      return;
    }
    BroadcastHeaderRecord header{};
    if (!reply.first(0, header) || std::memcmp(header.tag, kBroadcastHeaderTag, 4) != 0) {
      showMessage(window(), tr("VELTRIS ERROR - Reply failure"));
      return;
    }
    lblTitle_->setText(broadcastSummary(
        sent, header.windowCount.get(), header.entryCount.get(), serverName_,
        QString::fromLatin1(header.windowStart, static_cast<qsizetype>(strnlen(header.windowStart, sizeof header.windowStart))),
        QString::fromLatin1(header.now, static_cast<qsizetype>(strnlen(header.now, sizeof header.now)))));
    model_.setEntries(reply.records<BroadcastEntryRecord>(1));
  });
}

}  // namespace veltris::console
