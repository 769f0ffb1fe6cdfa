#include "gui/appicon.h"

#include <QPainter>
#include <QPainterPath>

QImage DrawAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    // The tile.
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0xFF, 0x7A, 0x1A));
    tile.setColorAt(1, QColor(0xF0, 0x4E, 0x00));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);
    // The parcel: a box with its lid and a band.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(52, 92, 152, 116), 12, 12);
    p.drawRoundedRect(QRectF(44, 70, 168, 34), 10, 10);
    p.setBrush(QColor(0xF0, 0x4E, 0x00));
    p.drawRect(QRectF(118, 70, 20, 138));
    // The tag with its "T".
    QPainterPath tag;
    tag.addRoundedRect(QRectF(150, 34, 70, 62), 10, 10);
    p.setBrush(QColor(0x2B, 0x2B, 0x2B));
    p.drawPath(tag);
    p.setPen(QPen(Qt::white, 11, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(166, 50), QPointF(204, 50));
    p.drawLine(QPointF(185, 50), QPointF(185, 82));
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
    return icon;
}
