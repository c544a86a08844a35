#pragma once
// What the grid tabs share: the read-only grid, its tab-separated text, the
// bold title, the options frame and the stacking of the three.
#include <QString>

#include <functional>

class QAbstractItemModel;
class QGroupBox;
class QLabel;
class QTableView;
class QWidget;

namespace veltris::console {

// A read-only grid with whole-row selection, a sortable or fixed header and a context menu.
QTableView* makeGrid(const char* objectName, QAbstractItemModel* model, QWidget* parent);
// The grid's rows (all, or the selected ones) as tab-separated text with its header line.
QString gridText(const QTableView* grid);
// The tab's bold title ("lblTitle").
QLabel* titleLabel(const QString& text, QWidget* parent);
// The tab's options frame ("fraOptions") with a row layout.
QGroupBox* optionsFrame(QWidget* parent, const QString& title = QString());
// Options above the title above the grid in its client area ("fraClientArea").
void stackTab(QWidget* tab, QWidget* options, QLabel* title, QTableView* grid);
// A click on a header sorts by that column, or shows `sortError`'s refusal.
// Text columns sort up; the time and the counters newest or largest first.
void sortOnHeaderClick(QTableView* grid, std::function<QString(int column)> sortError,
                       std::function<void(int column)> sort);

}  // namespace veltris::console
