#pragma once
// The grids' item delegate: a one-line text cell (no check box, icon, focus
// frame or eliding) is painted as the style paints it, with one text layout
// instead of the style's several; every other cell, and every style but
// Fusion and Windows, goes through the style unchanged.
#include <QStyledItemDelegate>

namespace veltris::console {

class GridDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace veltris::console
