#include "pictures/watermark.h"

#include "platform/files.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

namespace {

// 72 dots per inch: one point is one pixel.
constexpr int DotsPerMeter72 = 2835;

QFont watermarkFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(24);
    font.setBold(true);
    return font;
}

// Draws `text` centred on x with the top of its line at y.
void drawCentred(QPainter& painter, const QString& text, qreal x, qreal y, QRgb colour) {
    const QFontMetricsF metrics(painter.font());
    painter.setPen(QColor::fromRgba(colour));
    painter.drawText(QPointF(x - metrics.horizontalAdvance(text) / 2, y + metrics.ascent()), text);
}

} // namespace

QImage WatermarkCanvas(const QString& text, const QImage& picture) {
    const int w = picture.width(), h = picture.height();
    QImage canvas(w, h, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    canvas.setDotsPerMeterX(DotsPerMeter72);
    canvas.setDotsPerMeterY(DotsPerMeter72);
    QPainter painter(&canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.drawImage(QRect(0, 0, w, h), picture, QRect(0, 0, w, h));
    painter.setFont(watermarkFont());
    const qreal x = w / 2.0;
    drawCentred(painter, text, x + 1, 27, 0x99000000);
    drawCentred(painter, text, x, 26, 0x99FFFFFF);
    painter.end();
    return canvas;
}

TStatus DrawWatermark(const QString& text, const QString& path, const QByteArray& picture) {
    const QImage image = QImage::fromData(picture); // the first frame of an animated picture
    if (image.isNull())
        return MakeError(TErrc::BadReply, QStringLiteral("the bytes are no picture"));
    if (!QImageWriter::supportedImageFormats().contains("jpeg"))
        return {}; // without a JPEG encoder nothing is written
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!WatermarkCanvas(text, image).save(&buffer, "JPEG", 100))
        return MakeError(TErrc::Io, QStringLiteral("the picture could not be encoded"));
    return WriteWholeFile(path, jpeg);
}

TStatus WritePicture(const QString& watermark, const QString& path, const QByteArray& picture) {
    if (!watermark.isEmpty())
        return DrawWatermark(watermark, path, picture);
    return WriteWholeFile(path, picture);
}
