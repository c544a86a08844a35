#include "tray/pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace veltris::tray {
namespace {

enum class Mark { Tick, Question, Cross, Exclamation, Dash };

struct Design {
  QColor fill;
  Mark mark;
};

Design designOf(Picture p) {
  switch (p) {
    case Picture::BroadcastReceived: return {QColor(0, 255, 255), Mark::Tick};
    case Picture::Session: return {QColor(0, 200, 0), Mark::Tick};
    case Picture::BroadcastSent: return {QColor(255, 255, 0), Mark::Question};
    case Picture::NotReceiving: return {QColor(255, 0, 255), Mark::Cross};
    case Picture::Error: return {QColor(255, 0, 0), Mark::Exclamation};
    case Picture::Idle: break;
  }
  return {QColor(200, 200, 200), Mark::Dash};
}

void drawMark(QPainter& p, Mark mark, const QRectF& r) {
  const qreal w = r.width();
  QPen pen(Qt::black, std::max<qreal>(1.5, w / 7), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  auto at = [&r, w](qreal x, qreal y) { return QPointF(r.left() + x * w, r.top() + y * r.height()); };
  switch (mark) {
    case Mark::Tick: {
      QPainterPath path(at(0.2, 0.55));
      path.lineTo(at(0.42, 0.78));
      path.lineTo(at(0.82, 0.25));
      p.drawPath(path);
      break;
    }
    case Mark::Cross:
      p.drawLine(at(0.25, 0.25), at(0.75, 0.75));
      p.drawLine(at(0.75, 0.25), at(0.25, 0.75));
      break;
    case Mark::Dash: p.drawLine(at(0.25, 0.5), at(0.75, 0.5)); break;
    case Mark::Exclamation:
      p.drawLine(at(0.5, 0.18), at(0.5, 0.58));
      p.drawPoint(at(0.5, 0.8));
      break;
    case Mark::Question: {
      QPainterPath path(at(0.3, 0.33));
      path.cubicTo(at(0.3, 0.1), at(0.72, 0.1), at(0.7, 0.33));
      path.cubicTo(at(0.68, 0.48), at(0.5, 0.48), at(0.5, 0.62));
      p.drawPath(path);
      p.drawPoint(at(0.5, 0.82));
      break;
    }
  }
}

}  // namespace

QColor pictureColour(Picture picture) { return designOf(picture).fill; }

QPixmap trafficPixmap(Picture picture, int size, bool withLan) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const Design d = designOf(picture);
  const qreal side = withLan ? size * 0.62 : size * 0.8;
  const QRectF square((size - side) / 2, withLan ? 0.5 : (size - side) / 2, side, side);
  p.setPen(QPen(Qt::black, std::max(1.0, size / 32.0)));
  p.setBrush(d.fill);
  p.drawRect(square.adjusted(0.5, 0.5, -0.5, -0.5));
  drawMark(p, d.mark, square);
  if (withLan) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(5, static_cast<int>(size * 0.36)));
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(0, square.bottom(), size, size - square.bottom()), Qt::AlignCenter, QStringLiteral("LAN"));
  }
  return pixmap;
}

QIcon trayIcon(Picture picture) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(trafficPixmap(picture, size, true));
  return icon;
}

QIcon quickLookIcon(Picture picture) {
  QIcon icon;
  for (int size : {16, 20, 32, 48}) icon.addPixmap(trafficPixmap(picture, size, false));
  return icon;
}

QIcon noAgentIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap = trafficPixmap(Picture::Idle, size, true);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), std::max(1.0, size / 12.0)));
    const qreal s = size * 0.62;
    p.drawLine(QPointF(size * 0.19, 0.5), QPointF(size * 0.19 + s, s));
    icon.addPixmap(pixmap);
  }
  return icon;
}

QIcon applicationIcon() {
  QIcon icon;
  const QColor colours[6] = {Qt::green, Qt::yellow, Qt::red, Qt::white, Qt::cyan, Qt::blue};
  for (int size : {16, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::black);
    QPainter p(&pixmap);
    const qreal cell = size / 3.0;
    const qreal gap = std::max(1.0, size / 16.0);
    for (int i = 0; i < 6; ++i) {
      const qreal x = (i % 3) * cell + gap / 2;
      const qreal y = size / 2.0 - cell + (i / 3) * cell + gap / 2;
      p.fillRect(QRectF(x, y, cell - gap, cell - gap), colours[i]);
    }
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace veltris::tray
