#include "console/tabs/packets_tab.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include "common/detail_record.h"
#include "console/core/desktop_layer.h"
#include "console/tabs/grid_view.h"
#include "console/tabs/partner_menu.h"

namespace veltris::console {

PacketsTab::PacketsTab(Kind kind, AgentSession& session, QWidget* parent)
    : QWidget(parent), kind_(kind), session_(session) {
  const bool errors = kind_ == Errors;
  setObjectName(errors ? "tabErrors" : "tabDetails");
  fraOptions_ = optionsFrame(this);
  chkLowLevel_ = new QCheckBox(tr("Low Level Description"), fraOptions_);
  chkLowLevel_->setObjectName(errors ? "chkErrorsLowLevelDescr" : "chkLowLevelDescr");
  fraOptions_->layout()->addWidget(chkLowLevel_);
  chkExcludeRecvBC_ = nullptr;
  if (!errors) {
    chkExcludeRecvBC_ = new QCheckBox(tr("Exclude Recv Broadcasts (<<)"), fraOptions_);
    chkExcludeRecvBC_->setObjectName("chkExcludeRecvBC");
    chkExcludeRecvBC_->setToolTip(tr("Exclude Received Broadcasts"));
    fraOptions_->layout()->addWidget(chkExcludeRecvBC_);
  }
  btnRefresh_ = new QPushButton(tr("&Refresh"), fraOptions_);
  btnRefresh_->setObjectName(errors ? "btnErrorRefresh" : "btnRefresh");
  btnRefresh_->setToolTip(errors ? tr("Refresh Details for Last 200 Packets") : tr("Refresh Details for Last 300 Packets"));
  btnClear_ = new QPushButton(tr("&Clear"), fraOptions_);
  btnClear_->setObjectName("btnClear");
  btnClear_->setToolTip(tr("Reset Counters"));
  fraOptions_->layout()->addWidget(btnRefresh_);
  fraOptions_->layout()->addWidget(btnClear_);
  static_cast<QHBoxLayout*>(fraOptions_->layout())->addStretch();
  lblTitle_ = titleLabel(errors ? tr("Last 200 Error Packets") : tr("Details of Last 300 Packets"), this);
  grid_ = makeGrid(errors ? "gridErrors" : "gridDetails", &model_, this);
  grid_->horizontalHeader()->setSectionsClickable(false);
  // Packet numbers run to ten digits.
  grid_->setColumnWidth(PacketsModel::kPktColumn, grid_->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 12);
  grid_->setColumnWidth(PacketsModel::kDirectionColumn, 44);
  grid_->setColumnWidth(PacketsModel::kSizeColumn, 44);
  grid_->setColumnWidth(PacketsModel::kDescriptionColumn, 333);
  grid_->setColumnWidth(PacketsModel::kLowLevelColumn, 333);
  grid_->setColumnWidth(PacketsModel::kDestinationColumn, 133);
  grid_->setColumnWidth(PacketsModel::kErrorTypeColumn, 133);
  showLowLevel(false);
  stackTab(this, fraOptions_, lblTitle_, grid_);

  connect(btnRefresh_, &QPushButton::clicked, this, qOverload<>(&PacketsTab::refresh));
  connect(btnClear_, &QPushButton::clicked, this, &PacketsTab::clearRequested);
  connect(chkLowLevel_, &QCheckBox::toggled, this, &PacketsTab::showLowLevel);
  if (chkExcludeRecvBC_ != nullptr)
    connect(chkExcludeRecvBC_, &QCheckBox::toggled, this, [this](bool on) { model_.setExcludeReceivedBroadcasts(on); });

  menu_ = new PartnerMenu("mnuPopupDetails", false, this);
  connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { menu_->popupFor(grid_, at); });
  connect(menu_, &PartnerMenu::commandRequested, this, &PacketsTab::commandRequested);
  connect(menu_, &PartnerMenu::consoleRequested, this, &PacketsTab::consoleRequested);
}

void PacketsTab::showLowLevel(bool lowLevel) {
  grid_->setColumnHidden(PacketsModel::kDescriptionColumn, lowLevel);
  grid_->setColumnHidden(PacketsModel::kLowLevelColumn, !lowLevel);
}

void PacketsTab::restartAfter(uint32_t sequence) {
  seen_ = sequence;
  model_.clear();
}

void PacketsTab::clearRows() { model_.clear(); }

void PacketsTab::refresh() { refresh(kind_ == Errors ? QStringLiteral("ERRORS") : QStringLiteral("DETAILS")); }

void PacketsTab::refresh(const QString& requested) {
  QString word = requested;
  if (word != QLatin1String("DETAILS") && word != QLatin1String("ERRORS")) {
    showMessage(window(), tr("DETAILS REQUEST ERROR"));
    word = QStringLiteral("DETAILS");
  }
  RequestJob job{word + signedText(static_cast<int32_t>(seen_)),
                 {{{'T', 'O', 'T', ' '}, sizeof(TotalsRecord), ReadStep::One},
                  {{'D', 'E', 'T', 'L'}, sizeof(DetailRecord), ReadStep::WhileTag}},
                 {},
                 {},
                 word};  // appends rows: one refresh at a time
  session_.send(std::move(job), this, [this](const Reply& reply) {
    const QString title = tr("ERROR in DETAILS");
    if (!reply.ok) {
      showMessage(window(), tr("Request for Total Stats FAILED"), title);
      return;
    }
    TotalsRecord totals{};
    if (!reply.first(0, totals) || reply.parts[0].firstReadFailed) {
      showMessage(window(), tr("Read of Total Stats FAILED"), title);
      return;
    }
    if (totals.sequence.get() == seen_) return;  // nothing new: the rows stay
    seen_ = totals.sequence.get();
    grid_->setUpdatesEnabled(false);
    model_.append(reply.records<DetailRecord>(1));
    grid_->setUpdatesEnabled(true);
    grid_->scrollToBottom();
  });
}

}  // namespace veltris::console
