#include "setup/pictures.h"

#include <QLinearGradient>
#include <QPainter>

namespace veltris::setup {

QPixmap applicationPicture(int size) {
  QPixmap picture(size, size);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawRoundedRect(QRectF(0, 0, size, size), size / 8.0, size / 8.0);
  const QColor colours[2][3] = {{QColor(0, 200, 0), QColor(240, 220, 0), QColor(220, 0, 0)},
                                {Qt::white, QColor(0, 220, 220), QColor(40, 80, 255)}};
  const double gap = size / 10.0, cell = (size - 4 * gap) / 3.0, top = (size - 2 * cell - gap) / 2.0;
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 3; ++column) {
      p.setBrush(colours[row][column]);
      p.drawRect(QRectF(gap + column * (cell + gap), top + row * (cell + gap), cell, cell));
    }
  return picture;
}

QIcon applicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(applicationPicture(size));
  return icon;
}

QPixmap bannerPicture(int width) {
  const int height = 64;
  QPixmap banner(width, height);
  QPainter p(&banner);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, width, 0);
  sky.setColorAt(0, QColor(10, 30, 90));
  sky.setColorAt(1, QColor(40, 110, 170));
  p.fillRect(banner.rect(), sky);
  p.drawPixmap(12, 8, applicationPicture(48));

  QFont title = p.font();
  title.setPixelSize(26);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(72, 6, width - 72, 34), Qt::AlignLeft | Qt::AlignVCenter, "VELTRIS");
  QFont subtitle = p.font();
  subtitle.setPixelSize(12);
  subtitle.setBold(false);
  p.setFont(subtitle);
  p.setPen(QColor(200, 220, 255));
  p.drawText(QRect(74, 38, width - 74, 18), Qt::AlignLeft | Qt::AlignVCenter, "LAN monitoring for this PC");

  // A row of traffic bars on the right: sent in green, received in cyan.
  const int bars = 14, barWidth = 6, right = width - 12;
  for (int i = 0; i < bars; ++i) {
    const int level = 10 + (i * 37 % 29) + (i % 3) * 6;
    const int x = right - (bars - i) * (barWidth + 3);
    p.fillRect(QRect(x, height - 8 - level, barWidth, level), i % 2 ? QColor(0, 220, 220) : QColor(0, 200, 0));
  }
  return banner;
}

}  // namespace veltris::setup
