#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// Draws the watermark text on a picture and writes it at `path` in the format its name says: the
// picture (its first frame) unscaled on a transparent 72-dpi ARGB canvas of its size, then the
// text in bold 24-pixel Arial (or its metric twin), centred on x = width / 2 with its line's top
// at y: a translucent black shadow at (x + 1, 27), translucent white at (x, 26). A ".png" picture
// is written as PNG (its transparency kept), ".bmp" as BMP; a ".gif" one (which cannot be
// written as GIF) as PNG under the same name with ".png" instead; every other name (".jpg",
// ".jpeg", the package's ".tbi") as JPEG of quality 100. Returns the path written. Fails with
// TErrc::BadReply when the bytes are no picture, TErrc::Io when the file cannot be written.
TResult<QString> DrawWatermark(const QString& text, const QString& path, const QByteArray& picture);

// Writes downloaded picture bytes to `path`: unchanged when the watermark text is empty, else
// through DrawWatermark. Returns the path written; fails as DrawWatermark does.
TResult<QString> WritePicture(const QString& watermark, const QString& path, const QByteArray& picture);

// The canvas DrawWatermark writes, before it is encoded.
QImage WatermarkCanvas(const QString& text, const QImage& picture);
