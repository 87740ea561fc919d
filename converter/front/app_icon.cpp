#include "converter/front/app_icon.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QRectF>
#include <initializer_list>

namespace reel {
namespace {

// Drawn on a 64-unit square and scaled to the size asked for.
constexpr double kDesignSize = 64.0;
constexpr int kHolesPerEdge = 5;

void DrawFilmStrip(QPainter& painter) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x26, 0x26, 0x2e));
  painter.drawRoundedRect(QRectF(4, 6, 56, 52), 5, 5);
  painter.setBrush(QColor(0xf2, 0xf2, 0xf2));
  const double pitch = 56.0 / kHolesPerEdge;
  for (int i = 0; i < kHolesPerEdge; ++i) {
    const double x = 4 + pitch * i + (pitch - 6) / 2;
    painter.drawRoundedRect(QRectF(x, 9, 6, 5), 1.2, 1.2);
    painter.drawRoundedRect(QRectF(x, 50, 6, 5), 1.2, 1.2);
  }
}

void DrawPicture(QPainter& painter) {
  const QRectF picture(9, 17, 46, 30);
  painter.setBrush(QColor(0x4f, 0xa3, 0xe8));
  painter.drawRect(picture);
  painter.setBrush(QColor(0xff, 0xd2, 0x4a));
  painter.drawEllipse(QRectF(41, 20, 8, 8));
  QPainterPath hill;
  hill.moveTo(9, 47);
  hill.cubicTo(18, 31, 30, 33, 38, 40);
  hill.cubicTo(44, 35, 50, 35, 55, 39);
  hill.lineTo(55, 47);
  hill.closeSubpath();
  painter.setBrush(QColor(0x3c, 0xa0, 0x55));
  painter.drawPath(hill);
}

}  // namespace

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / kDesignSize, size / kDesignSize);
  DrawFilmStrip(painter);
  DrawPicture(painter);
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
  return icon;
}

}  // namespace reel
