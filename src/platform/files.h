#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file through a temporary file beside it that is then renamed over the old one, so
// a crash or a full disk during the write leaves the previous file whole. Returns the empty text,
// or why the file could not be written.
QString WriteWholeFile(const QString& path, const QByteArray& bytes);
