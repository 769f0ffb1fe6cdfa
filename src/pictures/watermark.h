#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <stdexcept>

// A picture that could not be read or written.
class TPictureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Draws the watermark text on a picture and writes it as a JPEG (quality 100) at `path`: the
// picture (its first frame) unscaled on a transparent 72-dpi ARGB canvas of its size, then the
// text in bold 24-pixel Arial (or its metric twin), centred on x = width / 2 with its line's top
// at y: a translucent black shadow at (x + 1, 27), translucent white at (x, 26). Raises
// TPictureError when the bytes are no picture or the file cannot be written.
void DrawWatermark(const QString& text, const QString& path, const QByteArray& picture);

// The canvas DrawWatermark writes, before JPEG encoding.
QImage WatermarkCanvas(const QString& text, const QImage& picture);
