#pragma once
// The grids' right-click menu (mnuPopupStats on the sessions and broadcasts
// grids, mnuPopupDetails on the errors and details grids): commands for the
// clicked row's computer, captioned with its name, and the grid's text to the
// clipboard.
#include <QMenu>

class QTableView;

namespace veltris::console {

class PartnerMenu : public QMenu {
  Q_OBJECT
 public:
  // `withDetails`: "Details for name/addr" comes first.
  PartnerMenu(const char* objectName, bool withDetails, QWidget* parent);
  // Captions and states for the row at `at` (viewport coordinates of `grid`), then the menu.
  void popupFor(QTableView* grid, const QPoint& at);

 signals:
  void detailsRequested();
  // "PING name" or "NET VIEW \\name", to run on the Test tab.
  void commandRequested(const QString& command);
  // "VELTRIS name": another console watching that computer.
  void consoleRequested(const QString& name);

 private:
  QAction* details_ = nullptr;
  QAction* ping_;
  QAction* netView_;
  QAction* veltris_;
  QString clickedName_;
  QTableView* clickedGrid_ = nullptr;
};

}  // namespace veltris::console
