#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <stdexcept>

// A picture that could not be read or written.
class TPictureError : public std::runtime_error {
  public:
    explicit TPictureError(const std::string& what, bool unreadable = false)
        : std::runtime_error(what), Unreadable(unreadable) {}
    // The bytes were no picture (as opposed to a file that could not be written).
    bool Unreadable;
};

// Draws the watermark text on a picture and writes it as a JPEG (quality 100) at `path`: the
// picture (its first frame) unscaled on a transparent 72-dpi ARGB canvas of its size, then the
// text in bold 24-pixel Arial (or its metric twin), centred on x = width / 2 with its line's top
// at y: a translucent black shadow at (x + 1, 27), translucent white at (x, 26). Raises
// TPictureError when the bytes are no picture or the file cannot be written.
void DrawWatermark(const QString& text, const QString& path, const QByteArray& picture);

// Writes downloaded picture bytes to `path`: unchanged when the watermark text is empty, else
// through DrawWatermark. Raises TPictureError when they cannot be written (or, with a watermark,
// read as a picture).
void WritePicture(const QString& watermark, const QString& path, const QByteArray& picture);

// The canvas DrawWatermark writes, before JPEG encoding.
QImage WatermarkCanvas(const QString& text, const QImage& picture);
