#include "lanrelay/gui/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace gui {
namespace {

// The picture on a 64 x 64 grid: a blue tile with a board (white, with pins)
// and two arrows through it, the relay passing frames both ways.
QPixmap drawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

  painter.setBrush(QColor(0xf4, 0xf7, 0xfb));
  painter.drawRoundedRect(QRectF(18, 14, 28, 36), 3, 3);
  painter.setBrush(QColor(0xf4, 0xf7, 0xfb));
  for (int i = 0; i < 4; ++i) {
    painter.drawRect(QRectF(13, 18 + i * 8, 5, 3));
    painter.drawRect(QRectF(46, 18 + i * 8, 5, 3));
  }

  painter.setBrush(QColor(0x2e, 0xb8, 0x4e));
  QPainterPath right;
  right.moveTo(24, 23);
  right.lineTo(36, 23);
  right.lineTo(36, 18);
  right.lineTo(43, 26);
  right.lineTo(36, 34);
  right.lineTo(36, 29);
  right.lineTo(24, 29);
  right.closeSubpath();
  painter.drawPath(right);

  painter.setBrush(QColor(0xe8, 0x8a, 0x1a));
  QPainterPath left;
  left.moveTo(40, 38);
  left.lineTo(28, 38);
  left.lineTo(28, 33);
  left.lineTo(21, 41);
  left.lineTo(28, 49);
  left.lineTo(28, 44);
  left.lineTo(40, 44);
  left.closeSubpath();
  painter.drawPath(left);
  return pixmap;
}

}  // namespace

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128}) icon.addPixmap(drawIcon(size));
  return icon;
}

}  // namespace gui
