#pragma once

#include <QByteArray>
#include <QStringList>

// The lines of a text file as the user wrote it: a byte-order mark selects UTF-8 or UTF-16 (little
// or big endian); without one the file is read in the ANSI code page. CR LF, CR and LF each end a
// line; a line break at the very end adds no empty line, and an empty file has no line. Lines are
// taken exactly as they stand (an empty line is an empty entry).
QStringList ReadTextLines(const QByteArray& bytes);
