#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap DrawPlatter(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // The platter.
  QRadialGradient shine(QPointF(s * 0.4, s * 0.38), s * 0.55);
  shine.setColorAt(0, QColor(235, 238, 245));
  shine.setColorAt(1, QColor(120, 130, 150));
  p.setPen(QPen(QColor(60, 66, 80), qMax<qreal>(1, s / 24)));
  p.setBrush(shine);
  p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  // A recovered track, in the program's green.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(40, 150, 70), qMax<qreal>(1.5, s / 14)));
  p.drawArc(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6), 30 * 16, 200 * 16);
  // The hub.
  p.setPen(QPen(QColor(60, 66, 80), qMax<qreal>(1, s / 32)));
  p.setBrush(QColor(70, 78, 95));
  p.drawEllipse(QRectF(s * 0.42, s * 0.42, s * 0.16, s * 0.16));
  // The head arm.
  p.setPen(QPen(QColor(180, 120, 30), qMax<qreal>(1.5, s / 12), Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.88, s * 0.9), QPointF(s * 0.62, s * 0.36));
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(DrawPlatter(size));
  return icon;
}
