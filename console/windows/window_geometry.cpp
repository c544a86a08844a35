#include "console/windows/window_geometry.h"

#include <algorithm>

namespace veltris::console {
namespace {

// Room for the window manager's frame around the client area.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 40;
constexpr int kSmallest = 200;

QSize fittedSize(QSize wanted, const QRect& available) {
  const int width = std::max(kSmallest, available.width() - kFrameWidth);
  const int height = std::max(kSmallest, available.height() - kFrameHeight);
  return {std::min(wanted.width(), width), std::min(wanted.height(), height)};
}

}  // namespace

QRect defaultMainGeometry(const QRect& available) {
  QRect r(QPoint(0, 0), fittedSize({kDesignWidth, kDesignHeight}, available));
  r.moveCenter(available.center());
  return r;
}

QRect fittedGeometry(const QRect& wanted, const QRect& available) {
  if (!wanted.isValid()) return defaultMainGeometry(available);
  QRect r(wanted.topLeft(), fittedSize(wanted.size(), available));
  // Moved inside the screen; the top-left corner wins where both ends cannot.
  if (r.right() > available.right()) r.moveRight(available.right());
  if (r.bottom() > available.bottom()) r.moveBottom(available.bottom());
  if (r.left() < available.left()) r.moveLeft(available.left());
  if (r.top() < available.top()) r.moveTop(available.top());
  return r;
}

}  // namespace veltris::console
