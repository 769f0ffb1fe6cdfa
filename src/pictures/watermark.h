#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// Draws the watermark text on a picture and writes it as a JPEG (quality 100) at `path`: the
// picture (its first frame) unscaled on a transparent 72-dpi ARGB canvas of its size, then the
// text in bold 24-pixel Arial (or its metric twin), centred on x = width / 2 with its line's top
// at y: a translucent black shadow at (x + 1, 27), translucent white at (x, 26). Fails with
// TErrc::BadReply when the bytes are no picture, TErrc::Io when the file cannot be written.
TStatus DrawWatermark(const QString& text, const QString& path, const QByteArray& picture);

// Writes downloaded picture bytes to `path`: unchanged when the watermark text is empty, else
// through DrawWatermark. Fails as DrawWatermark does.
TStatus WritePicture(const QString& watermark, const QString& path, const QByteArray& picture);

// The canvas DrawWatermark writes, before JPEG encoding.
QImage WatermarkCanvas(const QString& text, const QImage& picture);
