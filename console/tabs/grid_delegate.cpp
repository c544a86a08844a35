#include "console/tabs/grid_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QWidget>

namespace veltris::console {
namespace {

// Styles whose view items are the common style's: background panel, then the text.
bool paintsCommonItems(const QStyle* style) {
  if (style->inherits("QStyleSheetStyle")) return false;
  const QString name = style->name();
  return name.compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 ||
         name.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0;
}

bool plainTextCell(const QStyleOptionViewItem& opt) {
  constexpr auto extras = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
                          QStyleOptionViewItem::WrapText;
  return !(opt.features & extras) && !(opt.state & (QStyle::State_HasFocus | QStyle::State_Editing)) &&
         !opt.text.contains(QChar::LineSeparator) && !opt.text.contains(QLatin1Char('\n'));
}

// The text in the pen the style gives it, placed as the style places it.
void drawText(QPainter* painter, const QStyleOptionViewItem& opt, const QTextLayout& layout, const QRect& textRect) {
  if (opt.text.isEmpty()) return;
  QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
  if (group == QPalette::Normal && !(opt.state & QStyle::State_Active)) group = QPalette::Inactive;
  painter->setPen(opt.palette.color(group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                               : QPalette::Text));
  const QRect placed = QStyle::alignedRect(opt.direction, opt.displayAlignment & Qt::AlignVertical_Mask,
                                           QSize(textRect.width(), int(layout.boundingRect().height())), textRect);
  layout.draw(painter, QPointF(textRect.x(), placed.y()));
}

}  // namespace

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QWidget* widget = opt.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  if (!paintsCommonItems(style) || !plainTextCell(opt)) {
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    return;
  }
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
  QTextLayout layout(opt.text, opt.font);
  layout.setCacheEnabled(true);  // drawn with the glyphs of its layout, not shaped again
  if (!opt.text.isEmpty()) {
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(opt.direction);
    textOption.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(textRect.width());
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    if (line.naturalTextWidth() > textRect.width()) {  // the style elides it
      style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
      return;
    }
  }
  // The panel is the selection or the cell's own background; a plain cell has neither.
  const bool panel = opt.state & QStyle::State_Selected || opt.backgroundBrush.style() != Qt::NoBrush;
  if (!panel && opt.text.isEmpty()) return;  // nothing the style would draw
  if (panel || painter->hasClipping()) {
    painter->save();
    painter->setClipRect(opt.rect);
    if (panel) style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    drawText(painter, opt, layout, textRect);
    painter->restore();
  } else {  // only the pen and the clip change: put them back by hand, cheaper than save()
    const QPen pen = painter->pen();
    painter->setClipRect(opt.rect);
    drawText(painter, opt, layout, textRect);
    painter->setClipping(false);
    painter->setPen(pen);
  }
}

}  // namespace veltris::console
