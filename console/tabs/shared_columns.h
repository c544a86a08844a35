#pragma once
// Columns 1-5 (station, protocol, role, name, time) of the sessions,
// broadcasts, errors and details grids share their widths: a grid's widths go
// to the others when another tab is opened, and are kept in the settings.
#include <QList>
#include <QObject>

class QTableView;

namespace veltris::console {

class SharedColumns : public QObject {
 public:
  static constexpr int kFirst = 1;
  static constexpr int kLast = 5;

  SharedColumns(QList<QTableView*> grids, QObject* parent) : QObject(parent), grids_(std::move(grids)) {}

  // `grid` is shown now (nullptr: a tab without a shared grid); the widths of
  // the grid shown before (above 0) go to the others.
  void gridShown(QTableView* grid);
  // The width of `column` in the shown grid, else in the first.
  int width(int column) const;
  void setWidth(int column, int width);

 private:
  QList<QTableView*> grids_;
  QTableView* shown_ = nullptr;
};

}  // namespace veltris::console
