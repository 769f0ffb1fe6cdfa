#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The text of a file as the user wrote it: a byte-order mark selects UTF-8 or UTF-16 (little or big
// endian); without one it is read as UTF-8 when its bytes are valid UTF-8 (as today's editors save
// them), else in the ANSI code page.
QString DecodeUserText(const QByteArray& bytes);

// The lines of a text file as the user wrote it, decoded by DecodeUserText. CR LF, CR and LF each end a
// line; a line break at the very end adds no empty line, and an empty file has no line. Lines are
// taken exactly as they stand (an empty line is an empty entry).
QStringList ReadTextLines(const QByteArray& bytes);
