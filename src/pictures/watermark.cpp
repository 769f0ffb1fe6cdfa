#include "pictures/watermark.h"

#include "platform/files.h"

#include <QBuffer>
#include <QFileInfo>
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

TResult<QString> DrawWatermark(const QString& text, const QString& path, const QByteArray& picture) {
    const QImage image = QImage::fromData(picture); // the first frame of an animated picture
    if (image.isNull())
        return MakeError(TErrc::BadReply, QStringLiteral("下载的内容不是图片"));
    // The name's format, so that a name never holds bytes of another kind.
    const QString suffix = QFileInfo(path).suffix().toLower();
    QString target = path;
    QByteArray format = "JPEG";
    if (suffix == u"png") {
        format = "PNG";
    } else if (suffix == u"bmp") {
        format = "BMP";
    } else if (suffix == u"gif") {
        format = "PNG";
        target = path.left(path.size() - suffix.size()) + QStringLiteral("png");
    }
    if (!QImageWriter::supportedImageFormats().contains(format.toLower()))
        return MakeError(TErrc::Io,
                         QStringLiteral("这台电脑不能写 %1 图片").arg(QString::fromLatin1(format)));
    QImage canvas = WatermarkCanvas(text, image);
    // JPEG and BMP hold no transparency: what was transparent comes out black, as it always has.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!canvas.save(&buffer, format.constData(), format == "JPEG" ? 100 : -1))
        return MakeError(TErrc::Io, QStringLiteral("图片无法编码"));
    if (const TStatus written = WriteWholeFile(target, bytes); !written)
        return written.error();
    return target;
}

TResult<QString> WritePicture(const QString& watermark, const QString& path, const QByteArray& picture) {
    if (!watermark.isEmpty())
        return DrawWatermark(watermark, path, picture);
    if (const TStatus written = WriteWholeFile(path, picture); !written)
        return written.error();
    return path;
}
