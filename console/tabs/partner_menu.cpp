#include "console/tabs/partner_menu.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTableView>

#include "console/tabs/grid_view.h"

namespace veltris::console {
namespace {

// The name or address a grid row stands for: its host name, else the address
// of its protocol text ("IP 10.0.0.5" gives "10.0.0.5"; an IPv6 partner's text
// is its address, unless cut with "~"), else its station.
// A station that is a hardware address names no computer a command could reach.
struct RowName {
  QString text;
  bool reachable = false;
};

bool isHardwareAddress(const QString& station) {
  static const QRegularExpression mac(QStringLiteral("^[0-9A-Fa-f]{2}([-:.]?[0-9A-Fa-f]{2}){5}$"));
  return mac.match(station).hasMatch();
}

RowName rowName(const QAbstractItemModel* model, int row) {
  const QString name = model->index(row, 4).data().toString().trimmed();
  if (!name.isEmpty()) return {name, true};
  const QString protocol = model->index(row, 2).data().toString().trimmed();
  if (protocol.startsWith(QLatin1String("IP "))) return {protocol.mid(3).trimmed(), true};
  if (protocol.contains(QLatin1Char(':')) && !protocol.contains(QLatin1Char('~')) && !protocol.contains(QLatin1Char(' ')))
    return {protocol, true};
  const QString station = model->index(row, 1).data().toString().trimmed();
  return {station, !station.isEmpty() && !isHardwareAddress(station)};
}

}  // namespace

PartnerMenu::PartnerMenu(const char* objectName, bool withDetails, QWidget* parent) : QMenu(parent) {
  setObjectName(QLatin1String(objectName));
  if (withDetails) details_ = addAction(tr("Details for name/addr"), this, &PartnerMenu::detailsRequested);
  ping_ = addAction(tr("Ping name/addr"), this, [this] { emit commandRequested(tr("PING ") + clickedName_); });
  netView_ = addAction(tr("Net view \\\\name"), this, [this] { emit commandRequested(tr("NET VIEW \\\\") + clickedName_); });
  veltris_ = addAction(tr("VELTRIS name/addr"), this, [this] { emit consoleRequested(clickedName_); });
  addAction(tr("Copy to Clipboard"), this, [this] {
    if (clickedGrid_ != nullptr) QGuiApplication::clipboard()->setText(gridText(clickedGrid_));
  });
}

void PartnerMenu::popupFor(QTableView* grid, const QPoint& at) {
  clickedGrid_ = grid;
  const QModelIndex index = grid->indexAt(at);
  const RowName row = index.isValid() ? rowName(grid->model(), index.row()) : RowName{};
  clickedName_ = row.text;
  ping_->setText(tr("Ping ") + clickedName_);
  netView_->setText(tr("Net View \\\\") + clickedName_);
  veltris_->setText(tr("VELTRIS ") + clickedName_);
  for (QAction* a : {ping_, netView_, veltris_}) a->setEnabled(row.reachable);
  if (details_ != nullptr) details_->setEnabled(!clickedName_.isEmpty());
  popup(grid->viewport()->mapToGlobal(at));
}

}  // namespace veltris::console
